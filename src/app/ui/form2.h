#pragma once
// TForm2, the chip type list: the text of MCUtype.txt in a wrapping, read-only
// memo; a double-click on a line chooses that chip.

#include <QWidget>
#include <functional>

class QPlainTextEdit;

namespace app {

class TForm2 : public QWidget {
  Q_OBJECT
public:
  static inline const QString kCaption = QStringLiteral(QT_TRANSLATE_NOOP("Window", "KavrinMCU型号"));
  static constexpr int kClientWidth = 541;
  static constexpr int kClientHeight = 442;

  TForm2();

  // Takes the displayed line under the caret, closes the window and hands the
  // line to OnChipLine (the main window applies it to the chip record).
  void Memo1DblClick();

  QPlainTextEdit *Memo1 = nullptr;
  std::function<void(const QString &line)> OnChipLine;

protected:
  void changeEvent(QEvent *event) override;
};

} // namespace app
