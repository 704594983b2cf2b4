#include "chip/ui/form2.h"

#include "app/ui/controls.h"
#include "app/ui/form1.h"

#include <QPlainTextEdit>
#include <functional>

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
} // namespace

TForm2::TForm2(TForm1 *form1) : QWidget(nullptr), form1_(form1) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  auto *memo = new DoubleClickMemo(this);
  memo->OnDblClick = [this] { form1_->Guarded([this] { Memo1DblClick(); }); };
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
