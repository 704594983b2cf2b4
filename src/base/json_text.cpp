#include "base/json_text.h"

QByteArray JsonString(const QString &value) {
  const QByteArray utf8 = value.toUtf8();
  QByteArray out;
  out.reserve(utf8.size() + 2);
  out += '"';
  for (const char ch : utf8) {
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
      if (c < 0x20) {
        static const char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 15];
      } else {
        out += char(c);
      }
    }
  }
  out += '"';
  return out;
}
