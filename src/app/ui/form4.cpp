#include "app/ui/form4.h"

#include "base/convert.h"

#include <QPlainTextEdit>
#include <QTextBlock>

namespace app {

namespace {

// A line of the dump: "7FF0:: " and then 16 cells of two digits and a blank.
constexpr int kFirstCell = 7;
constexpr int kCellWidth = 3;
constexpr uint32_t kBytesPerLine = 16;

} // namespace

TForm4::TForm4() : TDumpWindow(QStringLiteral("Form4"), kInitialCaption, kClientHeight, 24, 441) {}

void TForm4::ShowImage(const QString &baseName, const QStringList &lines) {
  Memo1->clear();
  Memo1->setExtraSelections({});
  Memo1->setToolTip(QString());
  Memo1->setAccessibleDescription(QString());
  SetPlainCaption(baseName);
  SetLines(lines);
}

void TForm4::MarkBytes(const std::vector<Marked> &marked) {
  QList<QTextEdit::ExtraSelection> marks;
  QStringList spans;
  for (const Marked &m : marked) {
    if (m.length <= 0)
      continue;
    const uint32_t last = m.address + uint32_t(m.length) - 1;
    spans << base::IntToHex(m.address, 4) + QLatin1Char('-') + base::IntToHex(last, 4);
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
      bool ok = false;
      const uint32_t line = block.text().section(QStringLiteral("::"), 0, 0).toUInt(&ok, 16);
      if (!ok || line > last || line + kBytesPerLine <= m.address)
        continue;
      const uint32_t from = std::max(line, m.address), to = std::min(line + kBytesPerLine - 1, last);
      QTextEdit::ExtraSelection mark;
      mark.cursor = QTextCursor(block);
      mark.cursor.setPosition(block.position() + kFirstCell + int(from - line) * kCellWidth);
      mark.cursor.setPosition(block.position() + kFirstCell + int(to - line) * kCellWidth + 2,
                              QTextCursor::KeepAnchor);
      mark.format.setBackground(QColor(0x9C, 0xE0, 0xFF));
      mark.format.setToolTip(QStringLiteral("serial number"));
      marks << mark;
    }
  }
  Memo1->setExtraSelections(marks);
  const QString named = spans.isEmpty() ? QString() : QStringLiteral("serial number: ") + spans.join(QStringLiteral(", "));
  Memo1->setToolTip(named);
  Memo1->setAccessibleDescription(named);
}

} // namespace app
