#include "cli/json_line.h"

#include "base/json_text.h"

#include <cmath>

namespace cli {

void JsonLine::Key(const char *key) {
  if (!body_.isEmpty())
    body_ += ',';
  body_ += base::JsonString(QString::fromLatin1(key));
  body_ += ':';
}

JsonLine &JsonLine::Add(const char *key, const QString &value) {
  Key(key);
  body_ += base::JsonString(value);
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
