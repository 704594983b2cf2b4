#include "cli/json_line.h"

#include <cmath>

namespace cli {

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

void JsonLine::Key(const char *key) {
  if (!body_.isEmpty())
    body_ += ',';
  body_ += JsonString(QString::fromLatin1(key));
  body_ += ':';
}

JsonLine &JsonLine::Add(const char *key, const QString &value) {
  Key(key);
  body_ += JsonString(value);
  return *this;
}

JsonLine &JsonLine::Add(const char *key, int64_t value) {
  Key(key);
  body_ += QByteArray::number(qlonglong(value));
  return *this;
}

JsonLine &JsonLine::AddBool(const char *key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonLine &JsonLine::AddNull(const char *key) {
  Key(key);
  body_ += "null";
  return *this;
}

JsonLine &JsonLine::AddFixed(const char *key, double value, int decimals) {
  Key(key);
  // JSON has no NaN or infinity.
  body_ += std::isfinite(value) ? QByteArray::number(value, 'f', decimals) : QByteArray("null");
  return *this;
}

QByteArray JsonLine::Text() const { return '{' + body_ + "}\n"; }

} // namespace cli
