#include "protocol/reply.h"

#include "base/convert.h"
#include "base/exception.h"
#include "protocol/frames.h"

#include <algorithm>

namespace protocol {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

QString HexByte(uint8_t value) {
  const char text[2] = {kHexDigits[value >> 4], kHexDigits[value & 0x0F]};
  return QString::fromLatin1(text, 2);
}

bool IsOneOf(const QString &text, std::initializer_list<const char *> values) {
  return std::any_of(values.begin(), values.end(), [&](const char *v) { return text == QLatin1String(v); });
}

constexpr size_t kShownBytes = 16;

// The first 16 bytes as hex, "…" when there were more.
QString BytesText(std::span<const uint8_t> burst) {
  QString bytes;
  for (size_t i = 0; i < std::min(burst.size(), kShownBytes); ++i)
    bytes += (i ? QStringLiteral(" ") : QString()) + HexByte(burst[i]);
  if (burst.size() > kShownBytes)
    bytes += QStringLiteral(" …");
  return bytes;
}

// A burst that is no reply ends the operation: waiting on would only hide
// what the line brought until the time-out.
void NotAReply(ReplyActions &actions, const uint8_t *burst, size_t length) {
  actions.notAReply = true;
  actions.stopClocks = true;
  actions.end = Outcome::BoxFailed;
  actions.message = NotAReplyText(std::span(burst, length));
}

// A reply the box is not designed to send ends the operation at once as a box
// failure: no success, and no time-out that would say the box did not answer.
void Untrusted(ReplyActions &actions, const base::Message &message) {
  actions = ReplyActions{};
  actions.stopClocks = true;
  actions.end = Outcome::BoxFailed;
  actions.message = message;
}

// Whether a reply frame of any operation begins anywhere in `rest`.
bool HoldsAReply(std::span<const uint8_t> rest) {
  for (size_t i = 0; i < rest.size(); ++i)
    for (const uint8_t command :
         {kCommandSet, kCommandVerify, kCommandReadOut, kCommandEraseProgramVerify, kCommandFileTransfer})
      if (ReplyPayload(rest.subspan(i), *ReplyCodeOf(command)))
        return true;
  return false;
}

// Verify and erase-program-verify read the same statuses, with their own texts.
void HandleVerifyReply(ReplyActions &actions, std::span<const uint8_t> payload, std::span<const uint8_t> burst,
                       const base::Message &succeeded, const base::Message &failed) {
  actions.stopClocks = true;
  actions.end = Outcome::BoxFailed;
  switch (payload[0]) {
  case kStatusSucceeded:
    actions.showFullProgress = true;
    actions.message = succeeded;
    actions.end = Outcome::Ok;
    break;
  case kStatusFailed:
    actions.message = failed;
    break;
  case kStatusProtected:
    actions.message = ReplyText::CannotVerifyProtected;
    actions.end = Outcome::ReadProtected;
    break;
  case kStatusMismatch:
    if (payload.size() >= 5) {
      actions.message = MismatchText(payload[1], payload[2], payload[3], payload[4]);
      actions.end = Outcome::VerifyMismatch;
      actions.mismatch = Mismatch{uint16_t(payload[1] << 8 | payload[2]), payload[3], payload[4]};
    } else {
      actions.message = UnknownStatusText(payload[0], burst); // a mismatch without its cell
    }
    break;
  default:
    actions.message = UnknownStatusText(payload[0], burst);
    break;
  }
}

void HandleFileTransferReply(ReplyActions &actions, OperationState &state, std::span<const uint8_t> payload,
                             std::span<const uint8_t> burst, bool online) {
  switch (payload[0]) {
  case kStatusSucceeded:
    if (const uint16_t missing = state.BlocksToAsk & ~state.BlocksAsked) {
      Untrusted(actions, BlocksNotAskedText(missing));
      break;
    }
    actions.stopClocks = true;
    actions.showFullProgress = true;
    actions.message = online ? ReplyText::FileBurned : ReplyText::FileLoaded;
    actions.end = Outcome::Ok;
    break;
  case kStatusFailed:
    actions.stopClocks = true;
    actions.message = ReplyText::FileLoadFailed;
    actions.end = Outcome::BoxFailed;
    break;
  case kStatusBlockRequest:
    if (payload.size() < 2) { // a request that names no block
      Untrusted(actions, UnknownStatusText(payload[0], burst));
      break;
    }
    // Numbers beyond the 16 slots are ignored: there is nothing to send.
    if (payload[1] < image::kBlockSlots) {
      actions.sendBlock = payload[1];
      state.BlocksAsked |= uint16_t(1u << payload[1]);
    }
    break;
  default:
    Untrusted(actions, UnknownStatusText(payload[0], burst));
    break;
  }
}

std::optional<std::span<const uint8_t>> ReadOutPayload(const uint8_t *burst, size_t length) {
  return ReplyPayload(std::span(burst, length), *ReplyCodeOf(kCommandReadOut));
}

// A read-out burst that is a status reply: the read-out's status frame at any
// time, or any burst of 5 bytes or fewer with no block part pending.
bool IsReadOutStatus(const std::vector<uint8_t> &pending, const uint8_t *burst, size_t length) {
  if (length <= kReadOutStatusMaxLength && pending.empty())
    return true;
  return length == kReadOutStatusMaxLength && ReadOutPayload(burst, length);
}

// Counts one whole block and adds its lines; false when the read-out cannot go on.
bool TakeReadOutBlock(ReplyActions &actions, OperationState &state, const chip::ChipNumbers &chip,
                      const uint8_t *block) {
  ++state.ReadBlockCount;
  if (!chip.sizeK) {
    actions.conversionError = base::NotValidIntegerText(chip.sizeKText);
    return false;
  }
  const bool last = *chip.sizeK / 4 == int32_t(state.ReadBlockCount);
  if (last) {
    actions.stopClocks = true;
    actions.showFullProgress = true;
    actions.end = Outcome::Ok;
  }
  state.ReadAddress = ReadOutBase(state.ReadBlockCount, chip.dataflashCode, chip.start, state.ReadAddress);
  actions.readOutBlocks.emplace_back(uint32_t(state.ReadAddress),
                                     std::vector<uint8_t>(block, block + image::kBlockDataSize));
  actions.readOutLines += ReadOutBlockLines(state.ReadAddress, block);
  return !last;
}

void HandleReadOutReply(ReplyActions &actions, OperationState &state, const chip::ChipNumbers &chip,
                        std::vector<uint8_t> &pending, const uint8_t *burst, size_t length) {
  if (IsReadOutStatus(pending, burst, length)) {
    pending.clear();
    const auto payload = ReadOutPayload(burst, length);
    if (!payload) {
      NotAReply(actions, burst, length);
      return;
    }
    actions.stopClocks = true;
    actions.end = Outcome::BoxFailed;
    if ((*payload)[0] == kStatusProtected) {
      actions.message = ReplyText::CannotReadProtected;
      actions.end = Outcome::ReadProtected;
    } else if ((*payload)[0] == kStatusFailed) {
      actions.message = ReplyText::ReadFailed;
    } else {
      actions.message = UnknownStatusText((*payload)[0], std::span(burst, length));
    }
    return;
  }
  // The box sends each block as one burst: a burst of a whole block or more is
  // that block (a part gathered before it, and bytes after its last whole
  // block, belong to no block). A reader late by more than the silence takes
  // the blocks the box sent meanwhile as one burst: each whole block in it
  // counts. Only shorter bursts, a block the line split, are gathered.
  if (length >= image::kBlockDataSize) {
    pending.clear();
    for (size_t at = 0; at + image::kBlockDataSize <= length; at += image::kBlockDataSize)
      if (!TakeReadOutBlock(actions, state, chip, burst + at))
        break;
    return;
  }
  pending.insert(pending.end(), burst, burst + length);
  if (pending.size() < image::kBlockDataSize)
    return;
  const std::vector<uint8_t> block(pending.begin(), pending.begin() + image::kBlockDataSize);
  pending.erase(pending.begin(), pending.begin() + image::kBlockDataSize);
  if (!TakeReadOutBlock(actions, state, chip, block.data()))
    pending.clear(); // nothing after the last block belongs to one
}

} // namespace

