#pragma once
// The simulated programmer box's protocol engine: bytes in, replies out.
//
// BoxEngine is a pure, single-threaded class with no I/O. The caller hands it
// every run of bytes read from the line together with the time (microseconds on
// any monotonic scale) at which the run was complete, and gets back the replies
// the box makes, each with the think time to wait before it. Spacing replies on
// the line (the silence between them) is TxScheduler's job, writing them is the
// pty runner's. Every frame and block received is recorded as one JSON object
// per line, collected until TakeLog().
//
// The receiver knows what it waits for: after the load announce frame, block 0
// (4120 bytes); after a block request, that block (4102 bytes); otherwise a
// command frame 68 code N payload.. 16, resynchronising on the start byte 0x68.
// A block is never mistaken for a frame because a block number is below 16.
// Input that stops in the middle of a frame or block for kInputIdleTimeoutUs is
// dropped, as a box would after a line break.
//
// Chip memory is 64 KiB; erased flash reads 0xFF. The chip starts filled with
// BoxOptions::chipFill. A faulty cell (BoxOptions::mismatchAddr) always reads
// back what was stored there with bit 0 inverted, so a verify that covers it
// fails there.
//
// Replies are frames themselves: status 68 code 01 STATUS 16 (code = the command
// answered, 00 for the file transfer), block request 68 00 02 55 n 16, mismatch
// 68 code 05 EE addr-hi addr-lo written read 16; read-out data are raw 4096-byte
// bursts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace boxsim {

constexpr uint8_t kStartByte = 0x68;
constexpr uint8_t kEndByte = 0x16;

constexpr uint8_t kCodeLoad = 0x00;
constexpr uint8_t kCodeCheck = 0x03;
constexpr uint8_t kCodeRead = 0x04;
constexpr uint8_t kCodeEpc = 0x05;
constexpr uint8_t kCodeSet = 0x06;

constexpr uint8_t kStatusOk = 0x99;
constexpr uint8_t kStatusFail = 0x00;
constexpr uint8_t kStatusProtected = 0x11;
constexpr uint8_t kStatusMismatch = 0xEE;
constexpr uint8_t kStatusRequest = 0x55;

constexpr uint8_t kModeOnline = 0x55;
constexpr uint8_t kModeOffline = 0xAA;

constexpr size_t kBlockDataSize = 4096;
constexpr size_t kFirstBlockSize = 4120; // header, data, sum, name, count, sectors
constexpr size_t kBlockSize = 4102;      // header, data, sum
constexpr size_t kImageBlocks = 8;       // 32 KiB image
constexpr size_t kChipSize = 65536;
constexpr uint8_t kErased = 0xFF;

constexpr int64_t kInputIdleTimeoutUs = 2'000'000;

struct BoxOptions {
  bool protectedChip = false;                  // verify, read and erase-program-verify answer 0x11
  int failAtBlock = -1;                        // answer 0x00 when this block arrives (-1: never)
  int failTimes = -1;                          // ... only for the first this many loads (-1: every load)
  std::optional<uint16_t> mismatchAddr;        // faulty cell
  bool silent = false;                         // never answer
  std::vector<int> order{1, 2, 3, 4, 5, 6, 7}; // blocks requested after block 0, in this order
  int64_t thinkUs = 0;                         // wait before each reply
  uint8_t chipFill = kErased;                  // chip content at start
};

struct Reply {
  std::vector<uint8_t> bytes;
  // JSON members describing the reply for the log, e.g. "kind":"status","status":"99".
  std::string describe;
  int64_t readyUs = 0; // earliest start: completion of what caused it plus think time
  // Read-out bursts after the first: the think time counts from the end of the
  // previous reply instead (readyUs is then unused).
  bool followsPrevious = false;
  int64_t thinkUs = 0;
};

class ChipMemory {
public:
  ChipMemory(uint8_t fill, std::optional<uint16_t> faultyCell);
  uint8_t Read(uint16_t addr) const { return cells_[addr]; }
  void Program(uint16_t addr, uint8_t value);
  void EraseAll();

private:
  std::array<uint8_t, kChipSize> cells_{};
  std::optional<uint16_t> faulty_;
};

// The last image loaded: data by address and which 4 KiB blocks it covers.
struct Image {
  std::array<uint8_t, kChipSize> bytes{};
  std::array<bool, kChipSize / kBlockDataSize> present{};
  bool Any() const;
};

class BoxEngine {
public:
  explicit BoxEngine(BoxOptions options);

  // Takes a run of received bytes that was complete at nowUs; returns the replies it causes, in order.
  std::vector<Reply> Feed(const uint8_t *data, size_t len, int64_t nowUs);
  std::vector<Reply> Feed(const std::vector<uint8_t> &bytes, int64_t nowUs) {
    return Feed(bytes.data(), bytes.size(), nowUs);
  }
  // Drops a half-received frame or block after kInputIdleTimeoutUs without input.
  void Tick(int64_t nowUs);
  // Log lines recorded since the last call (JSON objects without the newline).
  std::vector<std::string> TakeLog();

  // Box state, for tests and the log.
  bool Online() const { return mode_ == kModeOnline; }
  uint8_t ModeByte() const { return mode_; }
  uint8_t PowerByte() const { return power_; }
  uint16_t CountBytes() const { return count_; }
  const ChipMemory &Chip() const { return chip_; }
  const Image &LastImage() const { return image_; }
  size_t PendingInput() const { return buf_.size(); }
  // The block the receiver waits for, or -1 when it waits for a frame.
  int AwaitedBlock() const { return awaited_; }

private:
  void Parse(int64_t nowUs, std::vector<Reply> &out);
  void OnFrame(const uint8_t *frame, size_t len, int64_t nowUs, std::vector<Reply> &out);
  void OnBlock(const uint8_t *rec, size_t size, int64_t nowUs, std::vector<Reply> &out);
  void Verify(uint8_t code, int64_t nowUs, std::vector<Reply> &out);
  void ReadOut(uint8_t startHigh, uint8_t sizeK, uint8_t dataflash, int64_t nowUs, std::vector<Reply> &out);
  void Status(uint8_t code, uint8_t status, const char *cmd, int64_t nowUs, std::vector<Reply> &out);
  void Emit(Reply r, int64_t nowUs, std::vector<Reply> &out);
  void Log(int64_t nowUs, const std::string &members);

  BoxOptions opt_;
  ChipMemory chip_;
  Image image_;   // last successful load
  Image pending_; // load in progress
  uint8_t mode_ = kModeOffline;
  uint8_t power_ = 0x50;
  uint16_t count_ = 0;
  int awaited_ = -1;
  size_t awaitSize_ = kFirstBlockSize;
  size_t orderIndex_ = 0;
  int failuresLeft_ = -1; // loads failAtBlock may still fail; negative: no limit
  std::vector<uint8_t> buf_;
  int64_t lastInputUs_ = 0;
  std::vector<std::string> log_;
};

} // namespace boxsim
