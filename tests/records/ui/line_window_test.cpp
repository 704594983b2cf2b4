// The line at a glance, offscreen, on stores of its own: the rows, the amber
// of an idle station and the lot's bar as the figures say, re-read on the
// test's clock (SQLite) or as soon as another process's unit ends
// (PostgreSQL, the clock never moved), and a station's records opened by a
// key and by a click.
#include "app/ui/line_window.h"
#include "app/ui/records_window.h"
#include "app/ui/station_row.h"
#include "records/database.h"
#include "records/line_reader.h"
#include "records/unit_store.h"
#include "support/postgres_server.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

const QDate kDay(2026, 12, 7);
QDateTime At(int hour, int minute) { return QDateTime(kDay, QTime(hour, minute)).toUTC(); }

struct Unit {
  const char *host, *station;
  int started; // minutes after 10:00
  int ended;   // minutes after 10:00; -1: no verdict yet
  const char *verdict, *result, *message;
};

// Writes units as a station does, each ended one with its attempt's record.
void Write(const records::StoreLocation &where, const std::vector<Unit> &units) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "writer");
  QString error;
  for (const Unit &u : units) {
    const QString uid = QStringLiteral("%1-%2-%3").arg(QLatin1String(u.host), QLatin1String(u.station)).arg(u.started);
    const QDateTime started = At(10, 0).addSecs(60 * u.started);
    const QDateTime ended = u.ended < 0 ? QDateTime() : At(10, 0).addSecs(60 * u.ended);
    ASSERT_TRUE(c.Transaction(&error, [&] {
      return records::NoteLotSize(c, QStringLiteral("J"), QStringLiteral("L1"), 4, &error) &&
             records::db::Run(c,
                              QStringLiteral("INSERT INTO units (unit_uid, job_name, lot, station, host, port, "
                                             "started_at, ended_at, verdict, result, attempts, holds_until) "
                                             "VALUES (?, 'J', 'L1', ?, ?, ?, ?, ?, ?, ?, 1, ?) ON CONFLICT "
                                             "(job_name, unit_uid) DO UPDATE SET ended_at = excluded.ended_at, "
                                             "verdict = excluded.verdict, result = excluded.result"),
                              {uid, QLatin1String(u.station), QLatin1String(u.host), QLatin1String(u.station),
                               records::TimeText(started), records::TimeText(ended), QLatin1String(u.verdict),
                               QLatin1String(u.result), records::TimeText(started.addSecs(15 * 60))},
                              &error) &&
             (u.ended < 0 ||
              records::db::Run(
                  c,
                  QStringLiteral("INSERT INTO lots (job_name, lot, passed, failed) VALUES ('J', 'L1', ?, ?) "
                                 "ON CONFLICT (job_name, lot) DO UPDATE SET passed = lots.passed + "
                                 "excluded.passed, failed = lots.failed + excluded.failed"),
                  {u.verdict == std::string_view("passed") ? 1 : 0, u.verdict == std::string_view("failed") ? 1 : 0},
                  &error));
    })) << error.toStdString();
    if (u.ended < 0)
      continue;
    records::Record r;
    r.recordUid = uid + QStringLiteral("-r");
    r.finishedAt = ended;
    r.host = QLatin1String(u.host);
    r.station = QLatin1String(u.station);
    r.result = QLatin1String(u.result);
    r.message = QString::fromUtf8(u.message);
    r.jobName = QStringLiteral("J");
    r.lot = QStringLiteral("L1");
    r.unitUid = uid;
    ASSERT_TRUE(c.Insert(std::vector{r}, &error)) << error.toStdString();
  }
}

struct LineWindowTest : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  base::ManualClock clock;
  QDateTime now = At(10, 30);
  int asked = 0; // reads the window asked for
  std::unique_ptr<app::LineWindow> window;

  void Open(const records::StoreLocation &where) {
    window = std::make_unique<app::LineWindow>(where, dialogs, 10, clock, [this] {
      ++asked;
      return now;
    });
    window->show();
    window->activateWindow();
    ASSERT_TRUE(PumpUntil([&] { return window->Reads() == 1; })) << "the first read never came";
  }
  std::vector<QStringList> Cells() const {
    std::vector<QStringList> out;
    for (const app::StationRow *row : window->Rows())
      out.push_back(QStringList(row->Cells()) << (row->Amber() ? QStringLiteral("amber") : QStringLiteral("-")));
    return out;
  }
};

} // namespace