std::optional<uint8_t> ReplyCodeOf(uint8_t command) {
  switch (command) {
  case kCommandSet:
    return uint8_t(0x06);
  case kCommandVerify:
    return uint8_t(0x03);
  case kCommandReadOut:
    return uint8_t(0x04);
  case kCommandEraseProgramVerify:
    return uint8_t(0x05);
  case kCommandFileTransfer:
    return uint8_t(0x00);
  default:
    return std::nullopt;
  }
}

std::optional<std::span<const uint8_t>> ReplyPayload(std::span<const uint8_t> burst, uint8_t code) {
  if (burst.size() < 5 || burst[0] != kFrameStart || burst[1] != code)
    return std::nullopt;
  const size_t n = burst[2];
  if ((n != 1 && n != 2 && n != 5) || burst.size() < n + 4 || burst[n + 3] != kFrameEnd)
    return std::nullopt;
  return burst.subspan(3, n);
}

base::Message NotAReplyText(std::span<const uint8_t> burst) {
  const base::Message bytes = base::Message::Verbatim(BytesText(burst));
  if (burst.size() == 1)
    return {"Operation", kNotAReplyOnePattern, {bytes}};
  return {"Operation", kNotAReplyPattern, {base::Message::Verbatim(QString::number(burst.size())), bytes}};
}

base::Message UnknownStatusText(uint8_t status, std::span<const uint8_t> burst) {
  return {"Operation", kUnknownStatusPattern,
          {base::Message::Verbatim(HexByte(status)), base::Message::Verbatim(BytesText(burst))}};
}

