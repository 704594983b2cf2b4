#pragma once
// The texts the load shows the operator about the file it read. They are the
// designed texts that records and scripts keep; front ends translate them
// where they show them (session/operator_text.h), the ones built from parts
// through their patterns below (%1.. the parts).

#include "image/hex_reader.h"

#include <QString>

namespace image {

// How every refusal of a file begins; %1 says why.
inline constexpr char kLoadErrorPattern[] = QT_TRANSLATE_NOOP("Operation", "文件加载错误，%1");
// A checksum error: the line's address as written (high and low), then the checksum expected.
inline constexpr char kChecksumErrorPattern[] = QT_TRANSLATE_NOOP("Operation", "文件加载错误，%1地址行校验和错误 %2");
inline constexpr char kNotARecordPattern[] = QT_TRANSLATE_NOOP("Operation", "文件加载错误，第 %1 行不是 HEX 记录");
inline constexpr char kNoDataText[] =
    QT_TRANSLATE_NOOP("Operation", "文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件");
inline constexpr char kNoDataInImageText[] =
    QT_TRANSLATE_NOOP("Operation", "文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载");
// Full addresses of the earlier and later data in eight digits, the image address in four.
inline constexpr char kAddressClashPattern[] =
    QT_TRANSLATE_NOOP("Operation", "文件加载错误，地址 %1 与 %2 的数据落在同一地址 %3（不支持扩展地址），未加载");
// The bytes left out and the image's last address.
inline constexpr char kLeftOutPattern[] = QT_TRANSLATE_NOOP("Operation", "注意：文件中有 %1 字节超出 0000-%2，未加载");

// Why a file of another form is refused: the part after kLoadErrorPattern.
inline constexpr char kUnknownFormText[] =
    QT_TRANSLATE_NOOP("Operation", "无法识别文件格式：不是 Intel HEX、Motorola S-record 或 ELF 文件，未加载");
inline constexpr char kNoDataAtAllText[] = QT_TRANSLATE_NOOP("Operation", "文件中没有数据，未加载");
// An ELF file: libelf's reason (or the cut segment's text) in %1.
inline constexpr char kElfUnreadablePattern[] = QT_TRANSLATE_NOOP("Operation", "ELF 文件无法读取：%1");
inline constexpr char kElfSegmentCutPattern[] = QT_TRANSLATE_NOOP("Operation", "第 %1 个程序段超出文件末尾，文件不完整");
// %1 the section's number, %2 its name.
inline constexpr char kElfSectionCutPattern[] =
    QT_TRANSLATE_NOOP("Operation", "第 %1 个节（%2）超出文件末尾，文件不完整");
inline constexpr char kElf64Text[] =
    QT_TRANSLATE_NOOP("Operation", "这是 64 位的 ELF 文件，只能加载 32 位小端的 ELF 可执行文件");
inline constexpr char kElfBigEndianText[] =
    QT_TRANSLATE_NOOP("Operation", "这是大端的 ELF 文件，只能加载 32 位小端的 ELF 可执行文件");
// %1: the kind of file, one of the four below.
inline constexpr char kElfNotExecutablePattern[] =
    QT_TRANSLATE_NOOP("Operation", "这是 ELF %1，不是可执行文件，只能加载 32 位小端的 ELF 可执行文件");
inline constexpr char kElfRelocatableText[] = QT_TRANSLATE_NOOP("Operation", "可重定位文件");
inline constexpr char kElfSharedText[] = QT_TRANSLATE_NOOP("Operation", "共享目标文件");
inline constexpr char kElfCoreText[] = QT_TRANSLATE_NOOP("Operation", "核心转储文件");
inline constexpr char kElfOtherKindPattern[] = QT_TRANSLATE_NOOP("Operation", "类型 %1 的文件");
// An S-record file: the line in %1.
inline constexpr char kSrecNotARecordPattern[] = QT_TRANSLATE_NOOP("Operation", "第 %1 行不是 S-record 记录");
inline constexpr char kSrecLengthPattern[] =
    QT_TRANSLATE_NOOP("Operation", "第 %1 行的记录长度不对：字节数为 %2，实有 %3 字节");
inline constexpr char kSrecChecksumPattern[] =
    QT_TRANSLATE_NOOP("Operation", "第 %1 行校验和错误：文件中为 %2，应为 %3");
inline constexpr char kSrecCountPattern[] =
    QT_TRANSLATE_NOOP("Operation", "第 %1 行的记录数为 %2，此前有 %3 个数据记录");

// Why a reading failed, in the style of the load's other messages:
//   checksum  "文件加载错误，" + address high + low + "地址行校验和错误 " + XX
//   no record "文件加载错误，第 <line> 行不是 HEX 记录"
//   no data   "文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件"
//   none in the image  "文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载"
//   address clash  "文件加载错误，地址 <earlier> 与 <later> 的数据落在同一地址 <image
//                  address>（不支持扩展地址），未加载", full addresses in eight digits
// Empty for a reading that succeeded.
QString LoadErrorText(const HexReadResult &result);

// "文件加载错误，" + why: how every refusal of a file begins, whatever its form.
QString LoadErrorText(const QString &why);

// "文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载": data was read, none
// of it in the image.
QString NoDataInImageText();

// The notice for data bytes that lie outside the image (addresses from
// imageSize up); empty when every byte reached the image.
QString LeftOutNotice(const HexReadResult &result, uint32_t imageSize);
QString LeftOutNotice(uint32_t leftOut, uint32_t imageSize);

} // namespace image
