#include "base/result_class.h"

#include <array>

namespace base {

namespace {

using enum ResultClass;
using enum Whose;
using enum ReasonFrom;

// clang-format off
constexpr std::array kRows = {
//  class            name                 whose     fails  retried recorded exit reason   exit words
    ResultClassRow{Ok,              "ok",               Board,    false, false, true,  0,   None,    "ok"},
    ResultClassRow{FileRefused,     "file-refused",     Station,  true,  false, true,  3,   Own,     "file refused"},
    ResultClassRow{PortUnavailable, "port-unavailable", Station,  true,  false, true,  4,   Port,    "port unavailable"},
    ResultClassRow{BoxFailed,       "box-failed",       Board,    true,  true,  true,  5,   Box,     "box reported a failure"},
    ResultClassRow{VerifyMismatch,  "verify-mismatch",  Board,    true,  false, true,  6,   None,    "verify mismatch"},
    ResultClassRow{NoAnswer,        "no-answer",        Board,    true,  true,  true,  7,   TimeOut, "no answer within the time-out"},
    ResultClassRow{PortLost,        "port-lost",        Board,    true,  true,  true,  8,   Port,    "port lost"},
    ResultClassRow{ReadProtected,   "read-protected",   Board,    true,  false, true,  9,   None,    "read-protected"},
    ResultClassRow{Interrupted,     "interrupted",      Operator, false, false, true,  130, Stop,    "interrupted"},
    ResultClassRow{Cancelled,       "cancelled",        Operator, false, false, true,  1,   None,    nullptr},
    ResultClassRow{NotRecorded,     "not-recorded",     Station,  false, false, false, 10,  Store,
                   "not recorded (the store refused a record of a unit of load or run, which is then no pass)"},
};
// clang-format on

constexpr bool InEnumeratorOrder() {
  for (size_t i = 0; i < kRows.size(); ++i)
    if (size_t(kRows[i].result) != i)
      return false;
  return true;
}
static_assert(InEnumeratorOrder(), "a class's row sits at its enumerator's place");

} // namespace

std::span<const ResultClassRow> ResultClasses() { return kRows; }

const ResultClassRow &RowOf(ResultClass result) { return kRows[size_t(result)]; }

QString ResultName(ResultClass result) { return QString::fromLatin1(RowOf(result).name); }

std::optional<ResultClass> ResultFromName(QStringView name) {
  for (const ResultClassRow &row : kRows)
    if (name == QLatin1String(row.name))
      return row.result;
  return std::nullopt;
}

QStringList RecordedResultNames() {
  QStringList names;
  for (const ResultClassRow &row : kRows)
    if (row.recorded)
      names << QString::fromLatin1(row.name);
  return names;
}

QStringList FailingResultNames() {
  QStringList names;
  for (const ResultClassRow &row : kRows)
    if (row.recorded && row.failsUnit)
      names << QString::fromLatin1(row.name);
  return names;
}

bool CountsForYield(QStringView name) {
  const std::optional<ResultClass> result = ResultFromName(name);
  return !result || *result == ResultClass::Ok || RowOf(*result).failsUnit;
}

} // namespace base
