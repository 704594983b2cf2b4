#pragma once
// Reading the chosen firmware file into memory, whole, before the HEX text is
// read. Only regular files of a bounded size are read, so that a device, a
// pipe or a huge file chosen by mistake can neither hang the window nor
// exhaust memory: a HEX file of a 64 KiB image is below 200 KiB.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace image {

inline constexpr int64_t kMaxImageFileSize = 8 * 1024 * 1024;

// The file's bytes. Raises EFOpenError with "Cannot open file "<path>". <reason>"
// when the file cannot be opened or read, is not a regular file, or is larger
// than kMaxImageFileSize.
QByteArray ReadImageFile(const QString &path);

} // namespace image
