#pragma once
// What each class of a result means, in one table that every layer reads:
// its name in records and JSON, whose fault it tells of, whether it fails a
// unit, whether the unit is tried again, the command line's exit status and
// where a unit's reason comes from when it brings none. A new class is a new
// enumerator and its row, and nothing else.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <span>

namespace base {

enum class ResultClass : uint8_t {
  Ok,
  FileRefused,     // the file was refused before anything reached the box
  PortUnavailable, // the port could not be opened
  BoxFailed,       // the box reported a failure (or an answer no operation expects)
  VerifyMismatch,  // the box found a cell that differs
  NoAnswer,        // no ending reply within the time-out
  PortLost,        // the port went away during the operation
  ReadProtected,   // the chip is read-protected
  Interrupted,     // stopped by the operator
  Cancelled,       // the operator cancelled the file dialog
  // Whatever the box did, the record of it could not be written (the store
  // refused it): a unit so ended is no pass. No record holds this class.
  NotRecorded,
};

// Whose doing a class tells of. The station's says nothing of the board: a
// box given more units would fail them all alike, so it takes no more.
enum class Whose : uint8_t { Board, Station, Operator };

// Where the reason of a unit that did not pass comes from: none; the
// time-out's text; the system's words for the port (else the unit's own);
// the box's text (else that it answered a failure); the unit's own text in
// English; the store's words; that the operator stopped it.
enum class ReasonFrom : uint8_t { None, TimeOut, Port, Box, Own, Store, Stop };

struct ResultClassRow {
  ResultClass result;
  const char *name; // as records, JSON events and --result carry it
  Whose whose;
  bool failsUnit;   // a unit that ended so counts failed (else passed for ok, or neither way)
  bool retried;     // a job's unit so ended is tried again while it has attempts left
  bool recorded;    // a record's result column can hold it
  int exitStatus;   // of kavrin-cli for one box so ended
  ReasonFrom reason;
  // The exit status's words in the command line's usage; null: the status is
  // told by another row's (or is the generic 1).
  const char *exitWords;
};

// Every class, in enumerator order (the order the window and --help offer them).
std::span<const ResultClassRow> ResultClasses();
const ResultClassRow &RowOf(ResultClass result);

// "ok", "file-refused", ...
QString ResultName(ResultClass result);
std::optional<ResultClass> ResultFromName(QStringView name);

// The names a record's result column can hold, and of those the ones that
// fail a unit, in table order.
QStringList RecordedResultNames();
QStringList FailingResultNames();
// Whether a unit that ended with the recorded class `name` counts passed or
// failed: false only for a class that counts neither way (a class this
// program does not know, a later one's, counts failed).
bool CountsForYield(QStringView name);

} // namespace base
