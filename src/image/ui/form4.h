#pragma once
// TForm4, the file buffer view: the loaded image, 16 bytes a line, as the file
// spelt them. The load fills it; Edit3's click shows it.

#include "app/ui/dump_window.h"

class TForm4 : public TDumpWindow {
  Q_OBJECT
public:
  static inline const QString kInitialCaption = QStringLiteral("读出文件缓冲");
  static constexpr int kClientHeight = 466;

  TForm4();

  // Key-down handler of Memo1: Ctrl+A selects all.
  bool Memo1KeyDown(int key, Qt::KeyboardModifiers shift) { return SelectAllOnCtrlA(key, shift); }

protected:
  bool MemoKeyDown(int key, Qt::KeyboardModifiers shift) override { return Memo1KeyDown(key, shift); }
};
