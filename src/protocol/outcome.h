#pragma once
// How an operation on a box ended, in classes a script or a production record
// can act on. What each class means (its name, whether it fails a unit, is
// retried, its exit status) is base/result_class.h's table.

#include "base/result_class.h"

#include <QString>
#include <cstdint>

namespace protocol {

using Outcome = base::ResultClass;

// The class's name in the records and the JSON events: "ok", "file-refused", ...
inline QString OutcomeName(Outcome outcome) { return base::ResultName(outcome); }

// The difference a verify reported: address and the bytes written and read.
struct Mismatch {
  uint16_t address = 0;
  uint8_t written = 0;
  uint8_t read = 0;
};

} // namespace protocol
