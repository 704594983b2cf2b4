#include "app/ui/line_window.h"

#include "app/settings_file.h"
#include "app/ui/controls.h"
#include "app/ui/records_window.h"
#include "app/ui/station_row.h"
#include "base/timer.h"
#include "session/operator_text.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <utility>

namespace app {

namespace {

QString YieldText(double percent) {
  return percent < 0 ? QStringLiteral("–") : QString::number(percent, 'f', 1) + QStringLiteral(" %");
}


QString StateText(const records::StationFigures &s, const QDateTime &now) {
  const qint64 idle = s.IdleMinutes(now);
  QString text = idle < 0 ? QCoreApplication::translate("Line", "运行 %1").arg(s.running)
                          : QCoreApplication::translate("Line", "空闲 %1 分钟").arg(idle);
  // Units it ended in the future: its clock is ahead, and they are counted nowhere else.
  if (s.clockAhead > 0)
    text += QCoreApplication::translate("Line", "，时钟超前 %1").arg(s.clockAhead);
  return text;
}

QString FailureText(const records::StationFigures &s) {
  if (s.lastFailure.isEmpty())
    return QString();
  // The record keeps the designed text; it is read in the language in use.
  const QString message = session::ShownText(s.lastFailureMessage);
  return message.isEmpty() ? s.lastFailure : QCoreApplication::translate("Line", "%1：%2").arg(s.lastFailure, message);
}

QStringList Cells(const records::StationFigures &s, const QDateTime &now) {
  return {s.station,
          s.host,
          s.job,
          s.lot,
          StateText(s, now),
          QStringLiteral("%1 / %2").arg(s.passedHour).arg(s.failedHour),
          QStringLiteral("%1 / %2").arg(s.passedToday).arg(s.failedToday),
          YieldText(s.YieldPercent()),
          FailureText(s)};
}

// What assistive technology reads of a row: its state and counts, a part a line.
QString Description(const records::StationFigures &s, const QDateTime &now) {
  QStringList lines = {
      StateText(s, now), QCoreApplication::translate("Line", "作业 %1，批次 %2").arg(s.job, s.lot),
      QCoreApplication::translate("Line", "近一小时合格 %1，不合格 %2").arg(s.passedHour).arg(s.failedHour),
      QCoreApplication::translate("Line", "今日合格 %1，不合格 %2，中断 %3，良率 %4")
          .arg(s.passedToday)
          .arg(s.failedToday)
          .arg(s.interruptedToday)
          .arg(YieldText(s.YieldPercent()))};
  if (!s.lastFailure.isEmpty())
    lines << QCoreApplication::translate("Line", "最近失败：%1").arg(FailureText(s));
  return lines.join(QLatin1Char('\n'));
}

QString LotText(const records::LotFigures &lot) {
  return lot.size > 0 ? QCoreApplication::translate("Line", "%1，批次 %2：合格 %3 / %4")
                            .arg(lot.job, lot.lot)
                            .arg(lot.passed)
                            .arg(lot.size)
                      : QCoreApplication::translate("Line", "%1，批次 %2：合格 %3（批量未知）")
                            .arg(lot.job, lot.lot)
                            .arg(lot.passed);
}

} // namespace

int LineWindow::AmberMinutes(const QString &settingsPath) {
  bool ok = false;
  const int minutes = SettingsFile(settingsPath).ReadString(kLineSection, kAmberMinutesKey, QString()).toInt(&ok);
  return ok && minutes >= 1 ? minutes : kDefaultAmberMinutes;
}

LineWindow::LineWindow(const records::StoreLocation &where, Dialogs &dialogs, int amberMinutes, base::Clock &clock,
                       WallClock wall, QWidget *parent)
    : QWidget(parent, Qt::Window), where_(where), dialogs_(dialogs), amberMinutes_(amberMinutes),
      wall_(wall ? std::move(wall) : [] { return QDateTime::currentDateTimeUtc(); }), reader_(where) {
  setObjectName(QStringLiteral("LineWindow"));
  resize(1280, 640);
  Totals = HeaderLabel(this, "Totals", 24, true);
  Yield = HeaderLabel(this, "Yield", 24, true);
  Running = HeaderLabel(this, "Running", 18, false);
  Status = HeaderLabel(this, "Status", 13, false);
  auto *header = new QHBoxLayout;
  header->addWidget(Totals, 1);
  header->addWidget(Running);
  header->addSpacing(24);
  header->addWidget(Yield);

  lotsBox_ = new QWidget(this);
  lots_ = new QVBoxLayout(lotsBox_);
  lots_->setContentsMargins(0, 0, 0, 0);

  header_ = new StationRow(this, true);
  auto *rowsBox = new QWidget;
  rowsLayout_ = new QVBoxLayout(rowsBox);
  rowsLayout_->setContentsMargins(0, 0, 0, 0);
  rowsLayout_->setSpacing(0);
  empty_ = new QLabel(rowsBox);
  rowsLayout_->addWidget(empty_);
  rowsLayout_->addStretch(1);
  auto *scroll = new QScrollArea(this);
  scroll->setWidget(rowsBox);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);

