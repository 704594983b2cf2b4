#pragma once
// The yield chart of the production records window: the units passed and
// failed per hour or per day over the window's date range, and the failed
// ones by result, of every job or of the one chosen. The figures are the
// store's own sums, read on an AsyncReader's thread like the window's rows;
// the chart is drawn again when they come. Its figures are also its
// accessible description, for a screen reader and for the tests.

#include "records/query.h"
#include "records/yield.h"

#include <QWidget>
#include <optional>

class QChart;
class QChartView;
class QComboBox;
class QLabel;

namespace app {

class YieldChartView : public QWidget {
  Q_OBJECT
public:
  explicit YieldChartView(const records::StoreLocation &where, QWidget *parent = nullptr);

  // The range [since, until), either end open; asks the store again.
  void SetRange(const std::optional<QDateTime> &since, const std::optional<QDateTime> &until);
  bool Loading() const { return waiting_ != 0; }
  const records::YieldChart &Figures() const { return chart_; }

  QComboBox *JobBox;
  QChartView *UnitsView;
  QChartView *FailuresView;
  QLabel *StatusLabel;

signals:
  // The figures asked for last are shown, or `error` says why not.
  void Updated(const QString &error);

private:
  void Ask();
  void Arrived(int ticket, const records::YieldChart &chart, const QString &error);
  void ListJobs(const QStringList &jobs);
  void Draw();
  QString Description() const;

  records::AsyncReader reader_;
  records::Filter filter_;
  records::YieldChart chart_;
  int waiting_ = 0; // the ticket of the figures on their way
  bool asked_ = false;
};

} // namespace app
