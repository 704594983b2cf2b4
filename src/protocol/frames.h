#pragma once
// Command frames of the programmer box: 0x68, code, payload length N, N payload
// bytes, 0x16. Each builder is a pure function of the values the operation
// reads at the moment it starts; the caller stores the operation's code in
// CurrentCommand and hands the bytes to the serial component in one piece.

#include "base/box_choices.h"

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace protocol {

using Frame = std::vector<uint8_t>;

inline constexpr uint8_t kFrameStart = 0x68;
inline constexpr uint8_t kFrameEnd = 0x16;

// Mode byte: online or offline.
inline constexpr uint8_t kModeOnline = 0x55;
inline constexpr uint8_t kModeOffline = 0xAA;
// Power byte: 5 V, no output, or none chosen.
inline constexpr uint8_t kPower5V = 0x50;
inline constexpr uint8_t kPowerNoOutput = 0x33;
inline constexpr uint8_t kPowerNone = 0x00;

// The count 0..9999 as two packed-decimal bytes: thousands|hundreds, tens|units.
std::array<uint8_t, 2> PackedCount(int32_t count);

uint8_t ModeByte(base::BoxMode mode);
uint8_t PowerByte(base::BoxSupply supply);

// Set mode, power supply and count (8 bytes).
Frame SetCmd(base::BoxMode mode, base::BoxSupply supply, int32_t count);
// Verify (4 bytes).
Frame CheckCmd();
// Read out (7 bytes): high byte of the chip's start address (first two
// characters of chipStart), the size in KiB, the dataflash code (its
// characters 3 and 4). Hex texts that are not numbers count as 0.
Frame ReadCmd(const QString &chipStart, uint32_t imageSize, const QString &dataflashCode);
// The size a read command asks for, in bytes: the chosen chip's size
// (chipSizeK KiB), so that it matches the blocks the reply handler counts;
// imageSize when no chip size is known.
uint32_t ReadOutSize(const QString &chipSizeK, uint32_t imageSize);
// Erase, program and verify (4 bytes).
Frame EPCCmd();
// Announces a file transfer (6 bytes).
Frame LoadCmd();

// The first two characters of ChipStart: the start address's high byte as text.
QString StartHighOf(const QString &chipStart);

} // namespace protocol