  auto *column = new QVBoxLayout(this);
  column->addLayout(header);
  column->addWidget(lotsBox_);
  column->addWidget(header_);
  column->addWidget(scroll, 1);
  column->addWidget(Status);

  connect(&reader_, &records::LineReader::Arrived, this, &LineWindow::Arrived);
  connect(&reader_, &records::LineReader::Changed, this, &LineWindow::Told);
  toldPeriod_ = clock.MakeAlarm([this] { ToldPeriodEnded(); });
  timer_ = new base::TTimer(this, reader_.CanTell() ? kToldRefreshMs : kPolledRefreshMs, clock);
  timer_->OnTimer = [this] { Refresh(); };
  ShowFigures();
}

LineWindow::~LineWindow() = default;

void LineWindow::Refresh() {
  if (!isVisible())
    return;
  const QDateTime now = wall_();
  reader_.Read(now, records::LocalDayStart(now));
}

void LineWindow::Told() {
  if (toldPeriod_->Armed()) {
    toldWaiting_ = true;
    return;
  }
  Refresh();
  toldPeriod_->Arm(kToldCoalesceMs, false);
}

void LineWindow::ToldPeriodEnded() {
  if (!std::exchange(toldWaiting_, false))
    return;
  Refresh();
  toldPeriod_->Arm(kToldCoalesceMs, false);
}

StationRow *LineWindow::Row(const QString &station, const QString &host) const {
  const auto &stations = last_.line.stations;
  for (size_t i = 0; i < stations.size() && i < rows_.size(); ++i)
    if (stations[i].station == station && stations[i].host == host)
      return rows_[i];
  return nullptr;
}

RecordsWindow *LineWindow::OpenStation(int row) {
  if (row < 0 || size_t(row) >= last_.line.stations.size())
    return nullptr;
  const records::StationFigures &s = last_.line.stations[size_t(row)];
  if (!records_)
    records_ = std::make_unique<RecordsWindow>(where_, dialogs_);
  records_->ShowStation(s.host, s.ports);
  records_->show();
  records_->raise();
  records_->activateWindow();
  return records_.get();
}

void LineWindow::Arrived(const records::LineRead &read) {
  ++reads_;
  // Figures that cannot be read again stay, marked by the reason beside them.
  if (read.error.isEmpty()) {
    last_ = read;
    readAt_ = read.line.now;
  } else {
    last_.error = read.error;
  }
  const bool polled = !read.error.isEmpty() || !read.told;
  timer_->SetInterval(polled ? kPolledRefreshMs : kToldRefreshMs);
  ShowFigures();
}

