#pragma once
// A unit's own data (a serial number, a scanned code) and the interface that
// hands it out. Plain data and an interface; called on the run's thread.

#include "records/unit_row.h"
#include "session/unit_status.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace session {

// Bytes to write into the 32 KiB image at `address` (0000-7FFF) before it is
// packed; the block sums and the checksum are computed over the patched image.
struct ImagePatch {
  uint32_t address = 0;
  QByteArray bytes;
  bool operator==(const ImagePatch &) const = default;
};

// One unit's own data, or why the unit must not be programmed.
struct UnitData {
  QString serial; // shown and recorded as the unit's serial number text
  std::vector<ImagePatch> patches;
  QString refusal; // not empty: the unit fails with this text (a designed or English text), no attempt made
  // The refusal is the station's, not the board's (the store could not hand
  // out a number): the unit ends without a verdict of pass or fail, counted
  // in no failures and holding no place in its lot.
  bool stationFault = false;
  // The number's state while its board is programmed (allocated), written
  // with the unit's start; none for data that is no pool's number.
  std::optional<records::NumberChange> number;
};

// Which unit the data is asked for.
struct UnitRequest {
  int box = 0;
  QString port;
  QString unitUid;
  QString jobName;
  QString lot;
};

// Hands out each unit's data, e.g. a serial number drawn from a shared store.
// Called on the run's thread; may answer at once or later.
class UnitDataProvider {
public:
  virtual ~UnitDataProvider() = default;
  // Asked once per unit, before it starts. `done` must be called exactly
  // once, on the run's thread; called after the unit was stopped or the run
  // destroyed, it does nothing.
  virtual void Provide(const UnitRequest &unit, std::function<void(UnitData)> done) = 0;
  // The unit given data never started (its lot was complete, the store
  // refused its start, it was stopped, its data did not fit the image): what
  // it was given is the next unit's.
  virtual void Unused(const UnitRequest &unit) { (void)unit; }
  // The unit ended (Pass, Fail, Ready for stopped, NotRecorded): the new
  // state of its number, written with its end; none for data of no pool.
  virtual std::optional<records::NumberChange> Ended(const UnitStatus &unit) {
    (void)unit;
    return std::nullopt;
  }
};

} // namespace session
