#pragma once
// What the program puts on the line, written out byte by byte for the box
// simulator's tests: command frames and image block records.

#include <cstdint>
#include <string>
#include <vector>

namespace boxsim_test {

using Bytes = std::vector<uint8_t>;

inline Bytes SetFrame(uint8_t mode, uint8_t power, uint8_t countHigh, uint8_t countLow) {
  return {0x68, 0x06, 0x04, mode, power, countHigh, countLow, 0x16};
}
inline Bytes LoadFrame() { return {0x68, 0x00, 0x02, 0x08, 0x00, 0x16}; }
inline Bytes CheckFrame() { return {0x68, 0x03, 0x00, 0x16}; }
inline Bytes EpcFrame() { return {0x68, 0x05, 0x00, 0x16}; }
inline Bytes ReadFrame(uint8_t startHigh, uint8_t sizeK, uint8_t dataflash) {
  return {0x68, 0x04, 0x03, startHigh, sizeK, dataflash, 0x16};
}

// A 32 KiB image in which every 4 KiB block differs from the others.
inline uint8_t ImageByte(size_t addr) { return static_cast<uint8_t>(addr * 7 + addr / 4096 * 13 + 1); }

inline Bytes BlockData(size_t block) {
  Bytes d(4096);
  for (size_t i = 0; i < d.size(); ++i)
    d[i] = ImageByte(block * 4096 + i);
  return d;
}

// Block record n: number, address high byte, 4096 data bytes, sum MSB first;
// block 0 also carries name, count N and sector mask (4120 bytes in all).
inline Bytes Record(uint8_t n, const Bytes &data, bool first = false, uint8_t addr = 0xFF) {
  Bytes r{n, addr == 0xFF ? static_cast<uint8_t>(16 * n) : addr};
  r.insert(r.end(), data.begin(), data.end());
  uint32_t sum = 0;
  for (uint8_t b : data)
    sum += b;
  r.push_back(static_cast<uint8_t>(sum >> 24));
  r.push_back(static_cast<uint8_t>(sum >> 16));
  r.push_back(static_cast<uint8_t>(sum >> 8));
  r.push_back(static_cast<uint8_t>(sum));
  if (first) {
    const Bytes tail{'f', 'w', 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF};
    r.insert(r.end(), tail.begin(), tail.end());
  }
  return r;
}
inline Bytes Record(uint8_t n) { return Record(n, BlockData(n), n == 0); }

inline Bytes Status(uint8_t code, uint8_t status) { return {0x68, code, 0x01, status, 0x16}; }
inline Bytes Request(uint8_t n) { return {0x68, 0x00, 0x02, 0x55, n, 0x16}; }

inline std::string Hex(const Bytes &b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) {
    s += digits[x >> 4];
    s += digits[x & 15];
  }
  return s;
}

} // namespace boxsim_test
