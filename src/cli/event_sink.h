#pragma once
// Where the command line reports what its box sessions do. The sessions feed
// one EventSink on the event loop's thread; the sink decides the form:
//
// - HumanEventSink: lines for people on standard error. On a terminal every
//   box has one line (port, operation, progress bar, percent, outcome), and
//   the block of those lines is redrawn in place with ANSI cursor movement, at
//   most 10 times a second; messages and results scroll above the block.
//   Elsewhere (a pipe, a file, TERM=dumb) plain lines: a start line, one line
//   per 10 % of progress, messages and results. Messages are shown in the
//   language in use (base/language.h).
// - JsonEventSink: standard output carries JSON Lines only, one compact
//   object per event, each with "event" and "port":
//     start     "operation"
//     progress  "percent"
//     message   "text" (the window's exact text, UTF-8, in the designed
//               language whatever --lang says, so scripts can match it) and
//               "text_en" (its English)
//     result    "result" (an OutcomeName), "seconds" (one decimal), "checksum"
//               (the label text or null), "exit" (the box's own status),
//               "reason" when there is one, and for verify-mismatch
//               "address" (four hex digits), "written", "read" (two each)
//     lot       after the last result of a job run: "lot", "passed",
//               "failed", "lot_size", "complete" (passed reached the lot
//               size), "current" (false: the server was out of reach, its
//               last count and this station's spool), "yield_percent" (one
//               decimal, null before any unit), or "error" when the records
//               cannot be read
//   In a job run (`run --job`) every event of a box that works on a unit also
//   carries "unit" (its identifier, as the records keep it), "attempt" (1 for
//   the first) and "serial" (the unit's serial number, or null).
//
// Both write the summary line of a gang (several boxes) on standard error
// when Finish is called. Output goes through OutputFn, so tests capture it.

#include "base/message.h"
#include "cli/json_line.h"
#include "cli/result_class.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace cli {

struct ResultInfo {
  ResultClass result = ResultClass::Ok;
  double seconds = 0;
  std::optional<QString> checksum; // the checksum label's text, for operations that have one
  std::optional<session::Mismatch> mismatch;
  QString reason; // why it failed, as it was found: the system's error text, the box's answer
  bool unit = false; // the result of a unit (a job run's, a load's with serial numbers): counted as units
};

// A job run's lot at its end, as the records count it.
struct LotInfo {
  QString lot;
  qint64 passed = 0;
  qint64 failed = 0;
  int lotSize = 0;
  bool current = true; // false: the server's last count and this station's spool
  QString error; // not empty: the records could not be counted, and why
};

// The unit a box of a job run works on, and which attempt.
struct UnitTag {
  QString unitUid;
  int attempt = 0;
  QString serial; // empty: none
};

class EventSink {
public:
  virtual ~EventSink() = default;
  // The port's events from now on are of this unit and attempt; a tag
  // without a unit: of no unit.
  virtual void Unit(const QString &port, const UnitTag &tag) {
    (void)port;
    (void)tag;
  }
  virtual void Start(const QString &port, const QString &operation) = 0;
  virtual void Progress(const QString &port, int percent) = 0;
  virtual void Message(const QString &port, const base::Message &message) = 0;
  virtual void Result(const QString &port, const ResultInfo &info) = 0;
  // After the last result of a job run, before Finish: the lot's counters.
  virtual void Lot(const LotInfo &lot) = 0;
  // After the last result: the summary line when there were several boxes.
  virtual void Finish() = 0;
};

using OutputFn = std::function<void(const QByteArray &)>;

// "lot L-49: 12 passed, 1 failed, lot size 500, yield 92.3 %".
QString LotText(const LotInfo &lot);

// "ok after 12.3 s, CheckSum:  0x0012ABCD"; "verify-mismatch after 3.1 s:
// address 1234 written A5, read FF (exit 6)"; "no-answer after 120.0 s:
// <reason> (exit 7)".
QString ResultText(const ResultInfo &info);

// The results of a gang in the order they came, and its summary line:
// "3 of 4 boxes ok; failed: /dev/ttyUSB2 verify-mismatch". Empty for one
// result. Results of units (a job run's, or a load's with serial numbers)
// are counted as units: "4 of 4 units ok", since a box may program several.
class GangTally {
public:
  void Add(const QString &port, ResultClass result, bool unit = false) {
    results_.push_back({port, result});
    units_ = units_ || unit;
  }
  QString SummaryLine() const;

private:
  struct Entry {
    QString port;
    ResultClass result;
  };
  std::vector<Entry> results_;
  bool units_ = false;
};

class JsonEventSink : public EventSink {
public:
  JsonEventSink(OutputFn out, OutputFn err) : out_(std::move(out)), err_(std::move(err)) {}
  void Unit(const QString &port, const UnitTag &tag) override;
  void Start(const QString &port, const QString &operation) override;
  void Progress(const QString &port, int percent) override;
  void Message(const QString &port, const base::Message &message) override;
  void Result(const QString &port, const ResultInfo &info) override;
  void Lot(const LotInfo &lot) override;
  void Finish() override;

private:
  // "event" and "port", then the port's unit when it has one.
  JsonLine Begin(const char *event, const QString &port) const;

  OutputFn out_, err_;
  GangTally tally_;
  std::map<QString, UnitTag> units_;
};

class HumanEventSink : public EventSink {
public:
  // columns: the terminal's width; rows are cut to fit so the block's height
  // stays known. Ignored without a terminal.
  HumanEventSink(OutputFn err, bool terminal, int columns = 80);
  // A unit with a serial number is named by it in its start and result lines:
  // "/dev/ttyUSB0: unit SN000101 ok after 1.2 s, CheckSum:  0x0012ABCD".
  void Unit(const QString &port, const UnitTag &tag) override;
  void Start(const QString &port, const QString &operation) override;
  void Progress(const QString &port, int percent) override;
  void Message(const QString &port, const base::Message &message) override;
  void Result(const QString &port, const ResultInfo &info) override;
  void Lot(const LotInfo &lot) override;
  void Finish() override;

  static constexpr int kRedrawIntervalMs = 100;

private:
  struct Row {
    QString port;
    QString operation;
    int percent = 0;
    int shownDecile = 0; // plain lines: the last 10 % step written
    QString outcome;
  };
  Row &RowOf(const QString &port);
  // "unit SN000101 " for a port whose unit has a serial number, else empty.
  QString UnitPrefix(const QString &port) const;
  QString RowText(const Row &row) const;
  // Writes `above` (whole lines) above the block, then the block.
  void Draw(const QByteArray &above = {});
  void RedrawSoon();

  OutputFn err_;
  bool terminal_;
  int columns_;
  std::vector<Row> rows_;
  int drawnRows_ = 0;
  QElapsedTimer sinceDraw_;
  QTimer redrawTimer_;
  GangTally tally_;
  std::map<QString, UnitTag> units_;
};

// A sink on the process's standard output and error: JSON when asked for,
// else human lines, on a terminal when standard error is one.
std::unique_ptr<EventSink> MakeEventSink(bool json);

} // namespace cli
