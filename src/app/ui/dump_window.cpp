#include "app/ui/dump_window.h"

#include "app/ui/controls.h"
#include "session/operator_text.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace app {

namespace {
QFont DumpFont() { return DesignFont(QStringLiteral("宋体"), 19, false, FontPitch::Fixed); }
} // namespace

TDumpWindow::TDumpWindow(const QString &objectName, const QString &caption, int clientHeight, int memoTop,
                         int memoHeight)
    : QWidget(nullptr) {
  setObjectName(objectName);
  designedCaption_ = caption;
  setWindowTitle(session::ShownText(caption));
  // Fixed size, close box only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, clientHeight);

  Label1 = new QLabel(kHeader, this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFont(DumpFont());
  Label1->setGeometry(2, memoTop - 20, 580, 19);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(0, memoTop, 577, memoHeight);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setFont(DumpFont());
  Memo1->setAccessibleName(caption);
  QPalette p = Memo1->palette();
  p.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
  p.setColor(QPalette::Text, Qt::black);
  Memo1->setPalette(p);
  Memo1->installEventFilter(this);
}

void TDumpWindow::SetPlainCaption(const QString &caption) {
  designedCaption_.clear();
  setWindowTitle(caption);
}

void TDumpWindow::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange && !designedCaption_.isEmpty())
    setWindowTitle(session::ShownText(designedCaption_));
}

bool TDumpWindow::SelectAllOnCtrlA(int key, Qt::KeyboardModifiers shift) {
  if (key == Qt::Key_A && (shift & ~Qt::KeypadModifier) == Qt::ControlModifier) {
    Memo1->selectAll();
    return true;
  }
  return false;
}

void TDumpWindow::SetLines(const QStringList &lines) {
  ClearHighlight();
  Memo1->clear();
  AppendLines(lines);
}

void TDumpWindow::AppendLines(const QStringList &lines) {
  if (lines.isEmpty())
    return;
  ClearHighlight();
  // One insertion for the whole batch keeps long dumps cheap on the GUI thread.
  QTextDocument *doc = Memo1->document();
  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::End);
  QString text = lines.join(QLatin1Char('\n'));
  if (!doc->isEmpty())
    text.prepend(QLatin1Char('\n'));
  cursor.insertText(text);
}

QStringList TDumpWindow::Lines() const {
  if (Memo1->document()->isEmpty())
    return {};
  return Memo1->toPlainText().split(QLatin1Char('\n'));
}

bool TDumpWindow::eventFilter(QObject *watched, QEvent *event) {
  if (watched == Memo1 && event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    return MemoKeyDown(key->key(), key->modifiers());
  }
  return QWidget::eventFilter(watched, event);
}

bool TDumpWindow::HighlightAddress(uint32_t address) {
  ClearHighlight();
  // Lines begin with their address (4 or more upper-case hex digits) and "::";
  // the same address can appear once per dump, so the first line wins.
  const QString head = QStringLiteral("%1::").arg(address & ~0xFu, 4, 16, QLatin1Char('0')).toUpper();
  for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
    if (!block.text().startsWith(head))
      continue;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    Memo1->setTextCursor(cursor);
    QTextEdit::ExtraSelection mark;
    mark.cursor = cursor;
    mark.format.setBackground(QColor(0xFF, 0xD0, 0x40));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    Memo1->setExtraSelections({mark});
    Memo1->centerCursor();
    highlighted_ = block.blockNumber();
    return true;
  }
  return false;
}

void TDumpWindow::ClearHighlight() {
  if (highlighted_ < 0)
    return;
  highlighted_ = -1;
  Memo1->setExtraSelections({});
}

void TDumpWindow::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (highlighted_ >= 0)
    Memo1->centerCursor();
}

} // namespace app
