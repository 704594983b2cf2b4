#pragma once
// A unit (one board) as the store keeps it, and what a station asks the store
// to do with its units and serial numbers.
//
// A unit's row is written when the unit starts, without a verdict, and
// completed when it ends, in the same transaction as its serial number's new
// state. A row without a verdict is an interrupted unit (its station was
// killed, or its end could not be written): shown so, counted neither way.
// Its attempts' records share its unit_uid.
//
// A UnitOp is one such write. A station of a PostgreSQL store spools the ops
// it cannot hand to the server in order (as JSON) and forwards them later;
// each op is written so that forwarding it twice changes nothing.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace records {

inline const QString kVerdictPassed = QStringLiteral("passed");
inline const QString kVerdictFailed = QStringLiteral("failed");
inline const QString kVerdictInterrupted = QStringLiteral("interrupted");

// A unit without a verdict still within its hold is running on a live station;
// past its hold (or with none, as a derived unit) it is interrupted.
inline bool StillRunning(const QString &verdict, const QDateTime &holdsUntil, const QDateTime &now) {
  return verdict.isEmpty() && holdsUntil.isValid() && holdsUntil > now;
}

struct UnitRow {
  QString unitUid;
  QString jobName;   // empty: a load of no job (no lot, counted in no figures)
  QString jobSha256; // of the job file; empty without a job, and for a unit derived from older records
  QString lot;
  QString station; // the run's station name within its host
  QString host;
  QString port; // the box's port as chosen
  QString serial;
  QDateTime startedAt; // UTC, milliseconds
  QDateTime endedAt;   // invalid until it ends
  QString verdict;     // empty until it ends, then kVerdict*
  QString result;      // "ok" for a pass, else the class of its end (records' kResults)
  qint64 attempts = 0;
  // While it has no verdict, the unit holds a place in its lot until then
  // (the longest a unit can take); a unit whose station died frees it so.
  QDateTime holdsUntil;
  QString operatorName; // who started it (records/record.h); empty in a row of an older store

  bool operator==(const UnitRow &) const = default;
};

// A serial number's new state, written with its unit or alone.
struct NumberChange {
  QString pool;
  qint64 idx = -1;
  QString host, station;
  QString state; // records/serial_pool.h kNumber*
  QString value;
  QString unitUid;

  bool operator==(const NumberChange &) const = default;
};

struct UnitOp {
  enum class Kind : uint8_t {
    Start,   // the row without a verdict, its number allocated, a place in its lot taken
    End,     // the verdict, its number's end state; makes the row when it has none yet
    Numbers, // number changes alone: numbers given back, a number no board can carry
    Settle,  // before a station starts: its lease taken, then what a dead run of it left (host, station)
  };
  Kind kind = Kind::Start;
  UnitRow unit;
  std::vector<NumberChange> numbers;
  int lotSize = 0; // Start: 0 for no lot (no place taken)
  QString host, station; // Settle
  // Settle: who claims the station (records/unit_store.h station leases):
  // the claiming Recorder's token, its process and boot, and when. A Settle
  // spooled by an older program has no holder and settles without a lease.
  QString holder;
  qint64 pid = 0;
  QString boot;
  QDateTime since;

  bool operator==(const UnitOp &) const = default;
};

QByteArray ToJson(const UnitOp &op);
std::optional<UnitOp> UnitOpFromJson(const QByteArray &json);

} // namespace records
