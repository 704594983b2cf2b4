#pragma once
// The texts the load shows the operator about the file it read.

#include "image/hex_reader.h"

#include <QString>

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
