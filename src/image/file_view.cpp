#include "image/file_view.h"

#include "base/convert.h"

#include <algorithm>
#include <string_view>

namespace image {

QString BaseName(const QString &fileName) {
  const qsizetype slash = std::max(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\')));
  QString name = fileName.mid(slash + 1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0)
    name.truncate(dot);
  return name;
}

QStringList DumpLines(const std::vector<std::string> &imageText, uint32_t imageSize, const QString &chipStart) {
  static constexpr int kBytesPerLine = 16;
  static constexpr int kLineLength = 4 + 3 + 3 * kBytesPerLine;
  const uint32_t base = base::HexTextToInt(chipStart);
  const size_t lines = std::min<size_t>(imageSize, imageText.size()) / kBytesPerLine;
  QStringList out;
  out.reserve(qsizetype(lines));
  for (size_t k = 0; k < lines; ++k) {
    QString line;
    line.reserve(kLineLength);
    line += base::IntToHex(uint32_t(base + kBytesPerLine * k), 4);
    line += QLatin1String(":: ");
    for (int j = 0; j < kBytesPerLine; ++j) {
      const std::string &entry = imageText[k * kBytesPerLine + size_t(j)];
      // The characters after the "$" exactly as the file spelt them.
      const std::string_view shown = std::string_view(entry).substr(std::min<size_t>(1, entry.size()), 2);
      line += QLatin1String(shown.data(), qsizetype(shown.size()));
      line += QLatin1Char(' ');
    }
    out.push_back(std::move(line));
  }
  return out;
}

} // namespace image
