#pragma once
// Reading an ELF executable into the load image, with elfutils' libelf.
// Only 32-bit little-endian executables are taken. What is loaded is what
// objcopy -O ihex writes: the file bytes of the loadable segments at their
// physical (load) addresses, so initialised data that runs in RAM lands
// where it is stored in flash; bytes of a segment that no section holds (an
// ELF header the linker mapped in, padding) and segments without file bytes
// (.bss) give nothing. A file without a section table loads its segments
// whole. The refusals, after "文件加载错误，":
//   "这是 64 位的 ELF 文件，只能加载 32 位小端的 ELF 可执行文件"
//   "这是大端的 ELF 文件，只能加载 32 位小端的 ELF 可执行文件"
//   "这是 ELF <kind>，不是可执行文件，只能加载 32 位小端的 ELF 可执行文件"
//   "ELF 文件无法读取：第 <n> 个程序段超出文件末尾，文件不完整"   (n from 0)
//   "ELF 文件无法读取：第 <n> 个节（<name>）超出文件末尾，文件不完整"   (a section with
//     bytes in the file, loaded or not: the file is cut short or damaged)
//   "ELF 文件无法读取：<libelf's reason>"

#include "image/image_bytes.h"

#include <QString>
#include <cstdint>
#include <span>

namespace image {

// Empty when the file was read; else why it is refused.
QString ReadElf(std::span<const uint8_t> file, ImageBytes &image);

} // namespace image
