#pragma once
// What the window shows of a firmware file: its name without folder or
// extension, and the file buffer view's lines. The block packer names the
// file by the same BaseName; nothing here is sent to the box.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

namespace image {

// The file name without its folder ("/" or "\" separated) and without
// everything from its last dot on; a name without a dot stays whole.
QString BaseName(const QString &fileName);

// The file buffer view: imageSize / 16 lines, each the address (chip start +
// 16 k) as four upper-case hex digits, ":: ", then the two characters after
// the "$" of each of 16 entries, each followed by a blank.
QStringList DumpLines(const std::vector<std::string> &imageText, uint32_t imageSize, const QString &chipStart);

} // namespace image
