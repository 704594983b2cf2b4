#include "base/json_text.h"

namespace base {

namespace {

const char kHexDigits[] = "0123456789abcdef";

void AppendUnicodeEscape(QByteArray &out, char16_t unit) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += kHexDigits[(unit >> shift) & 15];
}

void AppendEscaped(QByteArray &out, QStringView text) {
  for (const char ch : text.toUtf8()) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20)
        AppendUnicodeEscape(out, c);
      else
        out += char(c);
    }
  }
}

} // namespace

QByteArray JsonString(const QString &value) {
  QByteArray out;
  out.reserve(value.size() + 2);
  out += '"';
  // A surrogate without its partner has no UTF-8 form, so the conversion would
  // put "?" in its place; the \u escape keeps it, and a reader gets back the
  // very string that was written.
  qsizetype runStart = 0;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i].isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
      ++i;
      continue;
    }
    if (!value[i].isSurrogate())
      continue;
    AppendEscaped(out, QStringView(value).sliced(runStart, i - runStart));
    AppendUnicodeEscape(out, value[i].unicode());
    runStart = i + 1;
  }
  AppendEscaped(out, QStringView(value).sliced(runStart));
  out += '"';
  return out;
}

} // namespace base
