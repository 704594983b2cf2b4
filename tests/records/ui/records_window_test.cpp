// The production records window on a real SQLite store, offscreen: newest
// first, the filters, pages fetched on scroll, and the export through Dialogs.
#include "app/ui/records_window.h"
#include "app/ui/yield_chart.h"
#include "records/database.h"
#include "records/records.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QAccessible>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

namespace {

// Finished at noon UTC of 2026-12-(7 + day), so that the local date is the
// same in any time zone a test machine may be in.
records::Record At(int n, int day, const QString &result, const QString &file) {
  records::Record r;
  r.recordUid = QStringLiteral("uid-%1").arg(n, 5, 10, QLatin1Char('0'));
  r.finishedAt = QDateTime(QDate(2026, 12, 7 + day), QTime(12, 0), Qt::UTC);
  r.startedAt = r.finishedAt.addMSecs(-7118);
  r.count = n;
  r.result = result;
  r.filePath = file;
  r.message = QStringLiteral("第%1次").arg(n);
  r.serial = QStringLiteral("SN-%1").arg(n);
  return r;
}

struct RecordsWindowTest : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  records::StoreLocation where = *records::ParseStoreUrl(QStringLiteral("sqlite:") + folder.File("r.sqlite"), nullptr);
  std::unique_ptr<app::RecordsWindow> window;

  void Store(const std::vector<records::Record> &rows) {
    records::db::Connection c(where, records::db::Connection::Target::Store, "test");
    QString error;
    ASSERT_TRUE(c.Insert(rows, &error)) << error.toStdString();
  }
  void Open() {
    window = std::make_unique<app::RecordsWindow>(where, dialogs);
    window->show();
    Settle();
  }
  void Settle() {
    ASSERT_TRUE(PumpUntil([&] { return !window->Model->Loading(); })) << "no page arrived";
  }
  // The `count` of each row shown, top to bottom.
  std::vector<qint64> Shown() const {
    std::vector<qint64> out;
    for (int i = 0; i < window->Model->rowCount(); ++i)
      out.push_back(window->Model->At(i).count);
    return out;
  }
  std::vector<qint64> AfterTyping(const char *keys, QLineEdit *edit = nullptr) {
    edit = edit ? edit : window->FileEdit;
    edit->setFocus();
    QTest::keyClicks(edit, QString::fromLatin1(keys));
    PumpUntil([&] { return window->Model->Loading(); }, app::RecordsWindow::kTypingPauseMs * 3);
    Settle();
    return Shown();
  }
};

} // namespace

TEST_F(RecordsWindowTest, ShowsNewestFirstAndTheFiltersNarrowIt) {
  std::vector<records::Record> rows;
  for (int n = 0; n < 6; ++n)
    rows.push_back(At(n, n, n == 3 ? QStringLiteral("verify-mismatch") : QStringLiteral("ok"),
                      n % 2 ? QStringLiteral("/fw/Right.hex") : QStringLiteral("/fw/left.hex")));
  Store(rows);
  Open();
  EXPECT_EQ(Shown(), (std::vector<qint64>{5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(window->StatusLabel->text(), QStringLiteral("6 records"));
  EXPECT_EQ(window->Model->index(0, 0).data().toString(),
            rows[5].finishedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
  EXPECT_EQ(window->Model->index(0, 1).data().toString(), QStringLiteral("ok"));

  window->ResultBox->setCurrentText(QStringLiteral("verify-mismatch"));
  Settle();
  EXPECT_EQ(Shown(), (std::vector<qint64>{3}));
  window->ResultBox->setCurrentIndex(0);
  Settle();
  EXPECT_EQ(AfterTyping("RIGHT"), (std::vector<qint64>{5, 3, 1})) << "any case";
  window->FromDate->setDate(QDate(2026, 12, 8));
  Settle();
  window->ToDate->setDate(QDate(2026, 12, 10));
  Settle();
  EXPECT_EQ(Shown(), (std::vector<qint64>{3, 1})) << "both days included";
  EXPECT_EQ(AfterTyping("x"), std::vector<qint64>{});
  EXPECT_EQ(window->StatusLabel->text(), QStringLiteral("0 records"));
  window->FileEdit->clear();
  window->FromDate->setDate(QDate(2000, 1, 1));
  window->ToDate->setDate(QDate(2000, 1, 1));
  Settle();
  EXPECT_EQ(AfterTyping("SN-", window->SerialEdit), std::vector<qint64>{}) << "a serial number matches whole";
  EXPECT_EQ(AfterTyping("3", window->SerialEdit), std::vector<qint64>{3});
}

TEST_F(RecordsWindowTest, ScrollingFetchesOlderPagesUntilEveryRowIsShownOnce) {
  std::vector<records::Record> rows;
  for (int n = 0; n < 1234; ++n)
    rows.push_back(At(n, n / 100, QStringLiteral("ok"), QStringLiteral("/fw/a.hex"))); // 100 rows share each time
  Store(rows);
  Open();
  EXPECT_EQ(window->Model->rowCount(), app::RecordsModel::kPageRows) << "one page at first";
  EXPECT_EQ(window->StatusLabel->text(), QStringLiteral("500 records shown; scroll down for older ones"));
  for (int pages = 0; pages < 5 && window->Model->More(); ++pages) {
    window->Table->scrollToBottom();
    ASSERT_TRUE(PumpUntil([&] { return !window->Model->Loading() && window->Model->rowCount() > 500 * (pages + 1); }));
  }
  const auto shown = Shown();
  ASSERT_EQ(shown.size(), rows.size());
  for (size_t i = 0; i < shown.size(); ++i)
    ASSERT_EQ(shown[i], qint64(rows.size() - 1 - i)) << "row " << i;
  EXPECT_EQ(window->StatusLabel->text(), QStringLiteral("1234 records"));
}

TEST_F(RecordsWindowTest, ExportWritesEveryMatchingRowToTheChosenFile) {
  std::vector<records::Record> rows;
  for (int n = 0; n < 700; ++n)
    rows.push_back(At(n, 0, n % 7 ? QStringLiteral("ok") : QStringLiteral("cancelled"), QStringLiteral("/fw/a.hex")));
  Store(rows);
  Open();
  window->ResultBox->setCurrentText(QStringLiteral("cancelled"));
  Settle();
  const QString path = folder.File(QStringLiteral("out.csv"));

  dialogs.saveAnswers = {std::nullopt};
  QTest::mouseClick(window->ExportButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.saveSuggestions, QStringList{QStringLiteral("production-records.csv")});
  EXPECT_TRUE(window->ExportButton->isEnabled()) << "cancelled: nothing to do";

  dialogs.saveAnswers = {path};
  QTest::mouseClick(window->ExportButton, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return window->ExportButton->isEnabled(); }));
  EXPECT_EQ(window->StatusLabel->text(), QStringLiteral("100 records exported to %1").arg(path));
  QString expected;
  QTextStream out(&expected);
  records::WriteCsv(records::Query(where, {.result = QStringLiteral("cancelled")}, nullptr), out);
  out.flush();
  EXPECT_EQ(QString::fromUtf8(folder.Read(QStringLiteral("out.csv"))), expected);

  const QString nowhere = folder.File(QStringLiteral("missing/out.csv"));
  dialogs.saveAnswers = {nowhere};
  QTest::mouseClick(window->ExportButton, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return window->ExportButton->isEnabled(); }));
  ASSERT_EQ(dialogs.Errors().size(), 1);
  EXPECT_TRUE(
      dialogs.Errors()[0].startsWith(QStringLiteral("Cannot export the records: cannot write %1: ").arg(nowhere)))
      << dialogs.Errors()[0].toStdString();
}

