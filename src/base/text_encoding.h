#pragma once
// The 8-bit code page the box shows names in: code page 936 (GBK), where an
// ASCII character is one byte and a Chinese one two. Conversion is done one
// character at a time so that a cut to a byte budget never splits one.

#include <QString>
#include <string>

namespace base {

// As many whole characters of `text` as fit in `maxBytes` bytes of code page
// 936. A character the code page lacks becomes "?".
std::string ToCodePage936(const QString &text, size_t maxBytes);

} // namespace base
