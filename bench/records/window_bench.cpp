// The records window on a store of 1,000,000 rows (a year of one busy
// station): the time from opening the window to its first page shown, from a
// changed filter (date range, result, file name) to its rows shown, and for
// the next page on scroll. Each is the median of several rounds, worst too.
// Usage: bench_records_window [store.sqlite [screenshot.png]]; a store that
// does not exist yet is made (about half a minute) and kept when a path is given.
#include "app/ui/records_window.h"
#include "bench_records.h"
#include "records/database.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

namespace {

constexpr qint64 kRows = 1000000;
const QDateTime kYearStart(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);

class NoDialogs : public app::Dialogs {
public:
  void ShowMessage(QWidget *, const QString &) override {}
  void ShowError(QWidget *, const QString &) override {}
  std::optional<app::ChosenFile> GetOpenFileName(QWidget *) override { return std::nullopt; }
  std::optional<QString> GetSaveFileName(QWidget *, const QString &) override { return std::nullopt; }
  void ShowModal(QWidget *) override {}
  void Beep() override {}
  void ShowAbout(QWidget *, const QString &) override {}
};

bool MakeStore(const records::StoreLocation &where) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "bench");
  QString error;
  std::vector<records::Record> batch;
  const qint64 stepMs = 365LL * 86400 * 1000 / kRows;
  for (qint64 n = 0; n < kRows; ++n) {
    batch.push_back(BenchRecord(n, kYearStart.addMSecs(n * stepMs)));
    if (batch.size() == 20000 || n == kRows - 1) {
      if (!c.Insert(batch, &error)) {
        std::fprintf(stderr, "cannot fill the store: %s\n", qPrintable(error));
        return false;
      }
      batch.clear();
    }
  }
  return true;
}

// Pumps events until the window's model has its page; the elapsed ms.
double Settle(app::RecordsWindow &w, QElapsedTimer &t) {
  while (w.Model->Loading()) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  QApplication::processEvents(); // the rows painted
  return double(t.nsecsElapsed()) / 1e6;
}

void Report(const char *what, const std::vector<double> &ms, int rows) {
  std::printf("  %-34s median %7.2f ms, worst %7.2f ms (%d rows shown)\n", what, Percentile(ms, 0.5),
              Percentile(ms, 1.0), rows);
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir temporary;
  const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.filePath(QStringLiteral("r.sqlite"));
  const records::StoreLocation where = *records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr);
  if (!QFile::exists(path)) {
    QElapsedTimer t;
    t.start();
    if (!MakeStore(where))
      return 1;
    std::printf("made a store of %lld rows in %.1f s\n", kRows, double(t.elapsed()) / 1000);
  }
  NoDialogs dialogs;
  constexpr int kRounds = 7;
  std::printf("records window on %s (%lld rows):\n", qPrintable(path), kRows);

  std::vector<double> open;
  for (int i = 0; i < kRounds; ++i) {
    QElapsedTimer t;
    t.start();
    app::RecordsWindow w(where, dialogs);
    w.show();
    open.push_back(Settle(w, t));
  }
  app::RecordsWindow w(where, dialogs);
  w.show();
  QElapsedTimer first;
  first.start();
  Settle(w, first);
  Report("open, first page shown", open, w.Model->rowCount());

  const auto time = [&](const std::function<void(int)> &change) {
    std::vector<double> ms;
    for (int i = 0; i < kRounds; ++i) {
      QElapsedTimer t;
      t.start();
      change(i);
      ms.push_back(Settle(w, t));
    }
    return ms;
  };
  auto ms = time([&](int i) {
    w.ToDate->setDate(w.ToDate->minimumDate());
    w.FromDate->setDate(QDate(2026, 2 + i, 3));
    w.ToDate->setDate(QDate(2026, 2 + i, 9));
  });
  Report("date range (a week)", ms, w.Model->rowCount());
  w.FromDate->setDate(w.FromDate->minimumDate());
  w.ToDate->setDate(w.ToDate->minimumDate());
  ms = time([&](int i) { w.ResultBox->setCurrentText(QLatin1String(i % 2 ? "box-failed" : "verify-mismatch")); });
  Report("result (5% of the rows each)", ms, w.Model->rowCount());
  ms = time([&](int i) {
    w.ResultBox->setCurrentIndex(0);
    w.FromDate->setDate(QDate(2026, 3 + i, 1));
    w.ResultBox->setCurrentText(QStringLiteral("verify-mismatch"));
  });
  Report("date from + result", ms, w.Model->rowCount());
  w.ResultBox->setCurrentIndex(0);
  w.FromDate->setDate(w.FromDate->minimumDate());
  Settle(w, first);
  // Return applies the text at once, without waiting for the typing pause.
  const auto typed = [&](const QString &text) {
    w.FileEdit->setText(text);
    emit w.FileEdit->returnPressed();
  };
  ms = time([&](int i) { typed(QStringLiteral("fw-%1").arg(10 + i)); });
  Report("file name (2% of the rows each)", ms, w.Model->rowCount());
  ms = time([&](int i) { typed(QStringLiteral("no-such-file-%1").arg(i)); });
  Report("file name matching no row", ms, w.Model->rowCount());
  typed(QString());
  Settle(w, first);
  ms = time([&](int) { w.Table->scrollToBottom(); });
  Report("next page on scroll", ms, w.Model->rowCount());
  if (argc > 2) {
    w.resize(1100, 500);
    w.grab().save(QString::fromLocal8Bit(argv[2]));
  }
  return 0;
}
