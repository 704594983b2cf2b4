#pragma once
// How an operation on a box ended, in classes a script or a production record
// can act on. The names are the ones the command line prints and the records
// store.

#include <QString>
#include <cstdint>

namespace protocol {

enum class Outcome : uint8_t {
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

// "ok", "file-refused", "port-unavailable", "box-failed", "verify-mismatch",
// "no-answer", "port-lost", "read-protected", "interrupted", "cancelled",
// "not-recorded".
QString OutcomeName(Outcome outcome);

// The difference a verify reported: address and the bytes written and read.
struct Mismatch {
  uint16_t address = 0;
  uint8_t written = 0;
  uint8_t read = 0;
};

} // namespace protocol
