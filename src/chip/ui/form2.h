#pragma once
// TForm2, the chip type list: the text of MCUtype.txt in a wrapping, read-only
// memo; a double-click on a line chooses that chip.

#include <QWidget>

class QPlainTextEdit;
class TForm1;

class TForm2 : public QWidget {
  Q_OBJECT
public:
  static inline const QString kCaption = QStringLiteral("KavrinMCU型号");
  static constexpr int kClientWidth = 541;
  static constexpr int kClientHeight = 442;

  explicit TForm2(TForm1 *form1);

  // Takes the displayed line under the caret as the chosen chip.
  void Memo1DblClick();

  QPlainTextEdit *Memo1 = nullptr;

private:
  TForm1 *form1_;
};
