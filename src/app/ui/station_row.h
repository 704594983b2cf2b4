#pragma once
// One row of the line view (line_window.h): a station's cells in columns as
// wide as the view's widest cell, drawn by hand so that twenty rows re-read
// every two seconds cost the GUI thread little, on amber once its station has
// stood idle too long.
// The same widget, made as a header, draws the column titles.
//
// A row takes the focus (Tab, or Up and Down from row to row); a click on it,
// or Return, Enter or Space while it has the focus, activates it. What it
// shows reaches accessibility through the accessible name and description its
// window gives it.

#include <QStringList>
#include <QWidget>
#include <vector>

namespace app {

class StationRow : public QWidget {
  Q_OBJECT
public:
  // The widest a column gets, in average characters (a longer text is cut
  // short with an ellipsis); the last column takes what is left.
  static constexpr int kMostColumnChars = 28;
  static constexpr int kColumnGap = 10; // pixels

  explicit StationRow(QWidget *parent, bool header = false);
  // Repaints only when something shown changed.
  void Show(const QStringList &cells, bool amber);
  const QStringList &Cells() const { return cells_; }
  bool Amber() const { return amber_; }
  // The columns' widths, in pixels; every row of a view takes the same.
  void SetColumnWidths(const std::vector<int> &widths);
  // What this row's cells need of each column, capped at kMostColumnChars.
  std::vector<int> ColumnWidths() const;

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
  std::vector<int> widths_;
};

} // namespace app
