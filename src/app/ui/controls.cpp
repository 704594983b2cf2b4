#include "app/ui/controls.h"

#include "session/operator_text.h"

#include <algorithm>

#include <QButtonGroup>
#include <QGridLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QResizeEvent>
#include <utility>

namespace app {

QLabel *HeaderLabel(QWidget *parent, const char *name, int pixels, bool bold) {
  auto *label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  QFont font = label->font();
  font.setPixelSize(pixels);
  font.setBold(bold);
  label->setFont(font);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  return label;
}

QFont DesignFont(const QString &family, int pixels, bool bold, FontPitch pitch) {
  QStringList families = {family, QStringLiteral("SimSun"), QStringLiteral("Microsoft YaHei")};
  if (pitch == FontPitch::Fixed)
    families << QStringLiteral("WenQuanYi Zen Hei Mono");
  families << QStringLiteral("WenQuanYi Zen Hei") << QStringLiteral("Noto Sans CJK SC");
  QFont font;
  font.setFamilies(families);
  font.setPixelSize(pixels);
  font.setBold(bold);
  if (pitch == FontPitch::Fixed)
    font.setStyleHint(QFont::TypeWriter);
  return font;
}

TRadioGroup::TRadioGroup(QWidget *parent, const QString &caption, const QStringList &items, int columns)
    : QGroupBox(caption, parent) {
  auto *layout = new QGridLayout(this);
  layout->setContentsMargins(8, 4, 4, 4);
  layout->setHorizontalSpacing(4);
  layout->setVerticalSpacing(0);
  auto *group = new QButtonGroup(this);
  group->setExclusive(true);
  const int rows = (int(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto *button = new QRadioButton(items[i], this);
    button->setObjectName(QStringLiteral("%1.Item%2").arg(caption).arg(i));
    button->setAccessibleName(items[i]);
    // Items fill columns top to bottom, as a designed radio group does.
    layout->addWidget(button, i % rows, i / rows);
    group->addButton(button, i);
    buttons_.push_back(button);
    // A click on the item already selected changes nothing and runs nothing:
    // only a click that selected its button (toggled just before) counts.
    connect(button, &QRadioButton::toggled, this, [this](bool on) {
      if (on)
        selectionChanged_ = true;
    });
    connect(button, &QRadioButton::clicked, this, [this] {
      if (!std::exchange(selectionChanged_, false))
        return;
      if (OnClick)
        OnClick();
    });
  }
  for (int c = 0; c < columns; ++c)
    layout->setColumnStretch(c, 1);
  setAccessibleName(caption);
}

int TRadioGroup::ItemIndex() const {
  for (size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i]->isChecked())
      return int(i);
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  if (index < 0 || index >= Count()) {
    auto *group = buttons_.empty() ? nullptr : buttons_.front()->group();
    if (group)
      group->setExclusive(false);
    for (auto *b : buttons_)
      b->setChecked(false);
    if (group)
      group->setExclusive(true);
    return;
  }
  buttons_[size_t(index)]->setChecked(true);
  selectionChanged_ = false;
}

TStatusBar::TStatusBar(QWidget *parent, const std::vector<int> &panelWidths) : QWidget(parent) {
  setAutoFillBackground(true);
  for (size_t i = 0; i < panelWidths.size(); ++i) {
    auto *panel = new QLabel(this);
    panel->setObjectName(QStringLiteral("StatusBar1.Panel%1").arg(i));
    panel->setAccessibleName(i == 0 ? QStringLiteral("Serial port settings") : QStringLiteral("Serial port status"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setContentsMargins(2, 0, 2, 0);
    panel->resize(panelWidths[i], 0);
    panels_.push_back(panel);
  }
  texts_.resize(panels_.size());
  Relayout();
}

void TStatusBar::SetPanelText(int index, const QString &text, const QString &detail) {
  texts_.at(size_t(index)) = {text, detail};
  ShowPanel(size_t(index));
}

void TStatusBar::ShowPanel(size_t index) {
  QLabel *panel = panels_.at(index);
  const auto &[designed, detail] = texts_.at(index);
  const QString text = session::ShownText(designed);
  QString shown = text;
  QString tip = detail;
  if (text != designed) {
    // The label's own indent: half an "x" beside a frame unless set.
    const int indent = panel->indent() >= 0      ? panel->indent()
                       : panel->frameWidth() > 0 ? panel->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                                                 : 0;
    // The last panel runs past the bar's edge as designed: only what shows counts.
    const int hidden = std::max(0, panel->x() + panel->width() - width());
    const int room = panel->contentsRect().width() - hidden - 2 * panel->margin() - indent;
    shown = panel->fontMetrics().elidedText(text, Qt::ElideRight, std::max(room, 0));
    if (shown != text)
      tip = detail.isEmpty() ? text : text + QLatin1Char('\n') + detail;
  }
  panel->setText(shown);
  panel->setToolTip(tip);
  // A screen reader says the words sighted operators read, then why.
  const QString separator = text.endsWith(QLatin1Char(' ')) ? QString() : QStringLiteral(" ");
  panel->setAccessibleDescription(detail.isEmpty() ? text : text + separator + detail);
}

void TStatusBar::SetPanelWidth(int index, int width) {
  panels_.at(size_t(index))->resize(width, panels_.at(size_t(index))->height());
  Relayout();
  ShowPanel(size_t(index));
}

void TStatusBar::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange || event->type() == QEvent::FontChange)
    for (size_t i = 0; i < panels_.size(); ++i)
      ShowPanel(i);
}

void TStatusBar::Relayout() {
  int x = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    // The last panel is as wide as designed; like any status bar it is cut at the edge.
    const int w = panels_[i]->width();
    panels_[i]->setGeometry(x, 2, w, std::max(0, height() - 2));
    x += w + 2;
  }
}

void TStatusBar::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  Relayout();
  for (size_t i = 0; i < panels_.size(); ++i)
    ShowPanel(i);
}

DigitsOnlyValidator::DigitsOnlyValidator(QObject *parent, std::function<void()> refused)
    : QValidator(parent), refused_(std::move(refused)) {}

QValidator::State DigitsOnlyValidator::validate(QString &input, int &) const {
  if (std::all_of(input.begin(), input.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
    return Acceptable;
  if (refused_)
    refused_();
  return Invalid;
}

} // namespace app
