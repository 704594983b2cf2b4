#include "cli/event_sink.h"

#include "base/convert.h"
#include "base/printable.h"
#include "cli/console.h"
#include "cli/json_line.h"
#include "records/yield.h"
#include "session/operator_text.h"

#include <algorithm>

namespace cli {

namespace {

constexpr int kBarWidth = 30;

QString Name(ResultClass result) { return session::OutcomeName(result); }

QString Seconds(double seconds) { return QString::number(seconds, 'f', 1); }

// A line for people: a file's name or a box's text may hold control characters.
// A text of several lines (a database's reason) is shown as lines, each after
// the first indented under its port.
QByteArray Line(const QString &port, const QString &text) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  QString out = base::Printable(port + QStringLiteral(": ") + lines[0]);
  for (qsizetype i = 1; i < lines.size(); ++i)
    if (const QString line = lines[i].trimmed(); !line.isEmpty())
      out += QStringLiteral("\n  ") + base::Printable(line);
  return (out + '\n').toUtf8();
}

} // namespace

QString ResultText(const ResultInfo &info) {
  QString text = Name(info.result) + QStringLiteral(" after ") + Seconds(info.seconds) + QStringLiteral(" s");
  if (info.checksum)
    text += QStringLiteral(", ") + *info.checksum;
  if (info.mismatch)
    text += QStringLiteral(": address %1 written %2, read %3")
                .arg(base::IntToHex(info.mismatch->address, 4), base::IntToHex(info.mismatch->written, 2),
                     base::IntToHex(info.mismatch->read, 2));
  if (!info.reason.isEmpty())
    text += QStringLiteral(": ") + info.reason;
  if (info.result != ResultClass::Ok)
    text += QStringLiteral(" (exit %1)").arg(ExitCode(info.result));
  return text;
}

QString LotText(const LotInfo &lot) {
  if (!lot.error.isEmpty())
    return QStringLiteral("lot %1: its units cannot be counted: %2").arg(lot.lot, lot.error);
  QString text = QStringLiteral("lot %1: %2 passed, %3 failed, lot size %4")
                     .arg(lot.lot)
                     .arg(lot.passed)
                     .arg(lot.failed)
                     .arg(lot.lotSize);
  if (const double yield = records::YieldPercent(lot.passed, lot.failed); yield >= 0)
    text += QStringLiteral(", yield %1 %").arg(QString::number(yield, 'f', 1));
  if (lot.lotSize > 0 && lot.passed >= lot.lotSize)
    text += QStringLiteral(", complete");
  if (!lot.current)
    text += QStringLiteral(" (not current: the records server cannot be reached)");
  return text;
}

QString GangTally::SummaryLine() const {
  if (results_.size() < 2)
    return {};
  const auto ok =
      std::count_if(results_.begin(), results_.end(), [](const Entry &e) { return e.result == ResultClass::Ok; });
  QString line =
      (units_ ? QStringLiteral("%1 of %2 units ok") : QStringLiteral("%1 of %2 boxes ok")).arg(ok).arg(results_.size());
  QStringList failed;
  for (const Entry &e : results_)
    if (e.result != ResultClass::Ok)
      failed << e.port + QLatin1Char(' ') + Name(e.result);
  if (!failed.isEmpty())
    line += QStringLiteral("; failed: ") + failed.join(QStringLiteral(", "));
  return line;
}

// JSON Lines

void JsonEventSink::Unit(const QString &port, const UnitTag &tag) {
  if (tag.unitUid.isEmpty())
    units_.erase(port);
  else
    units_[port] = tag;
}

JsonLine JsonEventSink::Begin(const char *event, const QString &port) const {
  JsonLine line;
  line.Add("event", QString::fromLatin1(event)).Add("port", port);
  if (const auto unit = units_.find(port); unit != units_.end()) {
    line.Add("unit", unit->second.unitUid).Add("attempt", int64_t(unit->second.attempt));
    if (unit->second.serial.isEmpty())
      line.AddNull("serial");
    else
      line.Add("serial", unit->second.serial);
  }
  return line;
}

void JsonEventSink::Start(const QString &port, const QString &operation) {
  out_(Begin("start", port).Add("operation", operation).Text());
}

void JsonEventSink::Progress(const QString &port, int percent) {
  out_(Begin("progress", port).Add("percent", int64_t(percent)).Text());
}

void JsonEventSink::Message(const QString &port, const base::Message &message) {
  out_(Begin("message", port).Add("text", message.Designed()).Add("text_en", session::English(message)).Text());
}

void JsonEventSink::Result(const QString &port, const ResultInfo &info) {
  tally_.Add(port, info.result, info.unit || units_.contains(port));
  JsonLine line = Begin("result", port);
  line.Add("result", Name(info.result));
  line.AddFixed("seconds", info.seconds, 1);
  if (info.checksum)
    line.Add("checksum", *info.checksum);
  else
    line.AddNull("checksum");
  line.Add("exit", int64_t(ExitCode(info.result)));
  if (!info.reason.isEmpty())
    line.Add("reason", info.reason);
  if (info.mismatch) {
    line.Add("address", base::IntToHex(info.mismatch->address, 4));
    line.Add("written", base::IntToHex(info.mismatch->written, 2));
    line.Add("read", base::IntToHex(info.mismatch->read, 2));
  }
  out_(line.Text());
}

void JsonEventSink::Lot(const LotInfo &lot) {
  JsonLine line;
  line.Add("event", QStringLiteral("lot")).Add("lot", lot.lot);
  if (!lot.error.isEmpty()) {
    out_(line.Add("error", lot.error).Text());
    return;
  }
  line.Add("passed", int64_t(lot.passed)).Add("failed", int64_t(lot.failed)).Add("lot_size", int64_t(lot.lotSize));
  line.AddBool("complete", lot.lotSize > 0 && lot.passed >= lot.lotSize).AddBool("current", lot.current);
  if (const double yield = records::YieldPercent(lot.passed, lot.failed); yield < 0)
    line.AddNull("yield_percent");
  else
    line.AddFixed("yield_percent", yield, 1);
  out_(line.Text());
}

