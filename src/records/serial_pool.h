#pragma once
// Serial-number pools in the record store: numbers handed out once, on one
// station (SQLite) or many sharing a PostgreSQL server.
//
// A pool counts its numbers n = 0, 1, 2, ... (what n stands for, a counted
// value or a list's line, is the caller's: numbering/serial_plan.h). A station
// reserves a block of numbers in one transaction: the pool's row is locked
// (SELECT ... FOR UPDATE on the server, SQLite's write lock), numbers given
// back to the pool are taken first (lowest first), then next_index is moved
// on, and one row per number is written as "reserved" for that station;
// (pool, idx) is the table's key, so the database refuses a number twice even
// if the lock were ever missed. A station works through its block without the
// server, which is how it rides out a short outage.
//
// Each number's state: reserved (in a station's block) -> allocated (its
// unit started, written with the unit's row) -> used (the unit passed) or
// failed (it finally failed, was stopped, or its station died with it: a
// board may carry it); a number a failed unit keeps goes back to reserved for
// the same station's next unit. Reserved numbers a station never handed out
// become free when it stops (Release), and the next reservation of any
// station takes them, so that numbers stay in sequence. A station killed
// before it could do so is found when it starts again under the same host and
// station name: its reserved numbers become free and those it had allocated
// become failed (ReclaimLeftovers, and for a Recorder's stations the claim of
// records/unit_store.h, which does so only once the dead run's lease has
// lapsed, so that two runs under one host and name never reclaim each other's).
// A number no board can carry is marked skipped.
//
// Every call runs on the calling thread with its Connection: a StoreWorker's.

#include "records/database.h"

#include <QString>
#include <vector>

namespace records {

inline const QString kNumberReserved = QStringLiteral("reserved");
inline const QString kNumberAllocated = QStringLiteral("allocated");
inline const QString kNumberUsed = QStringLiteral("used");
inline const QString kNumberFailed = QStringLiteral("failed");
inline const QString kNumberSkipped = QStringLiteral("skipped");
inline const QString kNumberFree = QStringLiteral("free");

struct PoolStation {
  QString pool;
  // What the pool's numbers stand for; a station with another definition is
  // refused, so that two plans never turn one number into two values.
  QString definition;
  qint64 size = -1; // a list's lines or the values a counting plan's format holds; -1: unbounded
  QString host;
  QString station;
};

// Reserves up to `count` numbers for the station, making the pool when it is
// new; fewer (or none) at the pool's end (the station's size). False and the
// database's message on a failure, or why the pool refuses the station.
bool ReserveNumbers(db::Connection &c, const PoolStation &s, int count, std::vector<qint64> *indexes,
                    QString *error);

// Sets the state of the station's number `idx`, with the value written and
// the unit it went to.
bool MarkNumber(db::Connection &c, const PoolStation &s, qint64 idx, const QString &state, const QString &value,
                const QString &unitUid, QString *error);

// The station's reserved numbers become free (a station that stops).
bool ReleaseNumbers(db::Connection &c, const PoolStation &s, qint64 *freed, QString *error);

// Before a station starts: what a former run of it left reserved becomes
// free, what it left allocated becomes failed.
bool ReclaimLeftovers(db::Connection &c, const PoolStation &s, qint64 *freed, qint64 *failed, QString *error);

} // namespace records
