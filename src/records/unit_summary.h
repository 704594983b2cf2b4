#pragma once
// The units of a range summed per local day, per local hour, per station or
// per operator, from the store's unit rows (records/unit_row.h): the one
// engine behind every `kavrin-cli records --summary --per`. A unit counts
// where it ended, or, without a verdict, where it started; passed and failed
// by its verdict, the rest interrupted; its attempts are those its row holds.
// A unit still within its hold runs on a live station and counts nowhere yet.
//
// The store groups by job and UTC hour (or station, or operator) and verdict, reading the
// range through the units' end index, so a day of a year's store costs the
// day's units alone; the UTC hours become the local hours (or days) they start in, as
// the yield chart's do. A store older than its unit rows is summed from the
// units derived from its records (records/database.h).
//
// A new figure is a column of UnitFigures, read in SumsSql and filled in
// SummarizeUnits; the texts (cli/summary_text.h) then show it for every --per.

#include "records/query.h"
#include "records/store_location.h"

#include <QDate>
#include <QDateTime>
#include <map>
#include <vector>

namespace records {

namespace db {
class Connection;
}

enum class SummaryPer { Day, Hour, Station, Operator };

struct UnitFigures {
  qint64 attempts = 0; // the attempts of the units counted here
  qint64 passed = 0;
  qint64 failed = 0;
  qint64 interrupted = 0;
  std::map<QString, qint64> failures; // failed units by the class of their end
  // records::YieldPercent of passed and failed.
  double YieldPercent() const;
  bool operator==(const UnitFigures &) const = default;
};

struct UnitSummary {
  QString job;
  QDate day;             // SummaryPer::Day: the local day
  QDateTime hour;        // SummaryPer::Hour: the local hour's start
  QString station, host; // SummaryPer::Station
  QString operatorName;  // SummaryPer::Operator: who started the units (empty in an older store's)
  UnitFigures figures;
  bool operator==(const UnitSummary &) const = default;
};

// The filter's range, job, lot and operator (its other parts are not looked
// at); per day or hour by job and then day or hour, per station by station,
// host and job, per operator by operator and job.
bool SummarizeUnits(db::Connection &c, const Filter &f, SummaryPer per, std::vector<UnitSummary> *rows, QString *error);
// Reads only; opens a connection of the calling thread for the call.
bool SummarizeUnits(const StoreLocation &where, const Filter &f, SummaryPer per, std::vector<UnitSummary> *rows,
                    QString *error);

} // namespace records
