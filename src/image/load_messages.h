#pragma once
// The texts the load shows the operator about the file it read. They are the
// designed texts that records and scripts keep; front ends translate them
// where they show them (protocol/operator_text.h), the ones built from parts
// through their patterns below (%1.. the parts).

#include "image/hex_reader.h"

#include <QString>

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

// Why a reading failed, in the style of the load's other messages:
//   checksum  "文件加载错误，" + address high + low + "地址行校验和错误 " + XX
//   no record "文件加载错误，第 <line> 行不是 HEX 记录"
//   no data   "文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件"
//   none in the image  "文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载"
//   address clash  "文件加载错误，地址 <earlier> 与 <later> 的数据落在同一地址 <image
//                  address>（不支持扩展地址），未加载", full addresses in eight digits
// Empty for a reading that succeeded.
QString LoadErrorText(const HexReadResult &result);

// The notice for data bytes that lie outside the image (addresses from
// imageSize up); empty when every byte reached the image.
QString LeftOutNotice(const HexReadResult &result, uint32_t imageSize);
