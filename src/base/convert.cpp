#include "base/convert.h"

#include "base/exception.h"

namespace base {

namespace {

std::optional<uint32_t> ParseHexDigits(std::string_view digits) {
  if (digits.empty() || digits.size() > 8)
    return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * 16 + uint32_t(d);
  }
  return value;
}

std::optional<uint32_t> ParseHexText(QStringView text) {
  // A character beyond ASCII can never be a hex digit (Latin-1 would fold it to '?').
  for (QChar c : text)
    if (c.unicode() > 0x7F)
      return std::nullopt;
  const QByteArray bytes = text.toLatin1();
  return ParseHexDigits(std::string_view(bytes.constData(), size_t(bytes.size())));
}

} // namespace

uint32_t HexTextToInt(std::string_view text) { return ParseHexDigits(text).value_or(0); }

uint32_t HexTextToInt(const QString &text) { return ParseHexText(text).value_or(0); }

std::optional<int32_t> TryStrToInt(const QString &text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == QLatin1Char(' '))
    ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  if (i < n && text[i] == QLatin1Char('$')) {
    const auto v = ParseHexText(QStringView(text).mid(i + 1));
    if (!v)
      return std::nullopt;
    int64_t s = negative ? -int64_t(int32_t(*v)) : int64_t(int32_t(*v));
    return int32_t(s);
  }
  if (i >= n)
    return std::nullopt;
  int64_t value = 0;
  for (; i < n; ++i) {
    const QChar c = text[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return std::nullopt;
    value = value * 10 + (c.unicode() - '0');
    if (value > int64_t(INT32_MAX) + 1)
      return std::nullopt;
  }
  if (negative)
    value = -value;
  if (value > INT32_MAX || value < INT32_MIN)
    return std::nullopt;
  return int32_t(value);
}

int32_t StrToInt(const QString &text) {
  if (auto v = TryStrToInt(text))
    return *v;
  throw EConvertError(NotValidIntegerText(text));
}

QString IntToHex(uint32_t value, int digits) {
  return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

} // namespace base
