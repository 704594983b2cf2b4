#pragma once
// The --sectors value of load and job create: which of the chip's 32 sectors
// a load programs, as a bit mask. Pure.

#include <QString>
#include <cstdint>
#include <optional>

namespace cli {

struct SectorListResult {
  std::optional<uint32_t> mask;
  QString error;
};

// "1-8,17,32": sectors 1..32 and ranges of them, comma separated; repeats and
// overlaps are allowed.
SectorListResult ParseSectorList(const QString &text);

} // namespace cli
