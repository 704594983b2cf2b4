#include "app/ui/station_row.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace app {

StationRow::StationRow(QWidget *parent, bool header) : QWidget(parent), header_(header) {
  setFocusPolicy(header ? Qt::NoFocus : Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFont font = this->font();
  font.setBold(header);
  setFont(font);
  setFixedHeight(fontMetrics().height() + (header ? 8 : 14));
  if (!header)
    setCursor(Qt::PointingHandCursor);
}

void StationRow::Show(const QStringList &cells, bool amber) {
  if (cells == cells_ && amber == amber_)
    return;
  cells_ = cells;
  amber_ = amber;
  update();
}

void StationRow::SetColumnWidths(const std::vector<int> &widths) {
  if (widths == widths_)
    return;
  widths_ = widths;
  int total = 0;
  for (int width : widths_)
    total += width + kColumnGap;
  setMinimumWidth(total);
  update();
}

std::vector<int> StationRow::ColumnWidths() const {
  std::vector<int> widths;
  const int most = fontMetrics().averageCharWidth() * kMostColumnChars;
  for (const QString &cell : cells_)
    widths.push_back(std::min(most, fontMetrics().horizontalAdvance(cell) + 2)); // its glyphs may round up
  return widths;
}

void StationRow::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const QColor background = header_  ? palette().color(QPalette::Window)
                            : amber_ ? QColor(0xFF, 0xC8, 0x50)
                                     : palette().color(QPalette::Base);
  p.fillRect(rect(), background);
  if (!header_) {
    p.setPen(QColor(0xD0, 0xD0, 0xD0));
    p.drawLine(rect().bottomLeft(), rect().bottomRight());
  }
  if (hasFocus()) {
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawRect(rect().adjusted(1, 1, -1, -1));
  }
  p.setPen(amber_ ? QColor(Qt::black) : palette().color(QPalette::Text));
  int x = 6;
  for (qsizetype c = 0; c < cells_.size(); ++c) {
    const bool last = c + 1 == cells_.size() || size_t(c) >= widths_.size();
    const int width = last ? this->width() - x - 6 : widths_[size_t(c)];
    const QRect cell(x, 0, width, height());
    p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(cells_[c], Qt::ElideRight, width));
    if (last)
      break;
    x += width + kColumnGap;
  }
}

void StationRow::mouseReleaseEvent(QMouseEvent *event) {
  if (!header_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit Activated();
  QWidget::mouseReleaseEvent(event);
}

void StationRow::keyPressEvent(QKeyEvent *event) {
  switch (event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_Space:
    if (!event->isAutoRepeat())
      emit Activated();
    return;
  case Qt::Key_Down:
    focusNextChild();
    return;
  case Qt::Key_Up:
    focusPreviousChild();
    return;
  default:
    QWidget::keyPressEvent(event);
  }
}

} // namespace app
