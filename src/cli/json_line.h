#pragma once
// One compact JSON object on one line, built field by field in the order
// given. Written by hand rather than through QJsonDocument so that numbers keep
// the form the events promise ("seconds": 12.0 stays 12.0) and the field order
// stays stable for people reading the stream.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace cli {

class JsonLine {
public:
  JsonLine &Add(const char *key, const QString &value);
  JsonLine &Add(const char *key, int64_t value);
  JsonLine &AddBool(const char *key, bool value);
  JsonLine &AddNull(const char *key);
  // A number with exactly `decimals` decimals.
  JsonLine &AddFixed(const char *key, double value, int decimals);
  // The object and a newline.
  QByteArray Text() const;

private:
  void Key(const char *key);
  QByteArray body_;
};

} // namespace cli
