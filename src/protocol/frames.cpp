#include "protocol/frames.h"

#include "base/convert.h"

namespace protocol {

namespace {

Frame Build(uint8_t code, std::initializer_list<uint8_t> payload) {
  Frame frame;
  frame.reserve(payload.size() + 4);
  frame.push_back(kFrameStart);
  frame.push_back(code);
  frame.push_back(uint8_t(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(kFrameEnd);
  return frame;
}

} // namespace

std::array<uint8_t, 2> PackedCount(int32_t n) {
  // Out-of-range counts cannot be typed; they keep the low 8 bits of each digit pair.
  const uint8_t high = uint8_t(16 * (n / 1000) + (n / 100) % 10);
  const uint8_t low = uint8_t(16 * ((n / 10) % 10) + n % 10);
  return {high, low};
}

uint8_t ModeByte(base::BoxMode mode) { return mode == base::BoxMode::Online ? kModeOnline : kModeOffline; }

uint8_t PowerByte(base::BoxSupply supply) {
  switch (supply) {
  case base::BoxSupply::FiveVolts:
    return kPower5V;
  case base::BoxSupply::NoOutput:
    return kPowerNoOutput;
  case base::BoxSupply::Unchosen:
    break;
  }
  return kPowerNone;
}

Frame SetCmd(base::BoxMode mode, base::BoxSupply supply, int32_t count) {
  const auto packed = PackedCount(count);
  return Build(0x06, {ModeByte(mode), PowerByte(supply), packed[0], packed[1]});
}

Frame CheckCmd() { return Build(0x03, {}); }

QString StartHighOf(const QString &chipStart) { return chipStart.left(2); }

Frame ReadCmd(const QString &chipStart, uint32_t imageSize, const QString &dataflashCode) {
  const uint8_t startHigh = uint8_t(base::HexTextToInt(StartHighOf(chipStart)));
  const uint8_t sizeK = uint8_t((imageSize / 1024) % 256);
  const uint8_t dataflash = uint8_t(base::HexTextToInt(dataflashCode.mid(2, 2)));
  return Build(0x04, {startHigh, sizeK, dataflash});
}

Frame EPCCmd() { return Build(0x05, {}); }

Frame LoadCmd() { return Build(0x00, {0x08, 0x00}); }

uint32_t ReadOutSize(const QString &chipSizeK, uint32_t imageSize) {
  const std::optional<int32_t> sizeK = base::TryStrToInt(chipSizeK);
  return sizeK && *sizeK >= 0 ? uint32_t(*sizeK) * 1024 : imageSize;
}

} // namespace protocol
