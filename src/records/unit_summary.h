#pragma once
// The units of a range summed per local hour or per station, from the store's
// unit rows (records/unit_row.h), for scripts (kavrin-cli records --summary
// --per hour|station). A unit counts where it ended, or, without a verdict,
// where it started; passed and failed by its verdict, the rest interrupted.
//
// The store groups by job and UTC hour (or station) and verdict, reading the
// range through the units' end index, so a day of a year's store costs the
// day's units alone; the UTC hours become the local hours they start in, as
// the yield chart's do. A store older than its unit rows is summed from the
// units derived from its records (records/database.h).

#include "records/query.h"
#include "records/store_location.h"

#include <QDateTime>
#include <map>
#include <vector>

namespace records {

namespace db {
class Connection;
}

enum class SummaryPer { Hour, Station };

struct UnitFigures {
  qint64 attempts = 0; // of the units counted here
  qint64 passed = 0;
  qint64 failed = 0;
  qint64 interrupted = 0;
  std::map<QString, qint64> failures; // failed units by the class of their end
  // passed / (passed + failed) in percent; negative without either.
  double YieldPercent() const;
  bool operator==(const UnitFigures &) const = default;
};

struct UnitSummary {
  QString job;
  QDateTime hour;        // SummaryPer::Hour: the local hour's start
  QString station, host; // SummaryPer::Station
  UnitFigures figures;
  bool operator==(const UnitSummary &) const = default;
};

// The filter's range, job and lot (its other parts are not looked at); per
// hour by job and hour, per station by station, host and job.
bool SummarizeUnits(db::Connection &c, const Filter &f, SummaryPer per, std::vector<UnitSummary> *rows, QString *error);
// Reads only; opens a connection of the calling thread for the call.
bool SummarizeUnits(const StoreLocation &where, const Filter &f, SummaryPer per, std::vector<UnitSummary> *rows,
                    QString *error);

} // namespace records