TEST_F(LineWindowTest, ShowsEachStationReadsAgainOnTheClockAndOpensAStationsRecords) {
  const records::StoreLocation where =
      *records::ParseStoreUrl(QStringLiteral("sqlite:") + folder.File("s.sqlite"), nullptr);
  Write(where, {{"bench-1", "/dev/ttyUSB0", 0, 1, "passed", "ok", "编程成功"},
                {"bench-1", "/dev/ttyUSB0", 10, 11, "failed", "verify-mismatch", "校验失败"},
                {"bench-2", "/dev/ttyUSB1", 20, 21, "passed", "ok", "编程成功"},
                {"bench-2", "/dev/ttyUSB1", 25, -1, "", "", ""}});
  Open(where);
  EXPECT_EQ(Cells(), (std::vector<QStringList>{
                         {"/dev/ttyUSB0", "bench-1", "J", "L1", "空闲 19 分钟", "1 / 1", "1 / 1", "50.0 %",
                          "verify-mismatch：校验失败", "amber"},
                         {"/dev/ttyUSB1", "bench-2", "J", "L1", "运行 1", "1 / 0", "1 / 0", "100.0 %", "", "-"}}));
  EXPECT_EQ(window->Rows()[0]->accessibleName(), QStringLiteral("工位 /dev/ttyUSB0，主机 bench-1"));
  EXPECT_EQ(
      window->Rows()[0]->accessibleDescription(),
      QStringLiteral("空闲 19 分钟\n作业 J，批次 L1\n近一小时合格 1，不合格 1\n今日合格 1，不合格 1，中断 0，良率 "
                     "50.0 %\n最近失败：verify-mismatch：校验失败"));
  EXPECT_EQ(window->Totals->text(), QStringLiteral("今日合格 2　不合格 1　中断 0"));
  EXPECT_EQ(window->Yield->text(), QStringLiteral("今日良率：66.7 %"));
  EXPECT_EQ(window->Running->text(), QStringLiteral("运行中：1"));
  ASSERT_EQ(window->LotBars.size(), 1u);
  EXPECT_EQ(window->LotBars[0]->accessibleName(), QStringLiteral("J，批次 L1：合格 2 / 4"));
  EXPECT_EQ(std::pair(window->LotBars[0]->value(), window->LotBars[0]->maximum()), std::pair(2, 4));
  EXPECT_EQ(window->Status->text(),
            QStringLiteral("%1 已更新；每 2 秒读取一次").arg(now.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));

  // bench-2's unit ends; the window sees it at its next read, two seconds on the clock.
  Write(where, {{"bench-2", "/dev/ttyUSB1", 25, 31, "passed", "ok", "编程成功"}});
  now = At(10, 42);
  clock.Advance(app::LineWindow::kPolledRefreshMs);
  ASSERT_TRUE(PumpUntil([&] { return window->Reads() == 2; }));
  EXPECT_EQ(Cells(), (std::vector<QStringList>{{"/dev/ttyUSB0", "bench-1", "J", "L1", "空闲 31 分钟", "1 / 1", "1 / 1",
                                                "50.0 %", "verify-mismatch：校验失败", "amber"},
                                               {"/dev/ttyUSB1", "bench-2", "J", "L1", "空闲 11 分钟", "2 / 0", "2 / 0",
                                                "100.0 %", "", "amber"}}));
  EXPECT_EQ(window->LotBars[0]->value(), 3);

  // Down from the first row to the second, and Return on it: bench-2's records.
  const auto shown = [&](const char *host) {
    app::RecordsWindow *records = window->StationRecords();
    EXPECT_TRUE(records && records->isVisible());
    if (!records)
      return QStringList();
    EXPECT_TRUE(PumpUntil([&] { return !records->Model->Loading(); }));
    EXPECT_EQ(records->HostEdit->text(), QLatin1String(host));
    QStringList stations;
    for (int i = 0; i < records->Model->rowCount(); ++i)
      stations << records->Model->At(i).host + QLatin1Char(' ') + records->Model->At(i).station;
    return stations;
  };
  window->Rows()[0]->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  EXPECT_EQ(QApplication::focusWidget(), window->Rows()[1]);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(shown("bench-2"), (QStringList{"bench-2 /dev/ttyUSB1", "bench-2 /dev/ttyUSB1"}));
  QTest::mouseClick(window->Rows()[0], Qt::LeftButton);
  EXPECT_EQ(shown("bench-1"), (QStringList{"bench-1 /dev/ttyUSB0", "bench-1 /dev/ttyUSB0"}));
}

