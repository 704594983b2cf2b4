#include "app/production/box_tile.h"

#include "session/operator_text.h"

#include <QPainter>

namespace app {

using session::UnitState;
using session::UnitStatus;

namespace {

QColor StateColour(UnitState state) {
  switch (state) {
  case UnitState::Ready:
    return QColor(0x50, 0x50, 0x50);
  case UnitState::Busy:
    return QColor(0x1E, 0x5A, 0xC8);
  case UnitState::Retry:
    return QColor(0xC0, 0x70, 0x00);
  case UnitState::Pass:
    return QColor(0x1A, 0x8A, 0x2E);
  case UnitState::Fail:
    return QColor(0xC8, 0x1E, 0x1E);
  case UnitState::NotRecorded:
    return QColor(0x70, 0x1E, 0x90);
  }
  return Qt::black;
}

// A reason belongs to a unit whose attempt failed, or that its station could
// not give its data (Ready, file-refused), not to one under way anew.
QString ShownReason(const UnitStatus &status) {
  const bool failed = status.state == UnitState::Fail || status.state == UnitState::Retry ||
                      status.state == UnitState::NotRecorded ||
                      (status.state == UnitState::Ready && status.outcome == protocol::Outcome::FileRefused);
  return failed ? session::Shown(status.reason) : QString();
}

} // namespace

QString StateDescription(const UnitStatus &status) {
  const QString reason = ShownReason(status);
  QString text = reason.isEmpty() ? status.StateText() : status.StateText() + QStringLiteral(": ") + reason;
  // The unit's serial number or scanned code, on its own line as the tile draws it.
  if (!status.serial.isEmpty())
    text += QLatin1Char('\n') + status.serial;
  return text;
}

BoxTile::BoxTile(const UnitStatus &status, QWidget *parent) : QWidget(parent), status_(status) {
  setObjectName(QStringLiteral("Box%1").arg(status.box));
  setAccessibleName(QStringLiteral("Box %1").arg(status.box));
  setAccessibleDescription(StateDescription(status_));
  setToolTip(status.port);
  setMinimumSize(200, 140);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void BoxTile::Show(const UnitStatus &status) {
  if (status == status_)
    return;
  status_ = status;
  setAccessibleDescription(StateDescription(status_));
  update();
}

void BoxTile::ShowElapsed(int64_t tenths) {
  if (tenths == elapsedTenths_)
    return;
  elapsedTenths_ = tenths;
  update();
}

void BoxTile::paintEvent(QPaintEvent *) {
  ++paints_;
  QPainter p(this);
  const QColor colour = StateColour(status_.state);
  // A finished unit fills its tile, so the verdict reads from across the bench.
  const bool solid =
      status_.state == UnitState::Pass || status_.state == UnitState::Fail || status_.state == UnitState::NotRecorded;
  p.fillRect(rect(), solid ? colour : QColor(0xF4, 0xF4, 0xF4));
  p.setPen(QPen(colour, 4));
  p.drawRect(rect().adjusted(2, 2, -2, -2));
  const QColor text = solid ? QColor(Qt::white) : colour;
  const QRect inner = rect().adjusted(10, 6, -10, -6);

  QFont small = font();
  small.setPixelSize(std::max(12, height() / 11));
  const QFontMetrics smallMetrics(small);
  p.setFont(small);
  p.setPen(solid ? QColor(Qt::white) : QColor(Qt::black));
  // The port's name keeps its end, where by-id names differ.
  const QString heading = QStringLiteral("%1   %2").arg(status_.box).arg(status_.port);
  p.drawText(inner, Qt::AlignLeft | Qt::AlignTop, smallMetrics.elidedText(heading, Qt::ElideMiddle, inner.width()));

  QFont big = font();
  big.setBold(true);
  big.setPixelSize(std::max(18, height() / 4));
  const QString word = status_.StateText();
  // The word shrinks to fit a narrow tile rather than being cut.
  while (big.pixelSize() > 12 && QFontMetrics(big).horizontalAdvance(word) > inner.width())
    big.setPixelSize(big.pixelSize() - 2);
  p.setFont(big);
  p.setPen(text);
  p.drawText(inner, Qt::AlignCenter, word);

  QString time;
  if (status_.state == UnitState::Busy || status_.state == UnitState::Retry)
    time = QStringLiteral("%1.%2 s").arg(elapsedTenths_ / 10).arg(elapsedTenths_ % 10);
  else if (status_.state != UnitState::Ready && status_.unitSeconds > 0)
    time = QString::number(status_.unitSeconds, 'f', 1) + QStringLiteral(" s");
  if (!time.isEmpty()) {
    p.setFont(small);
    const int below = inner.center().y() + QFontMetrics(big).height() / 2;
    p.drawText(QRect(inner.left(), below, inner.width(), smallMetrics.height()), Qt::AlignHCenter, time);
  }

  QStringList lines;
  if (const QString reason = ShownReason(status_); !reason.isEmpty())
    lines << smallMetrics.elidedText(reason, Qt::ElideRight, inner.width());
  if (!status_.serial.isEmpty())
    lines << smallMetrics.elidedText(status_.serial, Qt::ElideRight, inner.width());
  if (!lines.isEmpty()) {
    p.setFont(small);
    p.drawText(inner, Qt::AlignLeft | Qt::AlignBottom, lines.join(QLatin1Char('\n')));
  }
}

} // namespace app
