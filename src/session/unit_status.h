#pragma once
// What a front end shows of one box and the unit on it: the state, progress
// and attempt, and how and why the unit ended. Plain data, on the run's thread.

#include "base/message.h"
#include "protocol/outcome.h"

#include <QString>
#include <cstdint>

namespace session {

// Ready: no unit, or the last one ended without a verdict (stopped, or not
// started because its lot was complete, or, with outcome FileRefused, because
// the station could not give it its data: a fault of the station, the store
// away, that no board is blamed for). NotRecorded: the unit ended but the
// store refused to record it (it is no pass, whatever the box said).
enum class UnitState : uint8_t { Ready, Busy, Retry, Pass, Fail, NotRecorded };

// "READY", "BUSY", "RETRY", "PASS", "FAIL", "NOT RECORDED".
QString UnitStateWord(UnitState state);

struct UnitStatus {
  int box = 0; // 1-based, in the order of the run's ports
  QString port;
  UnitState state = UnitState::Ready;
  int percent = 0;  // Busy: 0..100 over the attempt
  int attempt = 0;  // k: the attempt running or last run, 1-based; 0 before the first unit
  int attempts = 1; // n: 1 + the job's retries
  // How the unit's last attempt ended (Ok until one ended otherwise) and why,
  // as a message each front end renders in its language (records keep its
  // designed rendering). NotRecorded: the store's reason.
  protocol::Outcome outcome = protocol::Outcome::Ok;
  base::Message reason;
  // A port that did not open or was lost: the system's words and the device
  // (records keep the designed text above); empty otherwise.
  QString detail;
  QString unitUid;        // empty before the first unit
  QString serial;         // the unit's serial number text from its UnitData; empty without one
  double unitSeconds = 0; // ended: from the unit's start to its end, by the run's clock

  // "READY", "BUSY 42%", "RETRY 1/3" (retry k = attempt of n = attempts - 1), "PASS", "FAIL", "NOT RECORDED".
  QString StateText() const;
  bool operator==(const UnitStatus &) const = default;
};

} // namespace session
