#include "protocol/reply.h"

#include <gtest/gtest.h>

using namespace protocol;

namespace {

// A reply frame as the box sends it to operation `command`: status, then `tail`.
std::vector<uint8_t> Status(uint8_t command, uint8_t status, std::initializer_list<uint8_t> tail = {}) {
  std::vector<uint8_t> burst = {0x68, ReplyCodeOf(command).value_or(0x00), uint8_t(1 + tail.size()), status};
  for (uint8_t b : tail)
    burst.push_back(b);
  burst.push_back(0x16);
  return burst;
}

struct Expect {
  bool stop;
  bool full;
  std::optional<base::Message> message;
  std::optional<uint8_t> block;
};

Expect Nothing() { return {false, false, std::nullopt, std::nullopt}; }
Expect Stop() { return {true, false, std::nullopt, std::nullopt}; }
Expect StopSay(const base::Message &text) { return {true, false, text, std::nullopt}; }
Expect StopFullSay(const base::Message &text) { return {true, true, text, std::nullopt}; }
Expect Send(uint8_t block) { return {false, false, std::nullopt, block}; }

struct Row {
  uint8_t command;
  std::vector<uint8_t> burst;
  bool online;
  Expect expect;
  const char *what;
};

const std::vector<Row> &Rows() {
  using namespace ReplyText;
  static const std::vector<Row> rows = {
      // No operation, or a code none uses: nothing at all, whatever the status.
      {0, Status(0, 0x99), false, Nothing(), "none / 0x99"},
      {2, Status(2, 0x00), false, Nothing(), "code 2 / 0x00"},
      {3, Status(3, 0x55, {1}), false, Nothing(), "code 3 / 0x55"},
      {8, Status(8, 0x99), false, Nothing(), "code 8 / 0x99"},
      {255, Status(255, 0x11), false, Nothing(), "code 255 / 0x11"},
      // Set: always stops; only 0x99 speaks.
      {1, Status(1, 0x99), false, StopSay(SetSucceeded), "set / 0x99"},
      {1, Status(1, 0x00), false, Stop(), "set / 0x00"},
      {1, Status(1, 0xEE, {1, 2, 3, 4}), false,
       StopSay(UnknownStatusText(0xEE, Status(1, 0xEE, {1, 2, 3, 4}))), "set / 0xEE"},
      {1, Status(1, 0x42), false, StopSay(UnknownStatusText(0x42, Status(1, 0x42))), "set / 0x42"},
      {1, {0x68, 0x06, 0x01, 0x99, 0x16, 0x68, 0x06, 0x01, 0x00, 0x16}, false,
       StopSay(ManyRepliesText(std::vector<uint8_t>{0x68, 0x06, 0x01, 0x99, 0x16, 0x68, 0x06, 0x01, 0x00, 0x16})),
       "set / a success and a failure in one burst"},
      {1, {0x68, 0x06, 0x01, 0x99, 0x16, 0x00}, false, StopSay(SetSucceeded), "set / a byte after its reply"},
      {1, {0x68}, false, StopSay(NotAReplyText(std::vector<uint8_t>{0x68})), "set / one byte"},
      // Verify.
      {4, Status(4, 0x99), false, StopFullSay(VerifySucceeded), "verify / 0x99"},
      {4, Status(4, 0x00), false, StopSay(VerifyFailed), "verify / 0x00"},
      {4, Status(4, 0x11), false, StopSay(CannotVerifyProtected), "verify / 0x11"},
      {4, Status(4, 0xEE, {0x12, 0x34, 0xAB, 0xCD}), false,
       StopSay(QStringLiteral("校验没通过，错误地址：1234,  写入是 AB 读出是 CD")), "verify / 0xEE"},
      {4, Status(4, 0x55, {1}), false, StopSay(UnknownStatusText(0x55, Status(4, 0x55, {1}))), "verify / other"},
      {4, Status(4, 0xEE, {0x12}), false, StopSay(UnknownStatusText(0xEE, Status(4, 0xEE, {0x12}))),
       "verify / 0xEE without its cell"},
      {4, {0x68, 0x03, 0x01, 0x99, 0x16, 0x68, 0x03, 0x01, 0x00, 0x16}, false,
       StopSay(ManyRepliesText(std::vector<uint8_t>{0x68, 0x03, 0x01, 0x99, 0x16, 0x68, 0x03, 0x01, 0x00, 0x16})),
       "verify / a success and a failure in one burst"},
      {4, {0x68, 0x03, 0x01, 0x99, 0x16, 0x42, 0x68, 0x06, 0x01, 0x99, 0x16}, false,
       StopSay(ManyRepliesText(std::vector<uint8_t>{0x68, 0x03, 0x01, 0x99, 0x16, 0x42, 0x68, 0x06, 0x01, 0x99, 0x16})),
       "verify / another operation's reply after a byte"},
      // Erase, program and verify.
      {6, Status(6, 0x99), true, StopFullSay(EraseProgramVerifySucceeded), "epv / 0x99"},
      {6, Status(6, 0x00), true, StopSay(EraseProgramVerifyFailed), "epv / 0x00"},
      {6, Status(6, 0x11), true, StopSay(CannotVerifyProtected), "epv / 0x11"},
      {6, Status(6, 0xEE, {0x00, 0x0F, 0x01, 0xF0}), true,
       StopSay(QStringLiteral("校验没通过，错误地址：000F,  写入是 01 读出是 F0")), "epv / 0xEE"},
      {6, Status(6, 0x42), true, StopSay(UnknownStatusText(0x42, Status(6, 0x42))), "epv / other"},
      // Read-out status replies (5 bytes or fewer).
      {5, Status(5, 0x11), false, StopSay(CannotReadProtected), "read / 0x11"},
      {5, Status(5, 0x00), false, StopSay(ReadFailed), "read / 0x00"},
      {5, Status(5, 0x99), false, StopSay(UnknownStatusText(0x99, Status(5, 0x99))), "read / other"},
      // File transfer: the success text follows "Online" at the moment of the reply.
      {7, Status(7, 0x99), true, StopFullSay(FileBurned), "transfer / 0x99 online"},
      {7, Status(7, 0x99), false, StopFullSay(FileLoaded), "transfer / 0x99 offline"},
      {7, Status(7, 0x00), false, StopSay(FileLoadFailed), "transfer / 0x00"},
      {7, Status(7, 0x55, {3}), false, Send(3), "transfer / block 3"},
      {7, Status(7, 0x55, {15}), false, Send(15), "transfer / block 15"},
      {7, {0x68, 0x00, 0x02, 0x55, 0x04, 0x16, 0x68, 0x00, 0x02, 0x55, 0x05, 0x16}, false, Send(4),
       "transfer / two requests in one burst: the first"},
      {7, Status(7, 0x55, {16}), false, Nothing(), "transfer / block 16 ignored"},
      {7, Status(7, 0x55, {0xFF}), false, Nothing(), "transfer / block 255 ignored"},
      {7, Status(7, 0x55), false, StopSay(UnknownStatusText(0x55, Status(7, 0x55))), "transfer / a request of no block"},
      {7, {0x68, 0x00, 0x02, 0x55, 0x04, 0x16, 0x68, 0x00, 0x01, 0x99, 0x16}, false, Send(4),
       "transfer / a request and a success in one burst: the request"},
      {7, {0x68, 0x00, 0x01, 0x99, 0x16, 0x68, 0x00, 0x01, 0x00, 0x16}, false,
       StopSay(ManyRepliesText(std::vector<uint8_t>{0x68, 0x00, 0x01, 0x99, 0x16, 0x68, 0x00, 0x01, 0x00, 0x16})),
       "transfer / a success and a failure in one burst"},
      {7, Status(7, 0x11), false, StopSay(UnknownStatusText(0x11, Status(7, 0x11))), "transfer / other"},
      {7, Status(7, 0xEE, {1, 2, 3, 4}), false, StopSay(UnknownStatusText(0xEE, Status(7, 0xEE, {1, 2, 3, 4}))),
       "transfer / 0xEE"},
  };
  return rows;
}

TEST(ReplyTableTest, EveryCommandAndStatusRow) {
  for (const auto &row : Rows()) {
    OperationState state;
    state.CurrentCommand = row.command;
    std::vector<uint8_t> pending;
    const ReplyActions a =
        HandleReply(state, chip::ChipNumbers{}, pending, row.online, row.burst.data(), row.burst.size());
    EXPECT_EQ(a.stopClocks, row.expect.stop) << row.what;
    EXPECT_EQ(a.showFullProgress, row.expect.full) << row.what;
    EXPECT_EQ(a.message, row.expect.message) << row.what;
    EXPECT_EQ(a.sendBlock, row.expect.block) << row.what;
    EXPECT_EQ(a.end.has_value(), row.expect.stop) << row.what << ": what stops the clocks ends the operation";
    EXPECT_TRUE(a.readOutLines.isEmpty()) << row.what;
    EXPECT_FALSE(a.conversionError) << row.what;
    EXPECT_EQ(state.CurrentCommand, row.command) << row.what << ": a reply never changes the operation";
  }
}

// A status an earlier burst carried is never acted upon again:
// a shorter burst after it is no frame, and only its own bytes are shown.
TEST(ShortBurstTest, OldStatusInReplyBufferIsNotReportedAgain) {
  struct Case {
    uint8_t command;
    std::vector<uint8_t> first, second;
    const char *what;
  } cases[] = {
      {7, Status(7, 0x99), {0x01, 0x02}, "transfer: 2 bytes after a 0x99"},
      {7, Status(7, 0x55, {2}), {0x01, 0x02, 0x03, 0x55}, "transfer: a 0x55 without its block number"},
      {4, Status(4, 0x99), {0x01, 0x02, 0x03}, "verify: 3 bytes after a 0x99"},
      {4, Status(4, 0xEE, {1, 2, 3, 4}), {0x68, 0x03, 0x05, 0xEE, 0x12, 0x34, 0xAB}, "verify: 0xEE without byte 7"},
      {6, Status(6, 0x00), {0x07}, "epv: 1 byte after a 0x00"},
      {1, Status(1, 0x99), {0x00, 0x00, 0x00}, "set: 3 bytes after a 0x99"},
      {5, Status(5, 0x11), {0x00}, "read-out: 1 byte after a 0x11"},
  };
  for (const auto &c : cases) {
    OperationState state;
    state.CurrentCommand = c.command;
    std::vector<uint8_t> pending;
    HandleReply(state, chip::ChipNumbers{}, pending, true, c.first.data(), c.first.size());
    const ReplyActions a = HandleReply(state, chip::ChipNumbers{}, pending, true, c.second.data(), c.second.size());
    EXPECT_TRUE(a.stopClocks) << c.what;
    EXPECT_FALSE(a.showFullProgress) << c.what;
    EXPECT_EQ(a.message, NotAReplyText(c.second)) << c.what << ": " << a.message.value_or(base::Message()).Designed().toStdString();
    EXPECT_EQ(a.end, Outcome::BoxFailed) << c.what;
    EXPECT_FALSE(a.sendBlock) << c.what;
  }
}

// Only a burst that begins with the operation's reply frame (start byte, its
// code, length, end byte) is an answer; anything else, whatever its byte 3,
// ends the operation as a box failure that shows what came.
TEST(NotAReplyTest, BurstsWithoutTheOperationsFrameAreNeverASuccess) {
  const std::vector<uint8_t> fake = {0x13, 0x37, 0x00, 0x99, 0x42, 0x42, 0x42, 0x42};
  struct Case {
    uint8_t command;
    std::vector<uint8_t> burst;
    const char *what;
  } cases[] = {
      {kCommandSet, fake, "set / no frame"},
      {kCommandVerify, fake, "verify / no frame"},
      {kCommandEraseProgramVerify, fake, "epv / no frame"},
      {kCommandFileTransfer, fake, "transfer / no frame"},
      {kCommandReadOut, {0x13, 0x37, 0x00, 0x11}, "read-out / short, no frame"},
      {kCommandVerify, {0x68, 0x06, 0x01, 0x99, 0x16}, "verify / the set's code"},
      {kCommandReadOut, {0x68, 0x03, 0x01, 0x11, 0x16}, "read-out / verify's code"},
      {kCommandSet, {0x68, 0x06, 0x01, 0x99}, "set / no end byte"},
      {kCommandSet, {0x68, 0x06, 0x01, 0x99, 0x00}, "set / a wrong end byte"},
      {kCommandSet, {0x68, 0x06, 0x02, 0x99, 0x16}, "set / length past the burst"},
      {kCommandFileTransfer, {0x68, 0x00, 0x03, 0x99, 0x00, 0x00, 0x16}, "transfer / a length no reply has"},
  };
  for (const auto &c : cases) {
    OperationState state;
    state.CurrentCommand = c.command;
    std::vector<uint8_t> pending;
    const ReplyActions a = HandleReply(state, chip::ChipNumbers{}, pending, true, c.burst.data(), c.burst.size());
    EXPECT_TRUE(a.stopClocks) << c.what;
    EXPECT_FALSE(a.showFullProgress) << c.what;
    EXPECT_EQ(a.end, Outcome::BoxFailed) << c.what;
    EXPECT_EQ(a.message, NotAReplyText(c.burst)) << c.what;
    EXPECT_FALSE(a.sendBlock) << c.what;
  }
  EXPECT_EQ(NotAReplyText(fake), QStringLiteral("编程器发来的 8 个字节不是应答：13 37 00 99 42 42 42 42"));
}

// A load is a success only once the box asked for every block holding data of
// the file in the selected sectors, in any order, repeats and empty slots
// allowed; a success before that names the blocks never asked for.
TEST(TransferTest, ASuccessCountsOnlyOnceEveryBlockOfTheFileWasAskedFor) {
  const struct {
    uint16_t toAsk;
    std::vector<uint8_t> asked;
    std::optional<uint16_t> missing; // none: a success
    const char *what;
  } cases[] = {
      {0x000E, {3, 1, 2}, std::nullopt, "in any order"},
      {0x000E, {1, 1, 2, 2, 3}, std::nullopt, "repeated"},
      {0x000E, {1, 9, 2, 3}, std::nullopt, "with a slot the image leaves empty"},
      {0x0000, {}, std::nullopt, "a file in block 0 alone"},
      {0x00FE, {}, 0x00FE, "after block 0 alone"},
      {0x000E, {1, 3}, 0x0004, "one block never asked for"},
  };
  for (const auto &c : cases) {
    OperationState state;
    state.CurrentCommand = kCommandFileTransfer;
    state.BlocksToAsk = c.toAsk;
    state.BlocksAsked = 1;
    std::vector<uint8_t> pending;
    for (const uint8_t n : c.asked) {
      const auto request = Status(kCommandFileTransfer, kStatusBlockRequest, {n});
      const ReplyActions a = HandleReply(state, chip::ChipNumbers{}, pending, true, request.data(), request.size());
      EXPECT_EQ(a.sendBlock, n) << c.what;
      EXPECT_FALSE(a.end) << c.what;
    }
    const auto success = Status(kCommandFileTransfer, kStatusSucceeded);
    const ReplyActions a = HandleReply(state, chip::ChipNumbers{}, pending, true, success.data(), success.size());
    EXPECT_TRUE(a.stopClocks) << c.what;
    EXPECT_EQ(a.end, c.missing ? Outcome::BoxFailed : Outcome::Ok) << c.what;
    EXPECT_EQ(a.showFullProgress, !c.missing) << c.what;
    EXPECT_EQ(a.message, c.missing ? BlocksNotAskedText(*c.missing) : ReplyText::FileBurned) << c.what;
  }
}

TEST(MismatchTextTest, TwoUpperCaseDigitsPerByteWithNothingInBetween) {
  EXPECT_EQ(MismatchText(0x12, 0x34, 0xAB, 0xCD), QStringLiteral("校验没通过，错误地址：") + QStringLiteral("1234") +
                                                      QStringLiteral(",  写入是 ") + QStringLiteral("AB") +
                                                      QStringLiteral(" 读出是 ") + QStringLiteral("CD"));
  EXPECT_EQ(MismatchText(0x00, 0x0a, 0x0f, 0xf0), QStringLiteral("校验没通过，错误地址：000A,  写入是 0F 读出是 F0"));
}

} // namespace
