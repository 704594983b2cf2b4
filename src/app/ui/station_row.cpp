#include "app/ui/station_row.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace app {

StationRow::StationRow(QWidget *parent, bool header) : QWidget(parent), header_(header) {
  setFocusPolicy(header ? Qt::NoFocus : Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  int width = 0;
  for (int chars : kColumnChars)
    width += fontMetrics().averageCharWidth() * chars + 8;
  setMinimumWidth(width);
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
  QFont font = p.font();
  font.setBold(header_);
  p.setFont(font);
  p.setPen(amber_ ? QColor(Qt::black) : palette().color(QPalette::Text));
  const QFontMetrics metrics(font);
  int x = 6;
  for (int c = 0; c < kColumns && c < cells_.size(); ++c) {
    const int width = c + 1 == kColumns ? this->width() - x - 6 : fontMetrics().averageCharWidth() * kColumnChars[c];
    const QRect cell(x, 0, width, height());
    p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(cells_[c], Qt::ElideRight, width));
    x += width + 8;
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
