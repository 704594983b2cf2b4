#include "records/unit_row.h"

#include "records/record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace records {

namespace {

QJsonObject UnitJson(const UnitRow &u) {
  return {{"unit_uid", u.unitUid},       {"job_name", u.jobName},  {"job_sha256", u.jobSha256},
          {"lot", u.lot},                {"station", u.station},   {"host", u.host},
          {"port", u.port},              {"serial", u.serial},     {"started_at", TimeText(u.startedAt)},
          {"ended_at", TimeText(u.endedAt)}, {"verdict", u.verdict}, {"result", u.result},
          {"attempts", u.attempts},      {"holds_until", TimeText(u.holdsUntil)}, {"operator", u.operatorName}};
}

UnitRow UnitOf(const QJsonObject &o) {
  UnitRow u;
  u.unitUid = o.value("unit_uid").toString();
  u.jobName = o.value("job_name").toString();
  u.jobSha256 = o.value("job_sha256").toString();
  u.lot = o.value("lot").toString();
  u.station = o.value("station").toString();
  u.host = o.value("host").toString();
  u.port = o.value("port").toString();
  u.serial = o.value("serial").toString();
  u.startedAt = TimeFromText(o.value("started_at").toString());
  u.endedAt = TimeFromText(o.value("ended_at").toString());
  u.verdict = o.value("verdict").toString();
  u.result = o.value("result").toString();
  u.attempts = o.value("attempts").toInteger();
  u.holdsUntil = TimeFromText(o.value("holds_until").toString());
  u.operatorName = o.value("operator").toString();
  return u;
}

} // namespace

QByteArray ToJson(const UnitOp &op) {
  QJsonArray numbers;
  for (const NumberChange &n : op.numbers)
    numbers.append(QJsonObject{{"pool", n.pool},
                               {"idx", n.idx},
                               {"host", n.host},
                               {"station", n.station},
                               {"state", n.state},
                               {"value", n.value},
                               {"unit_uid", n.unitUid}});
  const QJsonObject o{{"kind", int(op.kind)}, {"unit", UnitJson(op.unit)}, {"numbers", numbers},
                      {"lot_size", op.lotSize}, {"host", op.host},          {"station", op.station},
                      {"holder", op.holder},    {"pid", op.pid},            {"boot", op.boot},
                      {"since", TimeText(op.since)}};
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<UnitOp> UnitOpFromJson(const QByteArray &json) {
  const QJsonDocument doc = QJsonDocument::fromJson(json);
  if (!doc.isObject())
    return std::nullopt;
  const QJsonObject o = doc.object();
  const int kind = o.value("kind").toInt(-1);
  if (kind < int(UnitOp::Kind::Start) || kind > int(UnitOp::Kind::Settle))
    return std::nullopt;
  UnitOp op;
  op.kind = UnitOp::Kind(kind);
  op.unit = UnitOf(o.value("unit").toObject());
  for (const QJsonValue &v : o.value("numbers").toArray()) {
    const QJsonObject n = v.toObject();
    op.numbers.push_back({n.value("pool").toString(), n.value("idx").toInteger(-1), n.value("host").toString(),
                          n.value("station").toString(), n.value("state").toString(), n.value("value").toString(),
                          n.value("unit_uid").toString()});
  }
  op.lotSize = o.value("lot_size").toInt();
  op.host = o.value("host").toString();
  op.station = o.value("station").toString();
  op.holder = o.value("holder").toString();
  op.pid = o.value("pid").toInteger();
  op.boot = o.value("boot").toString();
  op.since = TimeFromText(o.value("since").toString());
  return op;
}

} // namespace records
