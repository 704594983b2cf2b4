#include "app/ui/form2.h"

#include "app/ui/controls.h"
#include "session/operator_text.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <functional>

namespace app {

namespace {
// A memo that reports double-clicks after placing the caret on the clicked line.
class DoubleClickMemo : public QPlainTextEdit {
public:
  using QPlainTextEdit::QPlainTextEdit;
  std::function<void()> OnDblClick;

protected:
  void mouseDoubleClickEvent(QMouseEvent *event) override {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (OnDblClick)
      OnDblClick();
  }
};

// The displayed line (a wrapped piece of a long line) that holds `position`.
QString DisplayedLineAt(QPlainTextEdit *memo, int position) {
  const QTextBlock block = memo->document()->findBlock(position);
  if (!block.isValid())
    return {};
  // Laying the block out gives it its lines at the memo's current width.
  memo->document()->documentLayout()->blockBoundingRect(block);
  const QTextLayout *layout = block.layout();
  const QTextLine line = layout ? layout->lineForTextPosition(position - block.position()) : QTextLine();
  if (!line.isValid())
    return block.text();
  return block.text().mid(line.textStart(), line.textLength());
}

} // namespace

TForm2::TForm2() : QWidget(nullptr) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(session::ShownText(kCaption));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  auto *memo = new DoubleClickMemo(this);
  memo->OnDblClick = [this] { Memo1DblClick(); };
  Memo1 = memo;
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(0, 0, 537, 441);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setAccessibleName(QStringLiteral("Chip types"));
  Memo1->setFont(DesignFont(QStringLiteral("微软雅黑"), 16));
  QPalette p = Memo1->palette();
  p.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
  p.setColor(QPalette::Text, Qt::black);
  Memo1->setPalette(p);
}

void TForm2::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange)
    setWindowTitle(session::ShownText(kCaption));
}

void TForm2::Memo1DblClick() {
  // The double-click selects a word; its start lies on the clicked line even
  // when the word ends where the line wraps.
  const QString line = DisplayedLineAt(Memo1, Memo1->textCursor().selectionStart());
  hide();
  if (OnChipLine)
    OnChipLine(line);
}

} // namespace app
