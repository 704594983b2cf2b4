// The yield chart on a store of 1,000,000 records (a year of one busy line,
// four jobs, one unit in twenty retried): the store's query alone, the time
// from asking for a range to the chart drawn again, and rendering the chart
// into an image. Each is the median of several rounds, worst too. Also the
// one-time cost of a store of the previous version gaining the sums.
// Usage: bench_records_chart [store.sqlite [chart.png]]; a store that does not
// exist yet is made (about a minute) and kept when a path is given.
#include "app/ui/yield_chart.h"
#include "bench_records.h"
#include "records/database.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QSqlError>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

namespace {

constexpr qint64 kRows = 1000000;
const QDateTime kYearStart(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);

bool Exec(QSqlQuery &q, const QString &sql) {
  if (q.exec(sql))
    return true;
  std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
  return false;
}

// The rows go in through one prepared statement in one transaction, leaving
// the sums aside; the store is then marked as of the version before them, so
// that the next writer sums them as it would an existing store's.
bool MakeStore(const records::StoreLocation &where) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "bench");
  QString error;
  if (!c.Open(&error)) {
    std::fprintf(stderr, "cannot make the store: %s\n", qPrintable(error));
    return false;
  }
  QSqlQuery q(c.Database());
  QString columns, marks;
  for (const records::Field &f : records::Fields()) {
    columns += (columns.isEmpty() ? "" : ", ") + QLatin1String(f.name);
    marks += marks.isEmpty() ? "?" : ", ?";
  }
  if (!Exec(q, QStringLiteral("BEGIN")) ||
      !q.prepare(QStringLiteral("INSERT INTO programming_records (%1) VALUES (%2)").arg(columns, marks)))
    return false;
  const qint64 stepMs = 365LL * 86400 * 1000 / kRows;
  qint64 unit = 0;
  for (qint64 n = 0; n < kRows; ++unit) {
    records::Record r = BenchRecord(n, kYearStart.addMSecs(n * stepMs));
    r.jobName = QStringLiteral("motor-board-%1").arg(unit / 1000 % 4);
    r.lot = QStringLiteral("L-%1").arg(unit / 5000);
    r.unitUid = QStringLiteral("unit-%1").arg(unit);
    const bool retried = unit % 20 == 7 && n + 1 < kRows;
    if (retried)
      r.result = QStringLiteral("no-answer");
    for (int attempt = 1; attempt <= (retried ? 2 : 1); ++attempt, ++n) {
      if (attempt == 2) {
        r.recordUid = QStringLiteral("bench-%1").arg(n);
        r.finishedAt = kYearStart.addMSecs(n * stepMs);
        r.result = QStringLiteral("ok");
      }
      r.attempt = attempt;
      int i = 0;
      for (const records::Field &f : records::Fields())
        q.bindValue(i++, records::FieldText(r, f));
      if (!q.exec()) {
        std::fprintf(stderr, "cannot fill the store: %s\n", qPrintable(q.lastError().text()));
        return false;
      }
    }
  }
  return Exec(q, QStringLiteral("COMMIT")) && Exec(q, QStringLiteral("DROP TABLE unit_hours")) &&
         Exec(q, QStringLiteral("DROP INDEX programming_records_unit")) &&
         Exec(q, QStringLiteral("UPDATE schema_version SET version = 2"));
}

// Handles every event waiting, and those they post.
void Drain() {
  for (int i = 0; i < 3; ++i)
    QApplication::processEvents();
}

void Report(const char *what, const std::vector<double> &ms) {
  std::printf("  %-44s median %7.2f ms, worst %7.2f ms\n", what, Percentile(ms, 0.5), Percentile(ms, 1.0));
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir temporary;
  const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.filePath(QStringLiteral("r.sqlite"));
  const records::StoreLocation where = *records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr);
  QElapsedTimer t;
  if (!QFile::exists(path)) {
    t.start();
    if (!MakeStore(where))
      return 1;
    std::printf("made a store of %lld rows in %.1f s\n", kRows, double(t.elapsed()) / 1000);
    t.start();
    records::db::Connection writer(where, records::db::Connection::Target::Store, "bench");
    QString error;
    if (!writer.Open(&error)) {
      std::fprintf(stderr, "cannot sum the store: %s\n", qPrintable(error));
      return 1;
    }
    std::printf("a store of the previous version summed its units in %.1f s (once)\n", double(t.elapsed()) / 1000);
  }
  constexpr int kRounds = 7;
  std::printf("yield chart on %s (%lld rows):\n", qPrintable(path), kRows);

  const struct {
    const char *what;
    records::Filter filter;
  } ranges[] = {
      {"the whole year, every job (days)", {}},
      {"the whole year, one job (days)", {.job = QStringLiteral("motor-board-2")}},
      {"one week (days)", {.since = kYearStart.addDays(70), .until = kYearStart.addDays(77)}},
      {"one day (hours)", {.since = kYearStart.addDays(100), .until = kYearStart.addDays(101)}},
  };
  for (const auto &range : ranges) {
    std::vector<double> ms;
    records::YieldChart chart;
    for (int i = 0; i < kRounds; ++i) {
      QString error;
      t.start();
      if (!records::ChartFigures(where, range.filter, &chart, &error)) {
        std::fprintf(stderr, "cannot read the figures: %s\n", qPrintable(error));
        return 1;
      }
      ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    Report((std::string("query: ") + range.what).c_str(), ms);
  }

  app::YieldChartView view(where);
  view.resize(1100, 320);
  view.show();
  QSignalSpy updated(&view, &app::YieldChartView::Updated);
  QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
  for (const auto &range : ranges) {
    std::vector<double> asked, drawn, total;
    for (int i = 0; i < kRounds; ++i) {
      // Alternating with an empty range, so that every round draws anew.
      view.SetRange(QDateTime(QDate(1999, 1, 1), QTime(0, 0)), QDateTime(QDate(1999, 1, 2), QTime(0, 0)));
      updated.wait(5000);
      updated.clear();
      Drain();
      t.start();
      view.SetRange(range.filter.since, range.filter.until);
      if (range.filter.job != view.JobBox->currentText() && !range.filter.job.isEmpty())
        view.JobBox->setCurrentText(range.filter.job);
      while (updated.isEmpty() || view.Loading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
      asked.push_back(double(t.nsecsElapsed()) / 1e6);
      QElapsedTimer render;
      render.start();
      Drain(); // the chart lays its items out when the events it posted are handled
      QPainter painter(&image);
      view.render(&painter);
      painter.end();
      drawn.push_back(double(render.nsecsElapsed()) / 1e6);
      total.push_back(double(t.nsecsElapsed()) / 1e6);
      updated.clear();
    }
    view.JobBox->setCurrentIndex(0);
    updated.wait(5000);
    std::printf(" %s (%zu bars):\n", range.what, view.Figures().bars.size());
    Report("asked to chart updated (query + series)", asked);
    Report("laid out and rendered to an image", drawn);
    Report("asked to image", total);
  }
  if (argc > 2) {
    view.SetRange(std::nullopt, std::nullopt);
    updated.wait(5000);
    view.grab().save(QString::fromLocal8Bit(argv[2]));
  }
  return 0;
}
