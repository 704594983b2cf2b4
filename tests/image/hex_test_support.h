#pragma once
// Building HEX text and images for the image tests.

#include "image/hex_reader.h"

#include <QByteArray>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hex_test {

inline std::string HexByte(uint32_t v) {
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02X", unsigned(v & 0xFF));
  return buf;
}

// The checksum a record's bytes call for.
inline uint8_t ChecksumOf(uint16_t address, uint8_t type, const std::vector<uint8_t> &data) {
  uint32_t sum = uint32_t(data.size()) + (address >> 8) + (address & 0xFF) + type;
  for (uint8_t d : data)
    sum += d;
  return uint8_t(256 - (sum & 0xFF));
}

// One record without a line end; `checksum` overrides the right one.
inline std::string Record(uint16_t address, uint8_t type, const std::vector<uint8_t> &data, int checksum = -1) {
  std::string out = ":" + HexByte(uint32_t(data.size())) + HexByte(address >> 8) + HexByte(address) + HexByte(type);
  for (uint8_t d : data)
    out += HexByte(d);
  out += HexByte(checksum >= 0 ? uint32_t(checksum) : ChecksumOf(address, type, data));
  return out;
}

inline std::vector<uint8_t> Bytes(const std::string &text) { return {text.begin(), text.end()}; }
inline std::vector<uint8_t> Bytes(const QByteArray &data) { return {data.begin(), data.end()}; }

inline QByteArray ReadWhole(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return f.readAll();
}

// A fresh image table as a load leaves it before reading: "$00" below imageSize.
inline image::ImageTable FreshImage(uint32_t imageSize = 32768) {
  image::ImageTable image;
  image::ClearImage(image, imageSize);
  return image;
}

// Bytes 0..size-1.
inline std::vector<uint8_t> Values(const image::ImageTable &image, uint32_t size = 32768) {
  return {image.bytes.begin(), image.bytes.begin() + size};
}

// Values of entries 0..size-1.
inline std::vector<uint8_t> Values(const std::vector<std::string> &image, uint32_t size = 32768) {
  std::vector<uint8_t> out(size);
  for (uint32_t a = 0; a < size; ++a)
    out[a] = image::ImageEntryValue(image[a]);
  return out;
}

// A tool's binary output laid at `base` into a zero-filled image of `size` bytes.
inline std::vector<uint8_t> ZeroFilledImage(const QByteArray &binary, uint32_t base, uint32_t size = 32768) {
  std::vector<uint8_t> out(size, 0);
  for (qsizetype i = 0; i < binary.size(); ++i)
    if (base + uint32_t(i) < size)
      out[base + size_t(i)] = uint8_t(binary[i]);
  return out;
}

} // namespace hex_test
