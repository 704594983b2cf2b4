#pragma once
// Small text helpers for the simulator's one-object-per-line JSON log: hex runs
// and string escaping. Pure functions over plain data.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace boxsim {

// Upper-case hex digits of each byte, no separators: {0x68, 0x0A} -> "680A".
std::string HexBytes(const uint8_t *data, size_t len);
// Two upper-case hex digits of one byte.
std::string HexByte(uint8_t b);
// A JSON string literal (with the quotes); bytes outside printable ASCII become \u00XX.
std::string JsonString(std::string_view text);

} // namespace boxsim