TEST_F(LineWindowTest, APostgresStoreIsReadAgainAsAnotherProcessesUnitEnds) {
  KAVRIN_NEED_POSTGRES();
  PostgresServer server;
  QString error;
  ASSERT_TRUE(server.Start(&error)) << error.toStdString();
  const QString database = QStringLiteral("t_%1").arg(QUuid::createUuid().toString(QUuid::Id128));
  ASSERT_TRUE(server.CreateDatabase(database, &error)) << error.toStdString();
  const records::StoreLocation where = *records::ParseStoreUrl(server.Url(database), nullptr);
  Write(where, {{"bench-1", "/dev/ttyUSB0", 0, 1, "passed", "ok", "编程成功"}});
  Open(where);
  ASSERT_EQ(window->Rows().size(), 1u);
  EXPECT_EQ(window->Status->text(), QStringLiteral("%1 已更新；各工位的单元开始或结束时即时更新")
                                        .arg(now.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));

  // The clock stands still: only the server's word can bring the new unit.
  const SpawnResult station =
      Spawn(BinPath(QStringLiteral("line_station")), {server.Url(database), "bench-3", "/dev/ttyUSB9", "/dev/ttyUSB9",
                                                      "J", "L1", "4", records::TimeText(At(10, 20)), "15", "pass"});
  ASSERT_TRUE(station.Ok()) << station.output.toStdString();
  // Within a second of the unit's end (the station's process has ended by then).
  ASSERT_TRUE(PumpUntil(
      [&] {
        const app::StationRow *row = window->Row(QStringLiteral("/dev/ttyUSB9"), QStringLiteral("bench-3"));
        return row && row->Cells().value(6) == QStringLiteral("1 / 0");
      },
      1000))
      << "no read after the unit ended";
  EXPECT_EQ(window->Totals->text(), QStringLiteral("今日合格 2　不合格 0　中断 0"));
  window.reset(); // before its server goes
}

// Any login may send on the units' channel: a burst is read once, then at
// most once a period of the test's clock, whatever else arrives.
TEST_F(LineWindowTest, ABurstOfNotificationsIsReadOncePerPeriod) {
  KAVRIN_NEED_POSTGRES();
  PostgresServer server;
  QString error;
  ASSERT_TRUE(server.Start(&error)) << error.toStdString();
  const QString database = QStringLiteral("t_%1").arg(QUuid::createUuid().toString(QUuid::Id128));
  ASSERT_TRUE(server.CreateDatabase(database, &error)) << error.toStdString();
  const records::StoreLocation where = *records::ParseStoreUrl(server.Url(database), nullptr);
  Write(where, {{"bench-1", "/dev/ttyUSB0", 0, 1, "passed", "ok", "编程成功"}});
  Open(where);
  records::db::Connection sender(where, records::db::Connection::Target::Store, "sender");
  ASSERT_TRUE(sender.Open(&error) &&
              sender.Exec(QStringLiteral("SELECT pg_notify('%1', g::text) FROM generate_series(1, 20000) AS g")
                              .arg(records::kUnitsChannel),
                          &error))
      << error.toStdString();
  ASSERT_TRUE(PumpUntil([&] { return window->Reads() >= 2; })) << "no read after the burst";
  EXPECT_EQ(window->Reads(), 2);
  EXPECT_EQ(asked, 2) << "the clock stood still: one read for the whole burst";
  clock.Advance(app::LineWindow::kToldCoalesceMs);
  EXPECT_LE(asked, 3);
  window.reset(); // before its server goes
}