void JsonEventSink::Finish() {
  if (const QString summary = tally_.SummaryLine(); !summary.isEmpty())
    err_((summary + QLatin1Char('\n')).toUtf8());
}

// Human lines

HumanEventSink::HumanEventSink(OutputFn err, bool terminal, int columns)
    : err_(std::move(err)), terminal_(terminal), columns_(std::max(columns, 20)) {
  redrawTimer_.setSingleShot(true);
  QObject::connect(&redrawTimer_, &QTimer::timeout, &redrawTimer_, [this] { Draw(); });
}

HumanEventSink::Row &HumanEventSink::RowOf(const QString &port) {
  for (Row &row : rows_)
    if (row.port == port)
      return row;
  rows_.push_back(Row{port, {}, 0, 0, {}});
  return rows_.back();
}

QString HumanEventSink::RowText(const Row &row) const {
  qsizetype portWidth = 0, operationWidth = 0;
  for (const Row &r : rows_) {
    portWidth = std::max(portWidth, r.port.size());
    operationWidth = std::max(operationWidth, r.operation.size());
  }
  const int filled = std::clamp(row.percent, 0, 100) * kBarWidth / 100;
  QString text = row.port.leftJustified(portWidth) + QStringLiteral("  ") +
                 row.operation.leftJustified(operationWidth) + QStringLiteral("  [") +
                 QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('-')) +
                 QStringLiteral("] ") + QString::number(row.percent).rightJustified(3) + QStringLiteral(" %");
  if (!row.outcome.isEmpty())
    text += QStringLiteral("  ") + row.outcome;
  // A row that wrapped would take two lines and the block's height would be wrong.
  if (text.size() >= columns_)
    text = text.left(columns_ - 1);
  return text;
}

void HumanEventSink::Draw(const QByteArray &above) {
  redrawTimer_.stop();
  QByteArray out;
  if (drawnRows_ > 0)
    out += "\x1b[" + QByteArray::number(drawnRows_) + "F"; // to the block's first line
  if (!above.isEmpty())
    out += "\x1b[J" + above; // clear the block, the new lines take its place
  for (const Row &row : rows_)
    out += "\x1b[2K" + RowText(row).toUtf8() + '\n';
  drawnRows_ = int(rows_.size());
  sinceDraw_.start();
  err_(out);
}

void HumanEventSink::RedrawSoon() {
  if (!sinceDraw_.isValid() || sinceDraw_.elapsed() >= kRedrawIntervalMs) {
    Draw();
    return;
  }
  if (!redrawTimer_.isActive())
    redrawTimer_.start(int(kRedrawIntervalMs - sinceDraw_.elapsed()));
}

void HumanEventSink::Unit(const QString &port, const UnitTag &tag) {
  if (tag.unitUid.isEmpty())
    units_.erase(port);
  else
    units_[port] = tag;
}

QString HumanEventSink::UnitPrefix(const QString &port) const {
  const auto unit = units_.find(port);
  if (unit == units_.end() || unit->second.serial.isEmpty())
    return {};
  return QStringLiteral("unit ") + unit->second.serial + QLatin1Char(' ');
}

void HumanEventSink::Start(const QString &port, const QString &operation) {
  Row &row = RowOf(port);
  row.operation = operation;
  row.percent = 0;
  row.shownDecile = 0;
  row.outcome.clear();
  if (terminal_)
    Draw();
  else
    err_(Line(port, UnitPrefix(port) + operation + QStringLiteral(" started")));
}

void HumanEventSink::Progress(const QString &port, int percent) {
  Row &row = RowOf(port);
  if (row.percent == percent)
    return;
  row.percent = percent;
  if (terminal_) {
    RedrawSoon();
    return;
  }
  const int decile = std::clamp(percent, 0, 100) / 10;
  if (decile > row.shownDecile) {
    row.shownDecile = decile;
    err_(Line(port, row.operation + QLatin1Char(' ') + QString::number(decile * 10) + QStringLiteral(" %")));
  }
}

void HumanEventSink::Message(const QString &port, const base::Message &message) {
  if (terminal_)
    Draw(Line(port, session::Shown(message)));
  else
    err_(Line(port, session::Shown(message)));
}

void HumanEventSink::Result(const QString &port, const ResultInfo &info) {
  tally_.Add(port, info.result, info.unit || units_.contains(port));
  Row &row = RowOf(port);
  row.outcome = Name(info.result);
  if (terminal_)
    Draw(Line(port, UnitPrefix(port) + ResultText(info)));
  else
    err_(Line(port, UnitPrefix(port) + ResultText(info)));
}

void HumanEventSink::Lot(const LotInfo &lot) {
  const QByteArray line = (LotText(lot) + QLatin1Char('\n')).toUtf8();
  if (terminal_)
    Draw(line);
  else
    err_(line);
}

void HumanEventSink::Finish() {
  if (terminal_ && redrawTimer_.isActive())
    Draw();
  if (const QString summary = tally_.SummaryLine(); !summary.isEmpty())
    err_((summary + QLatin1Char('\n')).toUtf8());
}

std::unique_ptr<EventSink> MakeEventSink(bool json) {
  if (json)
    return std::make_unique<JsonEventSink>(WriteStdout, WriteStderr);
  const bool terminal = StderrIsTerminal();
  return std::make_unique<HumanEventSink>(WriteStderr, terminal, terminal ? StderrColumns() : 80);
}

} // namespace cli
