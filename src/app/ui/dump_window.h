#pragma once
// A hexadecimal dump window: a column header over a read-only memo of lines,
// 16 bytes a line. The read-out view and the file buffer view are both one.

#include <QWidget>
#include <cstdint>

class QLabel;
class QPlainTextEdit;

namespace app {

class TDumpWindow : public QWidget {
  Q_OBJECT
public:
  static inline const QString kHeader = QStringLiteral("XXXX:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    ");
  static constexpr int kClientWidth = 578;

  QLabel *Label1 = nullptr;
  QPlainTextEdit *Memo1 = nullptr;

  // Selects the whole dump when the shift state is exactly Ctrl and the key is
  // A; returns whether the key was taken (every other key goes to the memo).
  bool SelectAllOnCtrlA(int key, Qt::KeyboardModifiers shift);

  // Replaces the dump with these lines in one step.
  void SetLines(const QStringList &lines);
  // Appends lines at the end.
  void AppendLines(const QStringList &lines);
  QStringList Lines() const;

  // Selects and highlights the line that holds `address` and scrolls to it;
  // false when no line of the dump holds it. The highlight stays until the
  // dump changes, and the window opens there.
  bool HighlightAddress(uint32_t address);
  // The line highlighted, -1 for none.
  int HighlightedLine() const { return highlighted_; }

  // A caption that is no designed text (a file's name), shown as it is.
  void SetPlainCaption(const QString &caption);

protected:
  TDumpWindow(const QString &objectName, const QString &caption, int clientHeight, int memoTop, int memoHeight);
  bool eventFilter(QObject *watched, QEvent *event) override;
  virtual bool MemoKeyDown(int key, Qt::KeyboardModifiers shift) = 0;
  void showEvent(QShowEvent *event) override;
  void changeEvent(QEvent *event) override;

private:
  void ClearHighlight();
  // The designed caption, shown in the operator's language; empty while a plain one is shown.
  QString designedCaption_;
  int highlighted_ = -1;
};

} // namespace app
