// The line's figures over a store that three station processes write at
// once, one of them killed mid-unit, read back on SQLite and on a real
// PostgreSQL server; and the units summed per hour and per station.
#include "records/line_reader.h"
#include "records/unit_summary.h"
#include "records_test_support.h"
#include "support/postgres_server.h"

#include <QUuid>
#include <thread>

namespace {

const QDate kDay(2026, 12, 7);
QDateTime Local(int dayOffset, int hour, int minute) { return QDateTime(kDay.addDays(dayOffset), QTime(hour, minute)); }

// Station A and the killed C from 10:00, D's clock two hours ahead, B across midnight (its first two
// units, a pass and a failure, end the day before, its third as the day
// begins): the lot counts every day's units, the station today's.
void WriteThreeStations(const QString &url) {
  const QString ten = records::TimeText(Local(0, 10, 0).toUTC());
  const QString twelve = records::TimeText(Local(0, 12, 0).toUTC());
  const QString beforeMidnight = records::TimeText(Local(0, 0, 0).toUTC().addSecs(-300));
  const std::vector<QStringList> stations = {
      {"bench-1", "/dev/ttyUSB0", "/dev/ttyUSB0", "电机板", "L1", "6", ten, "15", "pass",
       "fail:verify-mismatch:校验失败 0x1234", "pass"},
      {"bench-2", "/dev/ttyUSB0,/dev/ttyUSB1", "/dev/ttyUSB1", "电机板", "L1", "6", beforeMidnight, "15", "pass",
       "fail:box-failed:编程器报告失败", "fail:no-answer:编程器无应答", "pass"},
      {"bench-1", "/dev/ttyACM0", "/dev/ttyACM0", "电源板", "L2", "0", ten, "15", "pass", "kill"},
      {"bench-3", "/dev/ttyUSB5", "/dev/ttyUSB5", "电机板", "L1", "6", twelve, "15", "pass"},
  };
  std::vector<SpawnResult> results(stations.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < stations.size(); ++i)
    threads.emplace_back(
        [&, i] { results[i] = Spawn(BinPath(QStringLiteral("line_station")), QStringList{url} + stations[i]); });
  for (std::thread &t : threads)
    t.join();
  EXPECT_TRUE(results[0].Ok()) << results[0].output.toStdString();
  EXPECT_TRUE(results[1].Ok()) << results[1].output.toStdString();
  EXPECT_EQ(results[2].signal, SIGKILL) << results[2].output.toStdString();
  EXPECT_TRUE(results[3].Ok()) << results[3].output.toStdString();
}

QString Text(const records::LineFigures &line) {
  QStringList out;
  const auto yield = [](double y) { return y < 0 ? QStringLiteral("-") : QString::number(y, 'f', 1); };
  for (const records::StationFigures &s : line.stations)
    out << QStringLiteral("%1@%2 %3/%4 [%5] run %6 hour %7/%8 today %9/%10/%11 yield %12 idle %13 fail %14 %15")
               .arg(s.station, s.host, s.job, s.lot, s.ports.join(QLatin1Char(' ')))
               .arg(s.running)
               .arg(s.passedHour)
               .arg(s.failedHour)
               .arg(s.passedToday)
               .arg(s.failedToday)
               .arg(s.interruptedToday)
               .arg(yield(s.YieldPercent()))
               .arg(s.IdleMinutes(line.now))
               .arg(s.lastFailure, s.lastFailureMessage) +
               (s.clockAhead ? QStringLiteral(" ahead %1").arg(s.clockAhead) : QString());
  for (const records::LotFigures &l : line.lots)
    out << QStringLiteral("lot %1/%2 %3/%4 run %5 of %6")
               .arg(l.job, l.lot)
               .arg(l.passed)
               .arg(l.failed)
               .arg(l.running)
               .arg(l.size);
  out << QStringLiteral("line %1/%2/%3 run %4 yield %5")
             .arg(line.passed)
             .arg(line.failed)
             .arg(line.interrupted)
             .arg(line.running)
             .arg(yield(line.YieldPercent())) +
             (line.clockAhead ? QStringLiteral(" ahead %1").arg(line.clockAhead) : QString());
  return out.join(QLatin1Char('\n'));
}

void ExpectLineFigures(const records::StoreLocation &where) {
  const struct {
    QDateTime now;
    const char *line;
  } moments[] = {
      // C's killed unit holds its place until 10:17: running, never passed.
      {Local(0, 10, 10),
       "/dev/ttyACM0@bench-1 电源板/L2 [/dev/ttyACM0] run 1 hour 1/0 today 1/0/0 yield 100.0 idle -1 fail  \n"
       "/dev/ttyUSB0@bench-1 电机板/L1 [/dev/ttyUSB0] run 0 hour 2/1 today 2/1/0 yield 66.7 idle 5 fail "
       "verify-mismatch 校验失败 0x1234\n"
       "/dev/ttyUSB0,/dev/ttyUSB1@bench-2 电机板/L1 [/dev/ttyUSB1] run 0 hour 0/0 today 1/1/0 yield 50.0 idle 608 fail "
       "no-answer 编程器无应答\n"
       "/dev/ttyUSB5@bench-3 电机板/L1 [/dev/ttyUSB5] run 0 hour 0/0 today 0/0/0 yield - idle 0 fail   ahead 1\n"
       "lot 电机板/L1 5/3 run 0 of 6\n"
       "lot 电源板/L2 1/0 run 1 of 0\n"
       "line 4/2/0 run 1 yield 66.7 ahead 1"},
      // Past its hold it is interrupted, and C has stood idle since it started.
      {Local(0, 10, 20),
       "/dev/ttyACM0@bench-1 电源板/L2 [/dev/ttyACM0] run 0 hour 1/0 today 1/0/1 yield 100.0 idle 18 fail  \n"
       "/dev/ttyUSB0@bench-1 电机板/L1 [/dev/ttyUSB0] run 0 hour 2/1 today 2/1/0 yield 66.7 idle 15 fail "
       "verify-mismatch 校验失败 0x1234\n"
       "/dev/ttyUSB0,/dev/ttyUSB1@bench-2 电机板/L1 [/dev/ttyUSB1] run 0 hour 0/0 today 1/1/0 yield 50.0 idle 618 fail "
       "no-answer 编程器无应答\n"
       "/dev/ttyUSB5@bench-3 电机板/L1 [/dev/ttyUSB5] run 0 hour 0/0 today 0/0/0 yield - idle 0 fail   ahead 1\n"
       "lot 电机板/L1 5/3 run 0 of 6\n"
       "lot 电源板/L2 1/0 run 0 of 0\n"
       "line 4/2/1 run 0 yield 66.7 ahead 1"},
      {Local(1, 10, 0), "line 0/0/0 run 0 yield -"},
  };
  records::db::Connection c(where, records::db::Connection::Target::Store, "line-test");
  c.ReadOnly();
  for (const auto &m : moments) {
    records::LineFigures line;
    QString error;
    ASSERT_TRUE(records::ReadLine(c, m.now.toUTC(), records::LocalDayStart(m.now.toUTC()), &line, &error))
        << error.toStdString();
    EXPECT_EQ(Text(line).toStdString(), m.line) << m.now.toString(Qt::ISODate).toStdString();
  }
}

struct LinePostgres : ::testing::Test {
  static inline std::unique_ptr<PostgresServer> server;
  static void TearDownTestSuite() { server.reset(); }
  QString url;
  void SetUp() override {
    KAVRIN_NEED_POSTGRES();
    QString error;
    if (!server)
      server = std::make_unique<PostgresServer>();
    ASSERT_TRUE(server->Start(&error)) << error.toStdString();
    const QString database = QStringLiteral("t_%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    ASSERT_TRUE(server->CreateDatabase(database, &error)) << error.toStdString();
    url = server->Url(database);
  }
};

void MakeStore(const records::StoreLocation &where) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "make");
  QString error;
  ASSERT_TRUE(c.Open(&error)) << error.toStdString();
}

} // namespace

TEST(LineSqlite, FiguresOfThreeStationsOneKilledMidUnit) {
  ProgramFolder folder;
  const QString url = QStringLiteral("sqlite:") + folder.File(QStringLiteral("line.sqlite"));
  MakeStore(SqliteAt(folder.File(QStringLiteral("line.sqlite"))));
  WriteThreeStations(url);
  ExpectLineFigures(SqliteAt(folder.File(QStringLiteral("line.sqlite"))));
}

TEST_F(LinePostgres, FiguresOfThreeStationsOneKilledMidUnit) {
  const records::StoreLocation where = *records::ParseStoreUrl(url, nullptr);
  MakeStore(where);
  WriteThreeStations(url);
  ExpectLineFigures(where);
}
