#pragma once
// A moment as the records command takes it from an operator (--since,
// --until): pure.

#include <QDateTime>
#include <optional>

namespace cli {

// An ISO 8601 date (the whole local day: `end` gives its end rather than its
// start), or a date and time to the minute, second or millisecond, local
// unless it ends in Z or an offset such as +08:00. Nothing else: neither a
// time out of range nor anything after the date may pass for a date.
std::optional<QDateTime> ParseWhen(const QString &text, bool end);

} // namespace cli
