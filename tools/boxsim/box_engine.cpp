#include "box_engine.h"

#include "json_text.h"

#include <algorithm>
#include <utility>

namespace boxsim {

namespace {

// Payload length of each known command; a start byte followed by a known code
// and another length is not a frame.
std::optional<size_t> PayloadLength(uint8_t code) {
  switch (code) {
  case kCodeLoad:
    return 2;
  case kCodeCheck:
  case kCodeEpc:
    return 0;
  case kCodeRead:
    return 3;
  case kCodeSet:
    return 4;
  default:
    return std::nullopt;
  }
}

std::string Num(int64_t v) { return std::to_string(v); }

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

uint32_t Sum(const uint8_t *data, size_t len) {
  uint32_t sum = 0;
  for (size_t i = 0; i < len; ++i)
    sum += data[i];
  return sum;
}

} // namespace

ChipMemory::ChipMemory(uint8_t fill, std::optional<uint16_t> faultyCell) : faulty_(faultyCell) {
  cells_.fill(fill);
  if (faulty_)
    cells_[*faulty_] = fill ^ 0x01;
}

void ChipMemory::Program(uint16_t addr, uint8_t value) {
  cells_[addr] = (faulty_ && *faulty_ == addr) ? static_cast<uint8_t>(value ^ 0x01) : value;
}

void ChipMemory::EraseAll() {
  for (size_t a = 0; a < kChipSize; ++a)
    Program(static_cast<uint16_t>(a), kErased);
}

bool Image::Any() const {
  return std::any_of(present.begin(), present.end(), [](bool p) { return p; });
}

BoxEngine::BoxEngine(BoxOptions options)
    : opt_(std::move(options)), chip_(opt_.chipFill, opt_.mismatchAddr), failuresLeft_(opt_.failTimes) {}

std::vector<Reply> BoxEngine::Feed(const uint8_t *data, size_t len, int64_t nowUs) {
  std::vector<Reply> out;
  if (len == 0)
    return out;
  Tick(nowUs);
  buf_.insert(buf_.end(), data, data + len);
  lastInputUs_ = nowUs;
  Parse(nowUs, out);
  return out;
}

void BoxEngine::Tick(int64_t nowUs) {
  if (buf_.empty() || nowUs - lastInputUs_ < kInputIdleTimeoutUs)
    return;
  Log(nowUs, "\"kind\":\"drop\",\"len\":" + Num(static_cast<int64_t>(buf_.size())) +
                 ",\"bytes\":" + Quoted(HexBytes(buf_.data(), buf_.size())));
  buf_.clear();
}

std::vector<std::string> BoxEngine::TakeLog() { return std::exchange(log_, {}); }

void BoxEngine::Parse(int64_t nowUs, std::vector<Reply> &out) {
  // Skipped bytes are gathered and logged as one record before the next frame or block.
  size_t junkLen = 0;
  std::string junkHex;
  size_t pos = 0;
  auto addJunk = [&] {
    ++junkLen;
    junkHex += HexByte(buf_[pos++]);
  };
  auto logJunk = [&] {
    if (junkLen > 0) {
      Log(nowUs, "\"kind\":\"junk\",\"len\":" + Num(static_cast<int64_t>(junkLen)) + ",\"bytes\":" + Quoted(junkHex));
      junkHex.clear();
      junkLen = 0;
    }
  };

  while (pos < buf_.size()) {
    const size_t avail = buf_.size() - pos;
    const uint8_t *p = buf_.data() + pos;
    if (awaited_ >= 0) {
      if (p[0] == kStartByte) {
        logJunk();
        Log(nowUs, "\"kind\":\"abandon\",\"awaited\":" + Num(awaited_));
        awaited_ = -1;
        continue;
      }
      const size_t size = awaitSize_; // OnBlock sets the next one
      if (avail < size)
        break;
      logJunk();
      OnBlock(p, size, nowUs, out);
      pos += size;
      continue;
    }
    if (p[0] != kStartByte) {
      addJunk();
      continue;
    }
    if (avail < 3)
      break;
    const uint8_t code = p[1];
    const size_t n = p[2];
    const auto known = PayloadLength(code);
    if (known && *known != n) {
      addJunk();
      continue;
    }
    if (avail < n + 4)
      break;
    if (p[n + 3] != kEndByte) {
      addJunk();
      continue;
    }
    logJunk();
    OnFrame(p, n + 4, nowUs, out); // does not touch buf_
    pos += n + 4;
  }
  logJunk();
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void BoxEngine::OnFrame(const uint8_t *frame, size_t len, int64_t nowUs, std::vector<Reply> &out) {
  const uint8_t code = frame[1];
  const uint8_t *payload = frame + 3;
  const std::string bytes = ",\"bytes\":" + Quoted(HexBytes(frame, len));

  switch (code) {
  case kCodeSet: {
    Log(nowUs, "\"kind\":\"set\",\"mode\":" + Quoted(HexByte(payload[0])) + ",\"power\":" +
                   Quoted(HexByte(payload[1])) + ",\"count\":" + Quoted(HexBytes(payload + 2, 2)) + bytes);
    if (payload[0] != kModeOnline && payload[0] != kModeOffline) {
      Status(code, kStatusFail, "set", nowUs, out);
      return;
    }
    mode_ = payload[0];
    power_ = payload[1];
    count_ = static_cast<uint16_t>(payload[2] << 8 | payload[3]);
    Status(code, kStatusOk, "set", nowUs, out);
    return;
  }
  case kCodeLoad:
    Log(nowUs, "\"kind\":\"load\"" + bytes);
    if (payload[0] != 0x08 || payload[1] != 0x00) {
      Status(code, kStatusFail, "load", nowUs, out);
      return;
    }
    pending_ = Image{};
    orderIndex_ = 0;
    awaited_ = 0;
    awaitSize_ = kFirstBlockSize;
    return;
  case kCodeCheck:
    Log(nowUs, "\"kind\":\"check\"" + bytes);
    if (opt_.protectedChip) {
      Status(code, kStatusProtected, "check", nowUs, out);
      return;
    }
    Verify(code, nowUs, out);
    return;
  case kCodeEpc:
    Log(nowUs, "\"kind\":\"epc\"" + bytes);
    if (opt_.protectedChip) {
      Status(code, kStatusProtected, "epc", nowUs, out);
      return;
    }
    if (!image_.Any()) {
      Status(code, kStatusFail, "epc", nowUs, out);
      return;
    }
    chip_.EraseAll();
    for (size_t a = 0; a < kChipSize; ++a)
      if (image_.present[a / kBlockDataSize])
        chip_.Program(static_cast<uint16_t>(a), image_.bytes[a]);
    Verify(code, nowUs, out);
    return;
  case kCodeRead:
    Log(nowUs, "\"kind\":\"read\",\"start\":" + Quoted(HexByte(payload[0])) + ",\"size\":" + Num(payload[1]) +
                   ",\"dataflash\":" + Quoted(HexByte(payload[2])) + bytes);
    ReadOut(payload[0], payload[1], payload[2], nowUs, out);
    return;
  default:
    Log(nowUs, "\"kind\":\"frame\",\"code\":" + Quoted(HexByte(code)) + bytes);
    return;
  }
}

void BoxEngine::OnBlock(const uint8_t *rec, size_t size, int64_t nowUs, std::vector<Reply> &out) {
  const int expected = awaited_;
  const uint8_t number = rec[0];
  const uint8_t addr = rec[1];
  const uint8_t *data = rec + 2;
  const uint32_t sum = Sum(data, kBlockDataSize);
  const uint32_t sent = static_cast<uint32_t>(rec[4098]) << 24 | static_cast<uint32_t>(rec[4099]) << 16 |
                        static_cast<uint32_t>(rec[4100]) << 8 | rec[4101];
  const auto expectedAddr = static_cast<uint8_t>(16 * expected);

  std::string reason;
  if (number != expected)
    reason = "number";
  else if (addr != expectedAddr)
    reason = "address";
  else if (sum != sent)
    reason = "sum";

  std::string members = "\"kind\":\"block\",\"n\":" + Num(number) + ",\"expected\":" + Num(expected) +
                        ",\"addr\":" + Num(addr) + ",\"sum\":" + Num(sent) +
                        ",\"ok\":" + (reason.empty() ? "true" : "false");
  if (!reason.empty())
    members += ",\"reason\":" + Quoted(reason) + ",\"computed\":" + Num(sum);
  if (size == kFirstBlockSize) {
    const uint8_t *name = rec + 4102;
    const size_t nameLen = std::find(name, name + 8, 0) - name;
    std::string count;
    for (size_t i = 0; i < 6; ++i)
      count += rec[4110 + i] <= 9 ? static_cast<char>('0' + rec[4110 + i]) : '?';
    members += ",\"name\":" + JsonString(std::string(reinterpret_cast<const char *>(name), nameLen)) +
               ",\"count\":" + Quoted(count) + ",\"sectors\":" + Quoted(HexBytes(rec + 4116, 4));
  }
  members += ",\"data\":" + Quoted(HexBytes(data, kBlockDataSize));
  Log(nowUs, members);

  awaited_ = -1;
  const bool failHere = expected == opt_.failAtBlock && failuresLeft_ != 0;
  if (failHere && failuresLeft_ > 0)
    --failuresLeft_;
  if (failHere || !reason.empty()) {
    Status(kCodeLoad, kStatusFail, "load", nowUs, out);
    return;
  }
  const size_t base = static_cast<size_t>(addr) << 8;
  std::copy(data, data + kBlockDataSize, pending_.bytes.begin() + static_cast<std::ptrdiff_t>(base));
  pending_.present[base / kBlockDataSize] = true;

  if (orderIndex_ < opt_.order.size()) {
    const auto next = static_cast<uint8_t>(opt_.order[orderIndex_++]);
    awaited_ = next;
    awaitSize_ = kBlockSize;
    Reply r;
    r.bytes = {kStartByte, kCodeLoad, 0x02, kStatusRequest, next, kEndByte};
    r.describe = "\"kind\":\"request\",\"n\":" + Num(next);
    Emit(std::move(r), nowUs, out);
    return;
  }
  image_ = pending_;
  if (Online())
    for (size_t a = 0; a < kChipSize; ++a)
      if (image_.present[a / kBlockDataSize])
        chip_.Program(static_cast<uint16_t>(a), image_.bytes[a]);
  Status(kCodeLoad, kStatusOk, "load", nowUs, out);
}

void BoxEngine::Verify(uint8_t code, int64_t nowUs, std::vector<Reply> &out) {
  const char *cmd = code == kCodeEpc ? "epc" : "check";
  if (!image_.Any()) {
    Status(code, kStatusFail, cmd, nowUs, out);
    return;
  }
  for (size_t a = 0; a < kChipSize; ++a) {
    if (!image_.present[a / kBlockDataSize])
      continue;
    const uint8_t written = image_.bytes[a];
    const uint8_t read = chip_.Read(static_cast<uint16_t>(a));
    if (written == read)
      continue;
    Reply r;
    r.bytes = {kStartByte, code, 0x05,    kStatusMismatch, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a),
               written,    read, kEndByte};
    r.describe = "\"kind\":\"mismatch\",\"cmd\":" + Quoted(cmd) +
                 ",\"status\":\"EE\",\"addr\":" + Num(static_cast<int64_t>(a)) +
                 ",\"written\":" + Quoted(HexByte(written)) + ",\"read\":" + Quoted(HexByte(read));
    Emit(std::move(r), nowUs, out);
    return;
  }
  Status(code, kStatusOk, cmd, nowUs, out);
}

void BoxEngine::ReadOut(uint8_t startHigh, uint8_t sizeK, uint8_t dataflash, int64_t nowUs, std::vector<Reply> &out) {
  if (opt_.protectedChip) {
    Status(kCodeRead, kStatusProtected, "read", nowUs, out);
    return;
  }
  const int bursts = sizeK / 4;
  if (bursts == 0) {
    Status(kCodeRead, kStatusFail, "read", nowUs, out);
    return;
  }
  // Dataflash used as code is read first, then the chip from its start address.
  std::optional<uint16_t> first;
  if (dataflash == 0xB0 || dataflash == 0xB2)
    first = 0xB000;
  else if (dataflash == 0x10 || dataflash == 0x14)
    first = 0x1000;
  uint16_t next = static_cast<uint16_t>(startHigh << 8);
  for (int k = 0; k < bursts; ++k) {
    uint16_t base;
    if (k == 0 && first) {
      base = *first;
    } else {
      base = next;
      next = static_cast<uint16_t>(next + kBlockDataSize);
    }
    Reply r;
    r.bytes.resize(kBlockDataSize);
    for (size_t i = 0; i < kBlockDataSize; ++i)
      r.bytes[i] = chip_.Read(static_cast<uint16_t>(base + i));
    r.describe = "\"kind\":\"data\",\"addr\":" + Num(base) + ",\"len\":" + Num(kBlockDataSize) +
                 ",\"data\":" + Quoted(HexBytes(r.bytes.data(), r.bytes.size()));
    r.followsPrevious = k > 0;
    Emit(std::move(r), nowUs, out);
  }
}

void BoxEngine::Status(uint8_t code, uint8_t status, const char *cmd, int64_t nowUs, std::vector<Reply> &out) {
  Reply r;
  r.bytes = {kStartByte, code, 0x01, status, kEndByte};
  r.describe = "\"kind\":\"status\",\"cmd\":" + Quoted(cmd) + ",\"status\":" + Quoted(HexByte(status));
  Emit(std::move(r), nowUs, out);
}

void BoxEngine::Emit(Reply r, int64_t nowUs, std::vector<Reply> &out) {
  if (opt_.silent)
    return;
  r.thinkUs = opt_.thinkUs;
  r.readyUs = nowUs + opt_.thinkUs;
  out.push_back(std::move(r));
}

void BoxEngine::Log(int64_t nowUs, const std::string &members) {
  log_.push_back("{\"t\":" + Num(nowUs / 1000) + ",\"dir\":\"rx\"," + members + "}");
}

} // namespace boxsim
