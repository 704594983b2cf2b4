#pragma once
// TForm3, the read-out view: the chip memory read back, 16 bytes a line under a
// column header. It only displays; the reply handler appends to it.

#include "app/ui/dump_window.h"

namespace app {

class TForm3 : public TDumpWindow {
  Q_OBJECT
public:
  static inline const QString kCaption = QStringLiteral(QT_TRANSLATE_NOOP("Window", "读出操作"));
  static constexpr int kClientHeight = 442;

  TForm3();

  // Key-down handler of Memo1: Ctrl+A selects all.
  bool FormKeyDown(int key, Qt::KeyboardModifiers shift) { return SelectAllOnCtrlA(key, shift); }

protected:
  bool MemoKeyDown(int key, Qt::KeyboardModifiers shift) override { return FormKeyDown(key, shift); }
};

} // namespace app
