#pragma once
// The store's side of units (records/unit_row.h): each UnitOp in one
// transaction, a lot's counts, and whether the store takes a write at all.
// Every call runs on the calling thread with its Connection (a StoreWorker's)
// and gives false and the database's message on a failure.
//
// Places in a lot: a unit holds a place from its start while it has no
// verdict (until its holds_until passes, so that a unit whose station died
// frees its place), and after it passed; a failed or interrupted unit gives
// its place back. A Start that takes a place counts the places held under
// the lot's lock (SQLite's write lock; the lot's row locked FOR UPDATE on the
// server) and writes nothing when they fill the lot, so two stations never
// take the last place twice.

#include "records/database.h"
#include "records/unit_row.h"
#include "records/yield.h"

namespace records {

// Station leases: a run holds its (host, station) while it lives, renewed
// every kLeaseRenewMs by its Recorder's worker and ended when it stops. A
// Settle with a holder takes the lease, then settles what the station's
// dead run left: its units without a verdict interrupted, its allocated
// numbers failed and its reserved ones free, in every pool. While another
// holder's lease is live (renewed within kLeaseLapseMs, and not of a process
// of the same boot that has ended) nothing is settled or taken: two PCs
// cloned with one host name, or one command started twice, never settle each
// other's units or hand out each other's numbers.
inline constexpr int kLeaseRenewMs = 10000;
inline constexpr int kLeaseLapseMs = 45000;

// Applies `op` in one transaction. A Start with `takePlace` and a lot size
// leaves *placed false and writes nothing when the lot has no place left
// (a start forwarded from a spool took its place when it was made). A Settle
// refused for a live station's lease leaves *placed false, writes nothing
// and gives true with the refusal, naming the holder, in *error. An op
// applied twice changes nothing the second time.
bool ApplyUnitOp(db::Connection &c, const UnitOp &op, bool takePlace, bool *placed, QString *error);

// The lot's units passed and failed, and those holding a place at `now`
// without a verdict (LotCounters::running). A store older than version 5 is
// counted from its records' derived units, without running ones.
// Keeps `size` as the size of `job`'s lot `lot`, beside its counts, where the
// line's lot bars read it; what each unit's start of a job with a lot size
// writes. 0 writes nothing.
bool NoteLotSize(db::Connection &c, const QString &job, const QString &lot, qint64 size, QString *error);

bool ReadLot(db::Connection &c, const QString &job, const QString &lot, const QDateTime &now, LotCounters *counters,
             QString *error);

// The holder's leases renewed now; ended (at an orderly stop).
bool RenewLeases(db::Connection &c, const QString &holder, QString *error);
bool EndLeases(db::Connection &c, const QString &holder, QString *error);

// A committed write that changes nothing: whether the store takes a unit now.
bool ProbeWrite(db::Connection &c, QString *error);

// A PostgreSQL station's spool of unit ops, forwarded oldest first.
struct SpooledOp {
  qint64 id = 0;
  UnitOp op;
};
bool SpoolUnitOp(db::Connection &spool, const UnitOp &op, QString *error);
// The oldest `limit` ops (every one for 0).
bool SpooledUnitOps(db::Connection &spool, int limit, std::vector<SpooledOp> *ops, QString *error);
bool DeleteSpooledUnitOps(db::Connection &spool, const std::vector<SpooledOp> &ops, QString *error);
// Adds what spooled ops of the lot will change, as the server will count it:
// units ended passed or failed, and started ones not ended yet (running).
void AddSpooled(const std::vector<SpooledOp> &ops, const QString &job, const QString &lot, LotCounters *counters);

} // namespace records
