#include "cli/sector_list.h"

#include "base/printable.h"

#include <QStringList>
#include <algorithm>

namespace cli {

namespace {

using base::Quoted;

// One or two decimal digits: a sign, a blank or a base would let another sector pass for the one meant.
std::optional<int> Sector(const QString &item) {
  const bool digits = !item.isEmpty() && item.size() <= 2 &&
                      std::all_of(item.begin(), item.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
  const int n = digits ? item.toInt() : 0;
  return n >= 1 && n <= 32 ? std::optional<int>(n) : std::nullopt;
}

} // namespace

SectorListResult ParseSectorList(const QString &text) {
  auto fail = [&](const QString &why) {
    return SectorListResult{std::nullopt, why + QStringLiteral(" in ") + Quoted(text) +
                                              QStringLiteral(" (expects sectors 1..32 like 1-8,17,32)")};
  };
  uint32_t mask = 0;
  for (const QString &item : text.split(QLatin1Char(','))) {
    if (item.isEmpty())
      return fail(QStringLiteral("an empty item"));
    const qsizetype dash = item.indexOf(QLatin1Char('-'));
    const QString firstText = dash < 0 ? item : item.left(dash), lastText = dash < 0 ? item : item.mid(dash + 1);
    const std::optional<int> first = Sector(firstText), last = Sector(lastText);
    if (!first || !last)
      return fail(QStringLiteral("no sector ") + Quoted(first ? lastText : firstText));
    if (*last < *first)
      return fail(QStringLiteral("a range that runs backwards, ") + Quoted(item));
    for (int s = *first; s <= *last; ++s)
      mask |= 1u << (s - 1);
  }
  return {mask, {}};
}

} // namespace cli
