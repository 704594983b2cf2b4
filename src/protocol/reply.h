#pragma once
// The programmer protocol: how the main window learns the outcome of an
// operation. An operation stores its code in CurrentCommand, sends its frame
// (frames.h) and returns; every burst the serial component delivers later (one
// burst = bytes ended by 100 ms of silence) is read as a reply to that code.
// HandleReply decides, as plain logic over the operation's state, what must be
// done for one burst; the box session applies the actions in the order of the
// fields below. Everything runs on the session's thread; nothing here waits.
//
// A burst is read as a reply only when it begins with a reply frame as the box
// sends it: 0x68, the code of the frame that started the operation (0x00 for
// every reply of a transfer), N, N bytes, 0x16, with N of 1 (a status), 2 (a
// block request) or 5 (a verify mismatch). The status is the frame's byte 3, a
// block request's number byte 4, a mismatch's address and bytes 4..7; what the
// frame does not carry is never taken from an earlier burst (an old status is
// never reported again). A burst without such a frame is no answer at all, so
// it is never a success: it ends the operation as a box failure whose message
// shows the bytes that came.
//
// The box is believed only as far as it is designed to answer. It sends one
// reply at a time: a burst holding another reply after one that would end the
// operation ends it as a box failure showing what came (after a block request
// the rest of the burst is not examined, nor after the end byte when no reply
// follows). A status the operation does not know ends it at once as a box
// failure naming the status and showing the bytes, rather than by the time-out.
// A transfer the box calls successful before it asked for every block holding
// data of the file in the selected sectors (OperationState::BlocksToAsk) is a
// box failure naming the blocks never asked for.
//
// Read-out data are raw: the box sends each read-out block as one burst of
// 4096 bytes. A burst of 4096 or more holds as many blocks as it has whole
// 4096s (a reader late by more than the silence takes the blocks sent
// meanwhile as one burst; bytes beyond the last whole block are ignored);
// shorter bursts, a block the line split, are gathered until a whole
// block is in, so it counts once and shows only bytes the box sent. A burst
// that is a read-out status frame (68 04 01 status 16) is a status reply even
// while part of a block is pending; any other burst of 5 bytes or fewer with
// no block part pending is a status reply that is no frame.

#include "base/message.h"
#include "chip/chip_record.h"
#include "image/firmware_image.h"
#include "protocol/operation_state.h"
#include "protocol/outcome.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace protocol {

// Status codes at reply byte 3.
enum : uint8_t {
  kStatusFailed = 0x00,
  kStatusProtected = 0x11,
  kStatusBlockRequest = 0x55,
  kStatusSucceeded = 0x99,
  kStatusMismatch = 0xEE,
};

inline constexpr size_t kReadOutLinesPerBlock = image::kBlockDataSize / 16;
// A read-out burst of this many bytes or fewer, with no block part pending, is
// a status reply; the read-out's status frame has exactly this many bytes.
inline constexpr size_t kReadOutStatusMaxLength = 5;

// The box's verdicts as the operator is shown them: messages (base/message.h)
// whose designed texts records and scripts keep; each front end renders them.
namespace ReplyText {
inline const base::Message SetSucceeded{"Operation", QT_TRANSLATE_NOOP("Operation", "设置成功!请重新 选择型号及加载/烧写文件")};
inline const base::Message VerifySucceeded{"Operation", QT_TRANSLATE_NOOP("Operation", "校 验 成 功!")};
inline const base::Message VerifyFailed{"Operation", QT_TRANSLATE_NOOP("Operation", "校 验 失 败")};
inline const base::Message CannotVerifyProtected{"Operation", QT_TRANSLATE_NOOP("Operation", "目标芯片已加密，无法校验。")};
inline const base::Message CannotReadProtected{"Operation", QT_TRANSLATE_NOOP("Operation", "目标芯片已加密，无法读出。")};
inline const base::Message ReadFailed{"Operation", QT_TRANSLATE_NOOP("Operation", "读 出 失 败！")};
inline const base::Message EraseProgramVerifySucceeded{"Operation", QT_TRANSLATE_NOOP("Operation", "擦除、编程、校验 成功!")};
inline const base::Message EraseProgramVerifyFailed{"Operation", QT_TRANSLATE_NOOP("Operation", "擦除、编程、校验 失 败")};
inline const base::Message FileBurned{"Operation", QT_TRANSLATE_NOOP("Operation", "文件烧写成功 ")};
inline const base::Message FileLoaded{"Operation", QT_TRANSLATE_NOOP("Operation", "文件加载成功 ")};
inline const base::Message FileLoadFailed{"Operation", QT_TRANSLATE_NOOP("Operation", "文 件 加 载 失 败")};
} // namespace ReplyText

