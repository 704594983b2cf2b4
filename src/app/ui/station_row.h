#pragma once
// One row of the line view (line_window.h): a station's cells in fixed
// columns, drawn by hand so that twenty rows re-read every two seconds cost
// the GUI thread little, on amber once its station has stood idle too long.
// The same widget, made as a header, draws the column titles.
//
// A row takes the focus (Tab, or Up and Down from row to row); a click on it,
// or Return, Enter or Space while it has the focus, activates it. What it
// shows reaches accessibility through the accessible name and description its
// window gives it.

#include <QStringList>
#include <QWidget>

namespace app {

class StationRow : public QWidget {
  Q_OBJECT
public:
  // Column widths in average characters; the last column takes what is left.
  static constexpr int kColumnChars[] = {16, 12, 14, 12, 12, 10, 10, 8, 30};
  static constexpr int kColumns = int(std::size(kColumnChars));

  explicit StationRow(QWidget *parent, bool header = false);
  // Repaints only when something shown changed.
  void Show(const QStringList &cells, bool amber);
  const QStringList &Cells() const { return cells_; }
  bool Amber() const { return amber_; }

signals:
  void Activated();

protected:
  void paintEvent(QPaintEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

private:
  const bool header_;
  QStringList cells_;
  bool amber_ = false;
};

} // namespace app