TEST_F(RecordsWindowTest, AStoreThatCannotBeReadSaysWhy) {
  ASSERT_TRUE(QDir().mkpath(where.sqlitePath));
  Open();
  EXPECT_EQ(window->Model->rowCount(), 0);
  EXPECT_EQ(window->StatusLabel->text(),
            QStringLiteral("Cannot read the records: %1 is a folder, not a records store").arg(where.sqlitePath));
}

TEST_F(RecordsWindowTest, TheChartShowsEachJobsUnitsByTheirLastAttempt) {
  const auto attempt = [](int n, int day, const char *job, const char *unit, int number, const char *result) {
    records::Record r = At(n, day, QString::fromLatin1(result), QStringLiteral("/fw/a.hex"));
    r.jobName = QString::fromLatin1(job);
    r.unitUid = QString::fromLatin1(unit);
    r.attempt = number;
    return r;
  };
  Store({attempt(1, 0, "J", "a", 1, "no-answer"), attempt(2, 0, "J", "a", 2, "ok"),
         attempt(3, 2, "J", "b", 1, "verify-mismatch"), attempt(4, 2, "K", "c", 1, "ok")});
  {
    // Units of records an older program wrote, derived as the store is brought up to date.
    records::db::Connection c(where, records::db::Connection::Target::Store, "derive");
    QString error;
    ASSERT_TRUE(c.Open(&error)) << error.toStdString();
    for (const char *sql : {"DROP TABLE units", "DROP TABLE lots", "DROP TABLE spool_ops",
                            "DROP INDEX serial_numbers_state", "UPDATE schema_version SET version = 4"})
      ASSERT_TRUE(c.Exec(QLatin1String(sql), &error)) << error.toStdString();
    c.Close();
    ASSERT_TRUE(c.Open(&error)) << error.toStdString();
  }
  window = std::make_unique<app::RecordsWindow>(where, dialogs);
  QSignalSpy updated(window->Chart, &app::YieldChartView::Updated);
  window->show();
  const auto described = [&] {
    EXPECT_TRUE(updated.wait()) << "no figures arrived";
    EXPECT_EQ(updated.takeFirst().at(0).toString(), QString());
    QAccessibleInterface *chart = QAccessible::queryAccessibleInterface(window->Chart);
    EXPECT_EQ(chart->text(QAccessible::Name), QStringLiteral("Yield chart"));
    return chart->text(QAccessible::Description).toStdString();
  };
  EXPECT_EQ(described(), "Units passed: 2, failed: 1; failed by result: verify-mismatch 1; per day: "
                         "2026-12-07: passed 1, failed 0; 2026-12-09: passed 1, failed 1");
  ASSERT_EQ(window->Chart->JobBox->count(), 3) << "every job, and all of them";

  // The next job down the list, chosen from the keyboard.
  window->Chart->JobBox->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  EXPECT_EQ(described(), "Units passed: 1, failed: 1; failed by result: verify-mismatch 1; per day: "
                         "2026-12-07: passed 1, failed 0; 2026-12-09: passed 0, failed 1");
  window->FromDate->setDate(QDate(2026, 12, 9));
  const QString noon = QDateTime(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC).toLocalTime().toString("HH:mm");
  EXPECT_EQ(described(), QStringLiteral("Units passed: 0, failed: 1; failed by result: verify-mismatch 1; per hour: "
                                        "%1: passed 0, failed 1")
                             .arg(noon)
                             .toStdString())
      << "a day is shown by the hour";
}
