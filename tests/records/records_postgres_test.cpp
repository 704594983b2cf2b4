// The shared PostgreSQL store against a real server of the test's own:
// forwarding through the spool, the server going away and coming back, spool
// left by a killed run, and eight stations writing at once.
#include "records/database.h"
#include "records/line_reader.h"
#include "records/recorder.h"
#include "records/serial_pool.h"
#include "records_test_support.h"
#include "support/postgres_server.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QUuid>
#include <QSqlQuery>
#include <csignal>
#include <map>
#include <numeric>
#include <set>
#include <latch>
#include <thread>

namespace {

struct SharedStore : ::testing::Test {
  static inline std::unique_ptr<PostgresServer> server;
  ProgramFolder folder;
  QString database;
  records::StoreLocation where;

  static void TearDownTestSuite() { server.reset(); }

  void SetUp() override {
    KAVRIN_NEED_POSTGRES();
    QString error;
    if (!server)
      server = std::make_unique<PostgresServer>();
    ASSERT_TRUE(server->Start(&error)) << error.toStdString();
    database = QStringLiteral("t_%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    ASSERT_TRUE(server->CreateDatabase(database, &error)) << error.toStdString();
    where = Location(folder.File(QStringLiteral("spool.sqlite")));
  }

  records::StoreLocation Location(const QString &spool) const {
    return *records::ParseStoreUrl(server->Url(database), nullptr, spool);
  }

  std::vector<records::Record> OnServer() {
    QString error;
    auto rows = records::Query(where, {}, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    std::sort(rows.begin(), rows.end(), [](auto &a, auto &b) { return a.id < b.id; });
    return rows;
  }
  std::vector<records::Record> InSpool() { return records::Query(SqliteAt(where.sqlitePath), {}, nullptr); }
};

} // namespace

TEST_F(SharedStore, RecordsReachTheServerExactlyAndInOrder) {
  std::vector<records::Record> added;
  {
    records::Recorder recorder(where);
    for (int n = 0; n < 3; ++n) {
      added.push_back(FullRecord(n, 10 - n)); // finished times run backwards: order is by arrival
      recorder.Add(added.back());
    }
    ASSERT_TRUE(recorder.WaitForwarded(20000));
  }
  const auto rows = OnServer();
  ASSERT_EQ(rows.size(), 3u);
  for (size_t i = 0; i < rows.size(); ++i) {
    records::Record expected = added[i];
    expected.id = rows[i].id;
    EXPECT_EQ(rows[i], expected) << "row " << i;
  }
  EXPECT_TRUE(InSpool().empty());
  EXPECT_EQ(QFile::permissions(where.sqlitePath),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

  // The server reads with its own dialect: newest first, a file in any case, pages.
  QString error;
  EXPECT_EQ(Uids(records::Query(where, {.fileContains = QStringLiteral("MAIN.h")}, &error)),
            (QStringList{added[0].recordUid, added[1].recordUid, added[2].recordUid}))
      << error.toStdString();
  EXPECT_EQ(Uids(records::Query(where, {.fileContains = QStringLiteral("%")}, &error)), QStringList{});
  const auto page = records::Query(where, {.limit = 1}, &error);
  ASSERT_EQ(Uids(page), QStringList{added[0].recordUid}) << error.toStdString();
  EXPECT_EQ(Uids(records::Query(where, {.since = added[1].finishedAt, .before = records::KeyOf(page[0])}, &error)),
            QStringList{added[1].recordUid});
}

TEST_F(SharedStore, AStoreOfVersionOneIsReadAsItIsAndKeepsEveryRowWhenAStationMigratesIt) {
  QString error, version;
  ASSERT_TRUE(
      server->Psql(database, VersionOneSql(false, {VersionOneRecord(1), VersionOneRecord(2)}).join(';'), &error))
      << error.toStdString();
  records::Record one = VersionOneRecord(1), two = VersionOneRecord(2), three = FullRecord(3, 3);
  one.id = 1;
  two.id = 2;
  three.id = 3;
  EXPECT_EQ(records::Query(where, {}, &error), (std::vector{two, one})) << error.toStdString();
  ASSERT_TRUE(server->Psql(database, QStringLiteral("SELECT MAX(version) FROM schema_version"), &error, &version));
  EXPECT_EQ(version, QStringLiteral("1")) << "a reader migrates nothing";

  {
    records::db::Connection station(where, records::db::Connection::Target::Store, "t");
    ASSERT_TRUE(station.Insert(std::vector{three}, &error)) << error.toStdString();
  }
  EXPECT_EQ(records::Query(where, {}, &error), (std::vector{three, two, one})) << error.toStdString();
  ASSERT_TRUE(server->Psql(database, QStringLiteral("SELECT MAX(version) FROM schema_version"), &error, &version));
  EXPECT_EQ(version, QString::number(records::db::kSchemaVersion));
}

TEST_F(SharedStore, TheChartCountsEachUnitByItsLastAttemptPerHourOrDay) {
  ExpectChartFigures(where, [&](const QString &sql) {
    QString error;
    EXPECT_TRUE(server->Psql(database, sql, &error)) << sql.toStdString() << error.toStdString();
  });
}

TEST_F(SharedStore, UnitsTakeAndGiveBackPlacesInTheirLotAndEndOnce) { ExpectUnitOps(where); }

TEST_F(SharedStore, AStoppedServerHoldsRecordsInTheSpoolUntilItIsBack) {
  records::Recorder recorder(where);
  QSignalSpy warnings(&recorder, &records::Recorder::Warning);
  QSignalSpy recovered(&recorder, &records::Recorder::Recovered);
  QStringList added;
  const auto add = [&](int n) {
    recorder.Add(FullRecord(n, n));
    added << FullRecord(n).recordUid;
  };
  for (int n = 0; n < 5; ++n)
    add(n);
  ASSERT_TRUE(recorder.WaitForwarded(20000));

  QString error;
  ASSERT_TRUE(server->Stop(&error)) << error.toStdString();
  for (int n = 5; n < 10; ++n)
    add(n);
  ASSERT_TRUE(PumpUntil([&] { return warnings.size() == 1; }, 20000));
  const QString prefix = QStringLiteral("Production records cannot reach postgres@127.0.0.1:%1/%2 and are kept on "
                                        "this station: ")
                             .arg(server->Port())
                             .arg(database);
  EXPECT_TRUE(warnings.at(0).at(0).toString().startsWith(prefix)) << warnings.at(0).at(0).toString().toStdString();
  EXPECT_GT(warnings.at(0).at(0).toString().size(), prefix.size() + 5) << "the server's reason follows";
  EXPECT_FALSE(recorder.WaitForwarded(300));
  EXPECT_EQ(Uids(InSpool()).size(), 5);

  ASSERT_TRUE(server->Start(&error)) << error.toStdString();
  add(10); // a new record makes the forwarder try at once, not after its back-off
  ASSERT_TRUE(recorder.WaitForwarded(5000));
  ASSERT_TRUE(PumpUntil([&] { return recovered.size() == 1; }));
  EXPECT_EQ(
      recovered.at(0).at(0).toString(),
      QStringLiteral("Production records reach postgres@127.0.0.1:%1/%2 again.").arg(server->Port()).arg(database));
  EXPECT_EQ(warnings.size(), 1);
  EXPECT_EQ(Uids(OnServer()), added);
  EXPECT_TRUE(InSpool().empty());
}

// A station's units while the server is away: written to the spool (durable),
// a start counted against the lot as last read plus the spool, the count told
// not current; once the server is back, forwarded in order and once.
TEST_F(SharedStore, UnitsWrittenWhileTheServerIsAwayReachItInOrderAndOnce) {
  records::Recorder recorder(where);
  records::Replies replies;
  const QDateTime t0 = QDateTime::currentDateTimeUtc();
  const auto write = [&](records::UnitOp::Kind kind, const char *uid, const char *verdict = "") {
    records::UnitOp op;
    op.kind = kind;
    op.lotSize = 2;
    op.unit.unitUid = QLatin1String(uid);
    op.unit.jobName = QStringLiteral("J");
    op.unit.lot = QStringLiteral("L");
    op.unit.station = QStringLiteral("s");
    op.unit.operatorName = QStringLiteral("王芳 ") + QLatin1String(uid);
    op.unit.startedAt = t0;
    op.unit.holdsUntil = t0.addSecs(3600);
    op.unit.verdict = QLatin1String(verdict);
    op.unit.result = QLatin1String(*verdict == 'p' ? "ok" : "box-failed");
    op.unit.endedAt = *verdict ? t0.addSecs(1) : QDateTime();
    std::optional<records::Recorder::UnitAnswer> answer;
    recorder.WriteUnit(op, replies.Port(), [&](records::Recorder::UnitAnswer a) { answer = a; });
    EXPECT_TRUE(PumpUntil([&] { return answer.has_value(); }, 20000));
    return answer.value_or(records::Recorder::UnitAnswer{});
  };
  const auto count = [&] {
    std::optional<records::Recorder::LotAnswer> answer;
    recorder.CountLot(QStringLiteral("J"), QStringLiteral("L"), replies.Port(),
                      [&](records::Recorder::LotAnswer a) { answer = a; });
    EXPECT_TRUE(PumpUntil([&] { return answer.has_value(); }, 20000));
    return answer.value_or(records::Recorder::LotAnswer{});
  };
  using Kind = records::UnitOp::Kind;
  EXPECT_EQ(count().counters, (records::LotCounters{0, 0, 0})); // read once with the server there
  QString error;
  ASSERT_TRUE(server->Stop(&error)) << error.toStdString();
  const struct {
    const char *what;
    Kind kind;
    const char *uid, *verdict;
    bool placed;
  } offline[] = {
      {"u1 starts", Kind::Start, "u1", "", true},
      {"u1 passes", Kind::End, "u1", "passed", true},
      {"u2 starts", Kind::Start, "u2", "", true},
      {"u3 finds the lot's places held", Kind::Start, "u3", "", false},
  };
  for (const auto &o : offline) {
    const records::Recorder::UnitAnswer a = write(o.kind, o.uid, o.verdict);
    EXPECT_TRUE(a.durable) << o.what << ": " << a.error.toStdString();
    EXPECT_EQ(a.placed, o.placed) << o.what;
  }
  const records::Recorder::LotAnswer away = count();
  EXPECT_FALSE(away.current);
  EXPECT_EQ(away.counters, (records::LotCounters{1, 0, 1}));
  EXPECT_FALSE(recorder.WaitForwarded(300));

  ASSERT_TRUE(server->Start(&error)) << error.toStdString();
  ASSERT_TRUE(recorder.WaitForwarded(10000));
  const records::Recorder::LotAnswer back = count();
  EXPECT_TRUE(back.current);
  EXPECT_EQ(back.counters, (records::LotCounters{1, 0, 1}));
  EXPECT_TRUE(write(Kind::End, "u2", "failed").durable);
  EXPECT_EQ(count().counters, (records::LotCounters{1, 1, 0}));
  records::db::Connection c(where, records::db::Connection::Target::Store, "check");
  ASSERT_TRUE(c.Open(&error)) << error.toStdString();
  QSqlQuery q(c.Database());
  ASSERT_TRUE(q.exec(QStringLiteral("SELECT unit_uid, verdict, operator FROM units ORDER BY unit_uid")));
  QStringList rows;
  while (q.next())
    rows << q.value(0).toString() + ' ' + q.value(1).toString() + ' ' + q.value(2).toString();
  EXPECT_EQ(rows, (QStringList{"u1 passed 王芳 u1", "u2 failed 王芳 u2"})) << "u3 never started";
}

// The server tells every station watching when any station's unit ends.
TEST_F(SharedStore, AUnitEndingOnOneStationIsToldToTheOthers) {
  records::Recorder watching(Location(folder.File(QStringLiteral("spool-a.sqlite"))));
  records::Recorder ending(Location(folder.File(QStringLiteral("spool-b.sqlite"))));
  records::Replies replies;
  QStringList told;
  watching.WatchUnits(replies.Port(), [&](const QString &job, const QString &lot) { told << job + '/' + lot; });
  // Its count reaches the server and, through it, makes the watching station listen.
  bool counted = false;
  watching.CountLot(QStringLiteral("J"), QStringLiteral("L"), replies.Port(),
                    [&](records::Recorder::LotAnswer) { counted = true; });
  ASSERT_TRUE(PumpUntil([&] { return counted; }));
  records::UnitOp op;
  op.kind = records::UnitOp::Kind::End;
  op.unit.unitUid = QStringLiteral("u1");
  op.unit.jobName = QStringLiteral("J");
  op.unit.lot = QStringLiteral("L");
  op.unit.startedAt = QDateTime::currentDateTimeUtc();
  op.unit.endedAt = op.unit.startedAt;
  op.unit.verdict = records::kVerdictPassed;
  op.unit.result = QStringLiteral("ok");
  bool written = false;
  ending.WriteUnit(op, replies.Port(), [&](records::Recorder::UnitAnswer a) { written = a.durable; });
  ASSERT_TRUE(PumpUntil([&] { return written && !told.isEmpty(); }, 10000)) << told.join(' ').toStdString();
  EXPECT_EQ(told, QStringList{QStringLiteral("J/L")});
}

TEST_F(SharedStore, AServerRestartedWhileIdleTakesTheNextRecordWithoutAWarning) {
  records::Recorder recorder(where);
  QSignalSpy warnings(&recorder, &records::Recorder::Warning);
  recorder.Add(FullRecord(1, 1));
  ASSERT_TRUE(recorder.WaitForwarded(20000));
  QString error;
  ASSERT_TRUE(server->Stop(&error)) << error.toStdString();
  ASSERT_TRUE(server->Start(&error)) << error.toStdString();
  recorder.Add(FullRecord(2, 2));
  ASSERT_TRUE(recorder.WaitForwarded(5000));
  EXPECT_EQ(warnings.size(), 0) << "the dropped connection is made again at once";
  EXPECT_EQ(Uids(OnServer()), (QStringList{FullRecord(1).recordUid, FullRecord(2).recordUid}));
}

TEST_F(SharedStore, ASpooledRecordGoesOnlyToItsOwnDestination) {
  QString error;
  const QString other = database + QStringLiteral("_other");
  ASSERT_TRUE(server->CreateDatabase(other, &error)) << error.toStdString();
  const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", folder.dir.path().toUtf8());
  const records::StoreLocation mine = *records::ParseStoreUrl(server->Url(database), nullptr);
  const records::StoreLocation theirs = *records::ParseStoreUrl(server->Url(other), nullptr);
  qputenv("XDG_DATA_HOME", savedXdg);
  {
    // Spooled while its server could not be reached.
    records::db::Connection spool(mine, records::db::Connection::Target::Spool, "t");
    ASSERT_TRUE(spool.Insert(std::vector{FullRecord(1)}, &error)) << error.toStdString();
  }
  {
    records::Recorder recorder(theirs);
    QSignalSpy warnings(&recorder, &records::Recorder::Warning);
    recorder.Add(FullRecord(2));
    ASSERT_TRUE(recorder.Finish(20000));
    EXPECT_EQ(Uids(records::Query(theirs, {}, &error)), QStringList{FullRecord(2).recordUid}) << error.toStdString();
    ASSERT_EQ(warnings.size(), 1) << "told at start";
    EXPECT_EQ(warnings.at(0).at(0).toString(),
              QStringLiteral("Production records for %1 still wait in %2: 1 of them, forwarded when a run records to "
                             "%1 again.")
                  .arg(mine.Describe(), mine.sqlitePath));
  }
  {
    records::Recorder recorder(mine);
    ASSERT_TRUE(recorder.WaitForwarded(20000));
  }
  EXPECT_EQ(Uids(records::Query(mine, {}, &error)), QStringList{FullRecord(1).recordUid}) << error.toStdString();

  // A spool named by hand keeps to the destination it was made for.
  records::db::Connection misnamed(*records::ParseStoreUrl(server->Url(other), nullptr, mine.sqlitePath),
                                   records::db::Connection::Target::Spool, "t");
  EXPECT_FALSE(misnamed.Open(&error));
  EXPECT_EQ(error, QStringLiteral("the spool %1 holds records for %2, not for %3")
                       .arg(mine.sqlitePath, mine.Describe(), theirs.Describe()));
}

TEST_F(SharedStore, SpoolLeftByAKilledRunIsForwardedOnceAtStart) {
  // A run that was killed after the server took a record but before the
  // spool let go of it, and a run killed right after adding.
  const records::Record taken = FullRecord(1, 1), waiting = FullRecord(2, 2);
  {
    records::db::Connection spool(where, records::db::Connection::Target::Spool, "t");
    records::db::Connection store(where, records::db::Connection::Target::Store, "t");
    QString error;
    ASSERT_TRUE(spool.Insert(std::vector{taken, waiting}, &error)) << error.toStdString();
    ASSERT_TRUE(store.Insert(std::vector{taken}, &error)) << error.toStdString();
  }
  AddThenKill(server->Url(database), where.sqlitePath, QStringLiteral("killed-3"));
  ASSERT_EQ(InSpool().size(), 3u);

  records::Recorder recorder(where);
  ASSERT_TRUE(recorder.WaitForwarded(20000));
  EXPECT_EQ(Uids(OnServer()), (QStringList{taken.recordUid, waiting.recordUid, QStringLiteral("killed-3")}));
  EXPECT_TRUE(InSpool().empty());
}

// A station's last units wait in its spool when the server comes back: the
// next start forwards them and claims the station before it draws, so the
// numbers they gave back come first and nothing later frees its new block.
TEST_F(SharedStore, NumbersSpooledWhileTheServerWasAwayAreSettledBeforeTheNextStartDraws) {
  const records::PoolStation station{QStringLiteral("ob"), QStringLiteral("count start=1 step=1"), -1,
                                     QStringLiteral("h"), QStringLiteral("COM5")};
  records::Replies replies;
  const auto write = [&](records::Recorder &recorder, records::UnitOp op) {
    bool answered = false;
    recorder.WriteUnit(op, replies.Port(), [&](records::Recorder::UnitAnswer) { answered = true; });
    EXPECT_TRUE(PumpUntil([&] { return answered; }, 20000));
  };
  // As a run starts: its claim, and its first draw at once after it.
  const auto claim = [&](records::Recorder &recorder) {
    records::UnitOp op;
    op.kind = records::UnitOp::Kind::Settle;
    op.host = station.host;
    op.station = station.station;
    recorder.WriteUnit(op, replies.Port(), [](records::Recorder::UnitAnswer) {});
  };
  const auto draw = [&](records::Recorder &recorder) {
    std::optional<std::vector<qint64>> drawn;
    recorder.OnStore(station.host, station.station, [&](records::db::Connection &c, const QString &unsettled) {
      std::vector<qint64> got;
      QString error = unsettled;
      EXPECT_TRUE(error.isEmpty() && records::ReserveNumbers(c, station, 4, &got, &error)) << error.toStdString();
      replies.Port().Send([&drawn, got] { drawn = got; });
    });
    EXPECT_TRUE(PumpUntil([&] { return drawn.has_value(); }, 20000));
    return drawn.value_or(std::vector<qint64>{});
  };
  const auto number = [&](qint64 idx, const QString &state) {
    return records::NumberChange{station.pool, idx, station.host, station.station, state, QString(), QString()};
  };
  QString error;
  {
    records::Recorder first(where);
    claim(first);
    EXPECT_EQ(draw(first), (std::vector<qint64>{0, 1, 2, 3}));
    ASSERT_TRUE(server->Stop(&error)) << error.toStdString();
    first.Add(FullRecord(1)); // records go first, each batch a task of its own
    records::UnitOp used;
    used.kind = records::UnitOp::Kind::Numbers;
    used.numbers = {number(0, records::kNumberUsed), number(1, records::kNumberUsed)};
    write(first, used);
    records::UnitOp back;
    back.kind = records::UnitOp::Kind::Numbers;
    back.numbers = {number(2, records::kNumberFree), number(3, records::kNumberFree)};
    write(first, back);
    EXPECT_FALSE(first.Finish(300));
  }
  ASSERT_TRUE(server->Start(&error)) << error.toStdString();
  // The first run's process has ended (here it lives on as the test's).
  QString out;
  ASSERT_TRUE(server->Psql(database, QStringLiteral("UPDATE station_leases SET pid = 99999999"), &error, &out))
      << error.toStdString();
  records::Recorder next(where);
  claim(next);
  EXPECT_EQ(draw(next), (std::vector<qint64>{2, 3, 4, 5}));
  ASSERT_TRUE(next.WaitForwarded(10000));
  qint64 end = 0;
  EXPECT_EQ(PoolNumbers(where, station.pool, &end),
            (std::map<qint64, QString>{{0, records::kNumberUsed},
                                       {1, records::kNumberUsed},
                                       {2, records::kNumberReserved},
                                       {3, records::kNumberReserved},
                                       {4, records::kNumberReserved},
                                       {5, records::kNumberReserved}}));
}

TEST_F(SharedStore, EightStationsWritingAtOnceLoseAndDoubleNothing) {
  constexpr int kStations = 8, kEach = 1000;
  std::vector<std::thread> stations;
  std::atomic<int> drained{0};
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      records::Recorder recorder(Location(folder.File(QStringLiteral("spool-%1.sqlite").arg(s))));
      for (int n = 0; n < kEach; ++n) {
        records::Record r = FullRecord(s * kEach + n, n);
        r.station = QStringLiteral("station-%1").arg(s);
        recorder.Add(r);
      }
      drained += recorder.WaitForwarded(120000);
    });
  for (auto &t : stations)
    t.join();
  EXPECT_EQ(drained, kStations);
  const auto rows = OnServer();
  ASSERT_EQ(rows.size(), size_t(kStations * kEach));
  std::set<qint64> ids;
  std::set<QString> uids;
  std::vector<qint64> lastCount(kStations, -1);
  for (const auto &r : rows) {
    ids.insert(r.id);
    uids.insert(r.recordUid);
    const int s = r.station.mid(8).toInt();
    EXPECT_GT(r.count, lastCount[size_t(s)]) << "each station's records arrive in its order";
    lastCount[size_t(s)] = r.count;
  }
  EXPECT_EQ(ids.size(), rows.size());
  EXPECT_EQ(uids.size(), rows.size());
}

TEST_F(SharedStore, EightStationProcessesDrawEveryNumberOnceAndAccountForTheRest) {
  ExpectStationsDrawEveryNumberOnce(server->Url(database), where, folder, 200);
}

TEST_F(SharedStore, AStationKilledMidRunAndStartedAgainGivesNoNumberTwice) {
  const QStringList args = {server->Url(database), folder.File(QStringLiteral("spool")), QStringLiteral("boards"),
                            QStringLiteral("bench-1")};
  const SpawnResult killed = Spawn(BinPath(QStringLiteral("serial_station")), args + QStringList{"20", "10", "15"});
  ASSERT_EQ(killed.signal, SIGKILL) << killed.output.toStdString();
  const SpawnResult again = Spawn(BinPath(QStringLiteral("serial_station")), args + QStringList{"20", "10"});
  ASSERT_TRUE(again.Ok()) << again.output.toStdString();
  std::set<qint64> used;
  for (const SpawnResult *r : {&killed, &again})
    for (qint64 idx : Printed(*r))
      EXPECT_TRUE(used.insert(idx).second) << "number " << idx << " given twice";
  EXPECT_EQ(used.size(), 34u);
  qint64 next = 0;
  const auto states = PoolNumbers(where, QStringLiteral("boards"), &next);
  ASSERT_EQ(states.size(), size_t(next));
  std::map<QString, int> byState;
  for (const auto &[idx, state] : states)
    ++byState[state];
  // The killed run's unit 15 may be in a board: failed, never given again;
  // its block's five unreached numbers went back and were the next run's first.
  EXPECT_EQ(byState, (std::map<QString, int>{{records::kNumberUsed, 34}, {records::kNumberFailed, 1}}));
  EXPECT_EQ(states.at(14), records::kNumberFailed);
  EXPECT_EQ(next, 35);
}

TEST_F(SharedStore, AListsLinesGoOnceEachAcrossTwoStationsAndAnotherPlanIsRefused) {
  constexpr int kLines = 50;
  std::vector<qint64> drawn[2];
  std::thread stations[2];
  // Each station has drawn once before either draws on, so that both draw
  // side by side however the threads are scheduled.
  std::latch bothDrew(2);
  for (int s = 0; s < 2; ++s)
    stations[s] = std::thread([&, s] {
      records::db::Connection c(where, records::db::Connection::Target::Store, "list");
      const records::PoolStation station{QStringLiteral("labels"), QStringLiteral("list abc"), kLines,
                                         QStringLiteral("host"), QStringLiteral("station-%1").arg(s)};
      std::vector<qint64> got;
      QString error;
      bool drew = true;
      for (bool first = true; drew && (first || !got.empty()); first = false) {
        drew = records::ReserveNumbers(c, station, 3, &got, &error);
        EXPECT_TRUE(drew) << error.toStdString();
        drawn[s].insert(drawn[s].end(), got.begin(), got.end());
        if (first)
          bothDrew.arrive_and_wait();
      }
    });
  for (auto &t : stations)
    t.join();
  std::vector<qint64> all = drawn[0];
  all.insert(all.end(), drawn[1].begin(), drawn[1].end());
  std::sort(all.begin(), all.end());
  std::vector<qint64> expected(kLines);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(all, expected);
  EXPECT_FALSE(drawn[0].empty());
  EXPECT_FALSE(drawn[1].empty());

  records::db::Connection c(where, records::db::Connection::Target::Store, "other");
  std::vector<qint64> got;
  QString error;
  EXPECT_FALSE(records::ReserveNumbers(c, {QStringLiteral("labels"), QStringLiteral("list def"), kLines,
                                           QStringLiteral("host"), QStringLiteral("s")},
                                       1, &got, &error));
  EXPECT_EQ(error, QStringLiteral("the serial-number pool \"labels\" hands out \"list abc\", not \"list def\"; "
                                  "name another pool"));
}

// A server that takes the connection and never answers: a command line's last
// wait ends on time, whatever attempts were under way or wanted.
TEST(SilentServer, HoldsACommandLineNoLongerThanItsLastWait) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 16), 0); // the kernel accepts; nothing ever answers
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
  ProgramFolder folder;
  const auto where =
      *records::ParseStoreUrl(QStringLiteral("postgresql://u@127.0.0.1:%1/d").arg(ntohs(address.sin_port)), nullptr,
                              folder.File(QStringLiteral("spool.sqlite")));
  // Longer than one connection attempt, as when a load ran while the first
  // attempt waited: another would fit in the wait but must not outlast it.
  constexpr int kWaitMs = 6000;
  QElapsedTimer clock;
  clock.start();
  {
    records::Recorder recorder(where);
    QSignalSpy warnings(&recorder, &records::Recorder::Warning);
    recorder.Add(FullRecord(1)); // wanted at once, while the first attempt still waits
    EXPECT_FALSE(recorder.Finish(kWaitMs));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.at(0).at(0).toString().contains(QStringLiteral("timeout expired")))
        << warnings.at(0).at(0).toString().toStdString();
  }
  EXPECT_LT(clock.elapsed(), kWaitMs + 1000) << "no attempt outlasts the wait";
  close(listener);
  EXPECT_EQ(Uids(records::Query(SqliteAt(where.sqlitePath), {}, nullptr)), QStringList{FullRecord(1).recordUid});
}

// A database no station wrote to yet reads as holding no records, whoever reads it.
TEST_F(SharedStore, ADatabaseNoStationWroteToYetReadsAsNoRecordsYet) {
  QString error;
  EXPECT_TRUE(records::Query(where, {}, &error).empty());
  EXPECT_EQ(error, QString());
  EXPECT_EQ(records::ReadingNote(where), QStringLiteral("no records in this database yet"));
  std::vector<records::UnitSummary> rows;
  EXPECT_TRUE(records::SummarizeUnits(where, {}, records::SummaryPer::Station, &rows, &error)) << error.toStdString();
  records::db::Connection c(where, records::db::Connection::Target::Store, "line");
  c.ReadOnly();
  records::LineFigures line;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  EXPECT_TRUE(records::ReadLine(c, now, records::LocalDayStart(now), &line, &error)) << error.toStdString();
  EXPECT_TRUE(line.stations.empty());
}
