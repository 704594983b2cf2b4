#pragma once
// What a box is set up with, in one set of words for every layer: the job file
// keeps them, the command line's options take them, the set frame encodes them,
// the records name them. The window maps its radio items to them at its edge.
// Plain values and pure functions.

#include <QString>
#include <cstdint>

namespace base {

// Whether the box programs at once (online) or only stores the file (offline).
enum class BoxMode : uint8_t { Online, Offline };
// The supply the box gives the chip; Unchosen sends no supply byte value.
enum class BoxSupply : uint8_t { FiveVolts, NoOutput, Unchosen };

// "online", "offline": as the job file, the command line and the records spell them.
QString ModeName(BoxMode mode);
// "5v", "off"; Unchosen has no name ("").
QString SupplyName(BoxSupply supply);

} // namespace base
