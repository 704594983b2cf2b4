#pragma once
// Production figures of jobs, computed from the records alone, so that they
// survive a restart and agree on every station that reads the same store.
//
// A unit is one board: the records of a job that share a unit_uid are its
// attempts (a record without one is a unit alone). The unit's last attempt
// (the highest attempt number; the latest of equal ones) decides it: passed
// when that attempt ended ok, failed when it ended with any other result
// except interrupted and cancelled, which the operator chose and so count
// neither way (the unit is not done). Records without a job are no units.

#include "records/query.h"
#include "records/store_location.h"

#include <QDate>
#include <QString>
#include <map>
#include <vector>

namespace records {

// The results that fail a unit, in kResults order.
const QStringList &FailureResults();

struct LotCounters {
  qint64 passed = 0;
  qint64 failed = 0;
  bool operator==(const LotCounters &) const = default;
};

// The units of `job` in `lot` that passed and that failed. Reads only; false
// and *error when the store cannot be read.
bool CountLot(const StoreLocation &where, const QString &job, const QString &lot, LotCounters *counters,
              QString *error);

// One job's figures for one local day.
struct DaySummary {
  QString job;
  QDate day;
  qint64 attempts = 0; // records of the job that finished that day
  qint64 passed = 0;   // units whose last attempt finished that day
  qint64 failed = 0;
  std::map<QString, qint64> failures; // failed units by their last attempt's result
  // passed / (passed + failed) in percent; negative when there is no unit.
  double YieldPercent() const;
};

// Per job and local day, by job name and then day, of the records the
// filter's range, job and lot select (its other parts are not looked at).
bool Summarize(const StoreLocation &where, const Filter &f, std::vector<DaySummary> *days, QString *error);

} // namespace records
