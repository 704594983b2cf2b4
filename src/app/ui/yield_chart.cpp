#include "app/ui/yield_chart.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QStackedBarSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace app {

namespace {

// Past this many bars their labels would run into each other: the axis names
// the first and the last instead.
constexpr int kMostLabelledBars = 48;

const QColor kPassedColor(0x2e, 0x7d, 0x32);
const QColor kFailedColor(0xc6, 0x28, 0x28);

// The axis leaves out what every bar shares (the year, the day); the
// description keeps the year of a day.
QString BarLabel(const records::YieldChart &chart, const records::YieldBar &bar, bool onAxis) {
  const QDate first = chart.bars.front().start.date(), last = chart.bars.back().start.date();
  if (chart.bucket == records::Bucket::Day)
    return bar.start.toString(onAxis && first.year() == last.year() ? QStringLiteral("MM-dd")
                                                                     : QStringLiteral("yyyy-MM-dd"));
  return bar.start.toString(first == last ? QStringLiteral("HH:00") : QStringLiteral("MM-dd HH:00"));
}

void Clear(QChart *chart) {
  chart->removeAllSeries();
  for (QAbstractAxis *axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
}

QValueAxis *CountAxis(qint64 most) {
  auto *axis = new QValueAxis;
  axis->setLabelFormat(QStringLiteral("%d"));
  axis->setRange(0, double(std::max<qint64>(most, 1)));
  axis->applyNiceNumbers();
  return axis;
}

QChartView *MakeView(QWidget *parent) {
  auto *chart = new QChart;
  chart->setMargins(QMargins(4, 4, 4, 4));
  auto *view = new QChartView(chart, parent);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumHeight(220);
  return view;
}

} // namespace

YieldChartView::YieldChartView(const records::StoreLocation &where, QWidget *parent)
    : QWidget(parent), reader_(where) {
  JobBox = new QComboBox(this);
  JobBox->addItem(QCoreApplication::translate("Records", "All jobs"));
  JobBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  UnitsView = MakeView(this);
  FailuresView = MakeView(this);
  StatusLabel = new QLabel(this);
  setAccessibleName(QCoreApplication::translate("Records", "Yield chart"));

  auto *top = new QHBoxLayout;
  top->addWidget(new QLabel(QCoreApplication::translate("Records", "Job"), this));
  top->addWidget(JobBox);
  top->addWidget(StatusLabel, 1);
  auto *charts = new QHBoxLayout;
  charts->addWidget(UnitsView, 3);
  charts->addWidget(FailuresView, 2);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addLayout(charts, 1);

  connect(&reader_, &records::AsyncReader::Charted, this, &YieldChartView::Arrived);
  connect(JobBox, &QComboBox::currentIndexChanged, this, [this](int index) {
    filter_.job = index > 0 ? JobBox->itemText(index) : QString();
    Ask();
  });
  Draw();
}

void YieldChartView::SetRange(const std::optional<QDateTime> &since, const std::optional<QDateTime> &until) {
  filter_.since = since;
  filter_.until = until;
  Ask();
}

void YieldChartView::Ask() {
  StatusLabel->setText(QCoreApplication::translate("Records", "Reading the figures..."));
  waiting_ = reader_.Chart(filter_);
}

void YieldChartView::Arrived(int ticket, const records::YieldChart &chart, const QString &error) {
  if (ticket != waiting_)
    return; // asked for another range or job meanwhile
  waiting_ = 0;
  if (!error.isEmpty()) {
    StatusLabel->setText(QCoreApplication::translate("Records", "Cannot read the figures: %1").arg(error));
    emit Updated(error);
    return;
  }
  chart_ = chart;
  ListJobs(chart.jobs);
  StatusLabel->clear();
  Draw();
  emit Updated(QString());
}

void YieldChartView::ListJobs(const QStringList &jobs) {
  // The chosen job stays chosen, even once it has no records left.
  QStringList items = jobs;
  if (!filter_.job.isEmpty() && !items.contains(filter_.job))
    items << filter_.job;
  const QSignalBlocker quiet(JobBox);
  while (JobBox->count() > 1)
    JobBox->removeItem(1);
  JobBox->addItems(items);
  JobBox->setCurrentIndex(filter_.job.isEmpty() ? 0 : int(items.indexOf(filter_.job)) + 1);
}

void YieldChartView::Draw() {
  QChart *units = UnitsView->chart();
  Clear(units);
  units->setTitle(chart_.bucket == records::Bucket::Hour ? QCoreApplication::translate("Records", "Units per hour") : QCoreApplication::translate("Records", "Units per day"));
  auto *passed = new QBarSet(QCoreApplication::translate("Records", "Passed"));
  auto *failed = new QBarSet(QCoreApplication::translate("Records", "Failed"));
  passed->setColor(kPassedColor);
  failed->setColor(kFailedColor);
  QStringList labels;
  qint64 most = 0;
  for (const records::YieldBar &bar : chart_.bars) {
    *passed << double(bar.passed);
    *failed << double(bar.failed);
    labels << BarLabel(chart_, bar, true);
    most = std::max(most, bar.passed + bar.failed);
  }
  auto *series = new QStackedBarSeries;
  series->append(passed);
  series->append(failed);
  series->setBarWidth(0.9);
  units->addSeries(series);
  auto *when = new QBarCategoryAxis;
  when->append(labels);
  if (labels.size() > kMostLabelledBars) {
    when->setLabelsVisible(false);
    when->setTitleText(QStringLiteral("%1 – %2").arg(labels.front(), labels.back()));
  } else if (labels.size() > 12) {
    when->setLabelsAngle(-90);
  }
  units->addAxis(when, Qt::AlignBottom);
  series->attachAxis(when);
  QValueAxis *count = CountAxis(most);
  units->addAxis(count, Qt::AlignLeft);
  series->attachAxis(count);
  units->legend()->setAlignment(Qt::AlignBottom);

  QChart *failures = FailuresView->chart();
  Clear(failures);
  failures->setTitle(QCoreApplication::translate("Records", "Failed units by result"));
  auto *byResult = new QBarSet(QCoreApplication::translate("Records", "Failed"));
  byResult->setColor(kFailedColor);
  byResult->setLabelColor(Qt::black);
  qint64 mostFailed = 0;
  // Bars go up from the axis' start: the classes listed from the top down.
  QStringList classNames = records::FailureResults();
  std::reverse(classNames.begin(), classNames.end());
  for (const QString &result : classNames) {
    const auto found = chart_.failures.find(result);
    const qint64 n = found == chart_.failures.end() ? 0 : found->second;
    *byResult << double(n);
    mostFailed = std::max(mostFailed, n);
  }
  auto *results = new QHorizontalBarSeries;
  results->append(byResult);
  results->setLabelsVisible(true);
  results->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  failures->addSeries(results);
  auto *classes = new QBarCategoryAxis;
  classes->append(classNames);
  failures->addAxis(classes, Qt::AlignLeft);
  results->attachAxis(classes);
  QValueAxis *failedCount = CountAxis(mostFailed);
  failures->addAxis(failedCount, Qt::AlignBottom);
  results->attachAxis(failedCount);
  failures->legend()->hide();

  setAccessibleDescription(Description());
}

QString YieldChartView::Description() const {
  QString text = QCoreApplication::translate("Records", "Units passed: %1, failed: %2").arg(chart_.passed).arg(chart_.failed);
  if (!chart_.failures.empty()) {
    QStringList parts;
    for (const auto &[result, n] : chart_.failures)
      parts << QStringLiteral("%1 %2").arg(result).arg(n);
    text += QCoreApplication::translate("Records", "; failed by result: %1").arg(parts.join(QStringLiteral(", ")));
  }
  QStringList bars;
  for (const records::YieldBar &bar : chart_.bars)
    if (bar.passed || bar.failed)
      bars << QCoreApplication::translate("Records", "%1: passed %2, failed %3").arg(BarLabel(chart_, bar, false)).arg(bar.passed).arg(bar.failed);
  if (!bars.isEmpty())
    text += (chart_.bucket == records::Bucket::Hour ? QCoreApplication::translate("Records", "; per hour: %1") : QCoreApplication::translate("Records", "; per day: %1"))
                .arg(bars.join(QStringLiteral("; ")));
  return text;
}

} // namespace app