void LineWindow::ShowFigures() {
  setWindowTitle(QCoreApplication::translate("Line", "生产线总览"));
  header_->Show({QCoreApplication::translate("Line", "工位"), QCoreApplication::translate("Line", "主机"),
                 QCoreApplication::translate("Line", "作业"), QCoreApplication::translate("Line", "批次"),
                 QCoreApplication::translate("Line", "状态"),
                 QCoreApplication::translate("Line", "近一小时 合格/不合格"),
                 QCoreApplication::translate("Line", "今日 合格/不合格"),
                 QCoreApplication::translate("Line", "今日良率"), QCoreApplication::translate("Line", "最近失败")},
                false);
  const records::LineFigures &line = last_.line;
  Totals->setText(QCoreApplication::translate("Line", "今日合格 %1　不合格 %2　中断 %3")
                      .arg(line.passed)
                      .arg(line.failed)
                      .arg(line.interrupted) +
                  (line.clockAhead > 0 ? QCoreApplication::translate("Line", "　时钟超前 %1").arg(line.clockAhead)
                                       : QString()));
  Yield->setText(QCoreApplication::translate("Line", "今日良率：%1").arg(YieldText(line.YieldPercent())));
  Running->setText(QCoreApplication::translate("Line", "运行中：%1").arg(line.running));

  // The lots: rebuilt, since they change a few times a day.
  while (QLayoutItem *item = lots_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  LotBars.clear();
  for (const records::LotFigures &lot : line.lots) {
    auto *box = new QWidget(lotsBox_);
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(LotText(lot), box);
    auto *bar = new QProgressBar(box);
    bar->setTextVisible(false);
    bar->setRange(0, int(std::min<qint64>(std::max(lot.size, lot.passed), INT_MAX)));
    bar->setValue(int(std::min<qint64>(lot.passed, INT_MAX)));
    bar->setAccessibleName(label->text());
    // A lot of no known size has nothing to fill.
    bar->setVisible(lot.size > 0);
    row->addWidget(label);
    row->addWidget(bar, 1);
    lots_->addWidget(box);
    LotBars.push_back(bar);
  }

  // The rows, one per station in the figures' order; the widgets are kept, so the focus stays.
  while (rows_.size() > line.stations.size()) {
    delete rows_.back();
    rows_.pop_back();
  }
  while (rows_.size() < line.stations.size()) {
    auto *row = new StationRow(empty_->parentWidget());
    rowsLayout_->insertWidget(int(rows_.size()) + 1, row);
    connect(row, &StationRow::Activated, this,
            [this, row] { OpenStation(int(std::find(rows_.begin(), rows_.end(), row) - rows_.begin())); });
    rows_.push_back(row);
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    const records::StationFigures &s = line.stations[i];
    const qint64 idle = s.IdleMinutes(line.now);
    rows_[i]->Show(Cells(s, line.now), idle >= amberMinutes_);
    rows_[i]->setAccessibleName(QCoreApplication::translate("Line", "工位 %1，主机 %2").arg(s.station, s.host));
    rows_[i]->setAccessibleDescription(Description(s, line.now));
  }
  // Each column as wide as its widest cell, the same in every row.
  std::vector<int> widths = header_->ColumnWidths();
  for (const StationRow *row : rows_) {
    const std::vector<int> needs = row->ColumnWidths();
    for (size_t c = 0; c < needs.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], needs[c]);
  }
  header_->SetColumnWidths(widths);
  for (StationRow *row : rows_)
    row->SetColumnWidths(widths);
  empty_->setVisible(rows_.empty());
  empty_->setText(!readAt_.isValid() ? QString()
                  : last_.noRecords ? QCoreApplication::translate("Line", "这个数据库里还没有生产记录。")
                                    : QCoreApplication::translate("Line", "今天还没有工位写入单元。"));
  ShowStatus();
}

void LineWindow::ShowStatus() {
  if (!last_.error.isEmpty()) {
    Status->setText(QCoreApplication::translate("Line", "无法读取生产记录：%1").arg(last_.error));
    return;
  }
  if (!readAt_.isValid()) {
    Status->setText(QCoreApplication::translate("Line", "正在读取生产记录…"));
    return;
  }
  const QString at = readAt_.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
  const int seconds = kPolledRefreshMs / 1000;
  if (last_.told)
    Status->setText(QCoreApplication::translate("Line", "%1 已更新；各工位的单元开始或结束时即时更新").arg(at));
  else if (!last_.untold.isEmpty())
    Status->setText(QCoreApplication::translate("Line", "%1 已更新；每 %2 秒读取一次（收不到数据库的通知：%3）")
                        .arg(at)
                        .arg(seconds)
                        .arg(last_.untold));
  else
    Status->setText(QCoreApplication::translate("Line", "%1 已更新；每 %2 秒读取一次").arg(at).arg(seconds));
}

void LineWindow::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  timer_->SetEnabled(true);
  Refresh();
}

void LineWindow::hideEvent(QHideEvent *event) {
  QWidget::hideEvent(event);
  timer_->SetEnabled(false);
}

void LineWindow::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange)
    ShowFigures();
}

} // namespace app
