#include "cli/text_table.h"

#include <algorithm>
#include <iterator>

namespace cli {

namespace {

// The blocks of East Asian Wide and Fullwidth characters, first and last.
constexpr char32_t kWide[][2] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC}, {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653}, {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE}, {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B}, {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757}, {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50}, {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF}, {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19}, {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
    {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

int Columns(char32_t c) {
  const QChar::Category category = QChar::category(c);
  if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing || category == QChar::Other_Format ||
      (c >= 0x1160 && c <= 0x11FF) || c == 0x200B)
    return 0;
  const auto *block = std::upper_bound(std::begin(kWide), std::end(kWide), c,
                                       [](char32_t value, const char32_t(&b)[2]) { return value < b[0]; });
  return block != std::begin(kWide) && c <= (*(block - 1))[1] ? 2 : 1;
}

} // namespace

qsizetype DisplayWidth(QStringView text) {
  qsizetype width = 0;
  for (const char32_t c : text.toUcs4())
    width += Columns(c);
  return width;
}

TextTable::TextTable(const QStringList &header, const std::vector<Align> &align) : rows_{header}, align_(align) {
  align_.resize(size_t(header.size()), Align::Left);
}

void TextTable::Add(const QStringList &row) { rows_.push_back(row); }

QString TextTable::Text() const {
  std::vector<qsizetype> widths(align_.size(), 0);
  for (const QStringList &row : rows_)
    for (qsizetype c = 0; c < row.size() && size_t(c) < widths.size(); ++c)
      widths[size_t(c)] = std::max(widths[size_t(c)], DisplayWidth(row[c]));
  QString text;
  for (const QStringList &row : rows_) {
    QString line;
    for (qsizetype c = 0; c < row.size(); ++c) {
      const qsizetype pad = size_t(c) < widths.size() ? widths[size_t(c)] - DisplayWidth(row[c]) : 0;
      const bool right = size_t(c) < align_.size() && align_[size_t(c)] == Align::Right;
      if (c)
        line += QStringLiteral("  ");
      if (right)
        line += QString(pad, QLatin1Char(' '));
      line += row[c];
      // The last column runs on: no spaces end a line.
      if (!right && c + 1 < row.size())
        line += QString(pad, QLatin1Char(' '));
    }
    text += line + QLatin1Char('\n');
  }
  return text;
}

} // namespace cli
