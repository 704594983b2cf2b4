#pragma once
// Number conversions shared by every subsystem. Addresses and byte values travel
// between controls, shared state and frames as texts; these turn them into
// numbers with one set of rules.

#include <QString>
#include <cstdint>
#include <optional>

namespace base {

// "$" + text read as a hexadecimal number (at most 8 digits). Anything that is
// not a valid hexadecimal number, the empty text included, gives 0.
uint32_t HexTextToInt(const QString &text);
uint32_t HexTextToInt(std::string_view text);

// A decimal integer as an operator types it: leading blanks allowed, an optional
// sign, then digits only; must fit in 32 signed bits. A "$" prefix reads hex.
std::optional<int32_t> TryStrToInt(const QString &text);

// As TryStrToInt, but an invalid text raises EConvertError with
// "'<text>' is not a valid integer value".
int32_t StrToInt(const QString &text);

// Upper-case hexadecimal with at least `digits` digits.
QString IntToHex(uint32_t value, int digits);

} // namespace base