// What the window does for one burst, in this order.
struct ReplyActions {
  bool stopClocks = false;       // disable Timer1, then Timer2
  bool showFullProgress = false; // 100 %
  QStringList readOutLines;      // appended to the read-out view in one go
  // The same blocks as bytes, each with the address of its first byte.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> readOutBlocks;
  std::optional<base::Message> message;
  std::optional<uint8_t> sendBlock;       // answer a block request (always < 16)
  std::optional<QString> conversionError; // raised last, as EConvertError
  // Set when the reply ends the operation: how, and for a mismatch where.
  std::optional<Outcome> end;
  std::optional<Mismatch> mismatch;
  // The burst was no reply: it ends an operation still waiting for its answer;
  // once none waits it is line noise (or data of an earlier read-out) and is dropped.
  bool notAReply = false;
};

// Whether `bytes` are one whole reply frame as the box sends them: 0x68, a
// code, N, N bytes, 0x16 with N of 1 (a status), 2 (a block request) or 5 (a
// verify mismatch). Such a reply can be taken at once instead of after its
// 100 ms of silence; anything else is a burst only once the line is silent.
bool IsWholeReplyFrame(std::span<const uint8_t> bytes);

// The code that reply frames to operation `command` carry at byte 1: that of
// the frame which started it; none for no operation.
std::optional<uint8_t> ReplyCodeOf(uint8_t command);

// The payload (status first) of the reply frame with `code` that `burst`
// begins with; nothing when the burst does not begin with one.
std::optional<std::span<const uint8_t>> ReplyPayload(std::span<const uint8_t> burst, uint8_t code);

// The messages for bursts the box is not designed to send, each showing the
// burst's first 16 bytes as hex, "…" when there were more. %1.. stand for the
// length, the status, the blocks and the bytes.
inline constexpr char kNotAReplyPattern[] = QT_TRANSLATE_NOOP("Operation", "编程器发来的 %1 个字节不是应答：%2");
inline constexpr char kNotAReplyOnePattern[] = QT_TRANSLATE_NOOP("Operation", "编程器发来的 1 个字节不是应答：%1");
inline constexpr char kUnknownStatusPattern[] = QT_TRANSLATE_NOOP("Operation", "编程器应答了未知的状态 %1：%2");
inline constexpr char kManyRepliesPattern[] = QT_TRANSLATE_NOOP("Operation", "编程器一次发来了多个应答：%1");
inline constexpr char kBlocksNotAskedPattern[] =
    QT_TRANSLATE_NOOP("Operation", "编程器报告加载成功，但从未索取文件的这些数据块：%1");
// A burst that is no reply: its length and its bytes.
base::Message NotAReplyText(std::span<const uint8_t> burst);
// A reply with a status its operation does not know: the status and the bytes.
base::Message UnknownStatusText(uint8_t status, std::span<const uint8_t> burst);
// A burst holding more than one reply: its bytes.
base::Message ManyRepliesText(std::span<const uint8_t> burst);
// A transfer called successful before blocks `missing` (bit n for block n)
// were asked for: their numbers, "3, 5".
base::Message BlocksNotAskedText(uint16_t missing);

// "校验没通过，错误地址：HHLL,  写入是 WW 读出是 RR": the address as %1.
inline constexpr char kMismatchPattern[] =
    QT_TRANSLATE_NOOP("Operation", "校验没通过，错误地址：%1,  写入是 %2 读出是 %3");
base::Message MismatchText(uint8_t addressHigh, uint8_t addressLow, uint8_t written, uint8_t read);

// One read-out line: the address (upper-case hex, at least 4 digits), ":: ",
// then each of the 16 bytes as two upper-case hex digits and a blank.
QString ReadOutLine(uint32_t address, const uint8_t *bytes16);

// Address of the first line of read-out block `count` (1-based, as counted):
// block 1 at the dataflash when it is used as code, else at ChipStart; block 2
// at ChipStart when the dataflash is used as code; otherwise where the previous
// block ended.
int32_t ReadOutBase(uint8_t count, const QString &dataflashCode, uint32_t chipStart, int32_t current);

// The 256 lines of one 4096-byte block, starting at `address`, which advances by 16 per line.
QStringList ReadOutBlockLines(int32_t &address, const uint8_t *block);

// Handles one delivered burst: updates the read-out counters, gathers read-out data in `readOutPending` and returns
// what the front end must do. `chip` is what the read-out in progress was
// started for; `online` is whether the box was set online (the success text of
// a transfer says so).
ReplyActions HandleReply(OperationState &state, const chip::ChipNumbers &chip, std::vector<uint8_t> &readOutPending,
                         bool online, const uint8_t *burst, size_t length);

} // namespace protocol
