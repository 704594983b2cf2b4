#include "session/attempt_records.h"

#include "base/convert.h"
#include "base/version.h"
#include "records/recorder.h"

#include <QCryptographicHash>

records::Record MakeRecord(const Attempt &attempt, records::Record details, const QString &frontEnd) {
  records::Record r = std::move(details);
  r.startedAt = attempt.startedAt;
  r.finishedAt = attempt.finishedAt;
  r.frontEnd = frontEnd;
  r.operation = BoxOperationName(attempt.operation);
  r.result = OutcomeName(attempt.end.outcome);
  r.message = attempt.end.message;
  r.bytesSent = qint64(attempt.bytesSent);
  r.durationMs = attempt.startedAt.msecsTo(attempt.finishedAt);
  r.programVersion = QString::fromUtf8(ProgramVersion());
  return r;
}

QString ModeName(int modeItem) { return modeItem == 0 ? QStringLiteral("online") : QStringLiteral("offline"); }

QString PowerName(int powerItem) {
  switch (powerItem) {
  case 0:
    return QStringLiteral("5v");
  case 1:
    return QStringLiteral("off");
  default:
    return {};
  }
}

QString Sha256Hex(const QByteArray &bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString SectorsText(uint32_t mask) { return IntToHex(mask, 8); }

AttemptRecords::AttemptRecords(records::Recorder *recorder, QString frontEnd)
    : recorder_(recorder), frontEnd_(std::move(frontEnd)) {}

void AttemptRecords::Watch(BoxSession &session, std::function<records::Record(const Attempt &)> details) {
  QObject::connect(&session, &BoxSession::AttemptFinished, &session,
                   [this, details = std::move(details)](const Attempt &attempt) { Add(attempt, details(attempt)); });
}

void AttemptRecords::Add(const Attempt &attempt, const records::Record &details) {
  if (recorder_)
    recorder_->Add(MakeRecord(attempt, details, frontEnd_));
}
