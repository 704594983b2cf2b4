#pragma once
// Serial-number pools in the record store: numbers handed out once, on one
// station (SQLite) or many sharing a PostgreSQL server.
//
// A pool counts its numbers n = 0, 1, 2, ... (what n stands for, a counted
// value or a list's line, is the caller's: unit/serial_plan.h). A station
// reserves a block of numbers in one transaction: the pool's row is locked
// (SELECT ... FOR UPDATE on the server, SQLite's write lock), its next_index
// moved on, and one row per number written as "reserved" for that station;
// (pool, idx) is the table's key, so the database refuses a number twice even
// if the lock were ever missed. A station works through its block without the
// server, which is how it rides out a short outage.
//
// Each number's state: reserved (in a station's block) -> allocated (given to
// a unit) -> used (the unit passed) or failed (it finally failed and gave its
// number up); a number a failed unit keeps goes back to reserved for the same
// station's next unit. Reserved numbers a station never hands out become
// skipped when it stops (Release). A station killed before it could do so is
// found when it starts again under the same host and station name
// (SkipLeftovers): its reserved numbers become skipped and those it had
// allocated become failed, since a board may carry them. A station's name
// must therefore be its own: two stations running under one host and name
// would skip each other's block.
//
// Every call runs on the calling thread with its Connection; the window calls
// them from a worker thread, never from the GUI thread.

#include "records/database.h"

#include <QString>
#include <vector>

namespace records {

inline const QString kNumberReserved = QStringLiteral("reserved");
inline const QString kNumberAllocated = QStringLiteral("allocated");
inline const QString kNumberUsed = QStringLiteral("used");
inline const QString kNumberFailed = QStringLiteral("failed");
inline const QString kNumberSkipped = QStringLiteral("skipped");

struct PoolStation {
  QString pool;
  // What the pool's numbers stand for; a station with another definition is
  // refused, so that two plans never turn one number into two values.
  QString definition;
  qint64 size = -1; // a list's lines; -1: unbounded
  QString host;
  QString station;
};

// Reserves up to `count` numbers for the station, making the pool when it is
// new; fewer (or none) at a list's end. False and the database's message on a
// failure, or why the pool refuses the station.
bool ReserveNumbers(db::Connection &c, const PoolStation &s, int count, std::vector<qint64> *indexes,
                    QString *error);

// Sets the state of the station's number `idx`, with the value written and
// the unit it went to.
bool MarkNumber(db::Connection &c, const PoolStation &s, qint64 idx, const QString &state, const QString &value,
                const QString &unitUid, QString *error);

// The station's reserved numbers become skipped (a station that stops).
bool ReleaseNumbers(db::Connection &c, const PoolStation &s, qint64 *skipped, QString *error);

// Before a station starts: what a former run of it left reserved becomes
// skipped, what it left allocated becomes failed.
bool SkipLeftovers(db::Connection &c, const PoolStation &s, qint64 *skipped, qint64 *failed, QString *error);

} // namespace records
