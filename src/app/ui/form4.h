#pragma once
// TForm4, the file buffer view: the loaded image, 16 bytes a line, as the file
// spelt them. The load clears it when it has read its file and fills it after
// a successful reading; Edit3's click shows it modally. Lives for the whole run.

#include "app/ui/dump_window.h"

#include <vector>

namespace app {

class TForm4 : public TDumpWindow {
  Q_OBJECT
public:
  static inline const QString kInitialCaption = QStringLiteral(QT_TRANSLATE_NOOP("Window", "读出文件缓冲"));
  static constexpr int kClientHeight = 466;

  TForm4();

  // The dump of a successful load: the caption becomes the file's base name,
  // the lines replace whatever the view held, and marks are cleared.
  void ShowImage(const QString &baseName, const QStringList &lines);

  // Bytes written into the image after it was read (a unit's serial number).
  struct Marked {
    uint32_t address = 0;
    int length = 0;
  };
  // Gives the cells of these bytes a background and names them in Memo1's
  // tool tip and accessible description, "serial number: 7FF0-7FF3", so an
  // operator can tell them from the file's own bytes.
  void MarkBytes(const std::vector<Marked> &marked);

  // Key-down handler of Memo1: Ctrl+A selects all.
  bool Memo1KeyDown(int key, Qt::KeyboardModifiers shift) { return SelectAllOnCtrlA(key, shift); }

protected:
  bool MemoKeyDown(int key, Qt::KeyboardModifiers shift) override { return Memo1KeyDown(key, shift); }
};

} // namespace app
