#pragma once
// The records command's summaries per day, hour, station or operator, as a table for
// people, CSV and JSON Lines for scripts. Every text of the store passes
// through base::Printable in the table and CsvText in the CSV.

#include "records/unit_summary.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace cli {

// Aligned columns (cli/text_table.h): the keys (JOB and DAY, JOB and HOUR, STATION, HOST and JOB, or OPERATOR
// and JOB), then
// ATTEMPTS, PASSED, FAILED, INTERRUPTED, YIELD and FAILURES ("box-failed 2, ...").
QString UnitSummaryTable(const std::vector<records::UnitSummary> &rows, records::SummaryPer per);
// A header line, then a line per row; a failure class per column; lines end CR LF.
QString UnitSummaryCsv(const std::vector<records::UnitSummary> &rows, records::SummaryPer per);
// One object per row, each with a newline; the yield null without a unit.
QByteArray UnitSummaryJson(const std::vector<records::UnitSummary> &rows, records::SummaryPer per);

} // namespace cli