base::Message ManyRepliesText(std::span<const uint8_t> burst) {
  return {"Operation", kManyRepliesPattern, {base::Message::Verbatim(BytesText(burst))}};
}

base::Message BlocksNotAskedText(uint16_t missing) {
  QStringList numbers;
  for (uint32_t n = 0; n < 16; ++n)
    if (missing & (1u << n))
      numbers << QString::number(n);
  return {"Operation", kBlocksNotAskedPattern, {base::Message::Verbatim(numbers.join(QStringLiteral(", ")))}};
}

bool IsWholeReplyFrame(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size();
  return (n == 5 || n == 6 || n == 9) && bytes[0] == 0x68 && bytes[2] == n - 4 && bytes[n - 1] == 0x16;
}

base::Message MismatchText(uint8_t addressHigh, uint8_t addressLow, uint8_t written, uint8_t read) {
  return {"Operation", kMismatchPattern,
          {base::Message::Verbatim(HexByte(addressHigh) + HexByte(addressLow)),
           base::Message::Verbatim(HexByte(written)), base::Message::Verbatim(HexByte(read))}};
}

QString ReadOutLine(uint32_t address, const uint8_t *bytes16) {
  char text[8 + 3 + 16 * 3];
  int digits = 4;
  while (digits < 8 && (address >> (4 * digits)) != 0)
    ++digits;
  int n = 0;
  for (int d = digits - 1; d >= 0; --d)
    text[n++] = kHexDigits[(address >> (4 * d)) & 0x0F];
  text[n++] = ':';
  text[n++] = ':';
  text[n++] = ' ';
  for (int i = 0; i < 16; ++i) {
    text[n++] = kHexDigits[bytes16[i] >> 4];
    text[n++] = kHexDigits[bytes16[i] & 0x0F];
    text[n++] = ' ';
  }
  return QString::fromLatin1(text, n);
}

int32_t ReadOutBase(uint8_t count, const QString &dataflashCode, uint32_t chipStart, int32_t current) {
  if (count == 1) {
    if (IsOneOf(dataflashCode, {"0xB0", "0xB2"}))
      return 0xB000;
    if (IsOneOf(dataflashCode, {"0x10", "0x14"}))
      return 0x1000;
    return int32_t(chipStart);
  }
  if (count == 2 && IsOneOf(dataflashCode, {"0xB0", "0xB2", "0x10", "0x14"}))
    return int32_t(chipStart);
  return current;
}

QStringList ReadOutBlockLines(int32_t &address, const uint8_t *block) {
  QStringList lines;
  lines.reserve(qsizetype(kReadOutLinesPerBlock));
  for (size_t i = 0; i < kReadOutLinesPerBlock; ++i) {
    lines.append(ReadOutLine(uint32_t(address), block + 16 * i));
    address = int32_t(uint32_t(address) + 16); // wraps instead of overflowing
  }
  return lines;
}

ReplyActions HandleReply(OperationState &state, const chip::ChipNumbers &chip, std::vector<uint8_t> &readOutPending,
                         bool online, const uint8_t *burst, size_t length) {
  ReplyActions actions;
  const std::optional<uint8_t> code = ReplyCodeOf(state.CurrentCommand);
  if (!code) // none, or a code no operation uses
    return actions;
  if (state.CurrentCommand == kCommandReadOut) {
    HandleReadOutReply(actions, state, chip, readOutPending, burst, length);
    return actions;
  }
  const std::span<const uint8_t> whole(burst, length);
  const auto payload = ReplyPayload(whole, *code);
  if (!payload) {
    NotAReply(actions, burst, length);
    return actions;
  }
  // What a block request asks for is answered whatever follows it; any other
  // reply would end the operation, which a second reply puts in doubt.
  const bool blockRequest = state.CurrentCommand == kCommandFileTransfer && (*payload)[0] == kStatusBlockRequest;
  if (!blockRequest && HoldsAReply(whole.subspan(payload->size() + 4))) {
    Untrusted(actions, ManyRepliesText(whole));
    return actions;
  }
  switch (state.CurrentCommand) {
  case kCommandSet:
    actions.stopClocks = true;
    actions.end = Outcome::BoxFailed;
    if ((*payload)[0] == kStatusSucceeded) {
      actions.message = ReplyText::SetSucceeded;
      actions.end = Outcome::Ok;
    } else if ((*payload)[0] != kStatusFailed) { // a refused set shows nothing
      actions.message = UnknownStatusText((*payload)[0], whole);
    }
    break;
  case kCommandVerify:
    HandleVerifyReply(actions, *payload, whole, ReplyText::VerifySucceeded, ReplyText::VerifyFailed);
    break;
  case kCommandEraseProgramVerify:
    HandleVerifyReply(actions, *payload, whole, ReplyText::EraseProgramVerifySucceeded,
                      ReplyText::EraseProgramVerifyFailed);
    break;
  case kCommandFileTransfer:
    HandleFileTransferReply(actions, state, *payload, whole, online);
    break;
  default:
    break;
  }
  return actions;
}

} // namespace protocol
