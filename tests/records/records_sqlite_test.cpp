// The SQLite store: schema, exact round trip, durability against a kill,
// filters and pages, export, and a store that cannot be written.
#include "records/database.h"
#include "records_test_support.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace {

struct SqliteStore : ::testing::Test {
  ProgramFolder folder;
  QString path = folder.File(QStringLiteral("records.sqlite"));
  records::StoreLocation where = SqliteAt(path);

  void Exec(const QString &sql) {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("exec"));
      db.setDatabaseName(path);
      EXPECT_TRUE(db.open());
      QSqlQuery q(db);
      EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("exec"));
  }

  QVariant Scalar(const QString &sql) {
    QVariant value;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
      db.setDatabaseName(path);
      EXPECT_TRUE(db.open());
      QSqlQuery q(db);
      EXPECT_TRUE(q.exec(sql) && q.next()) << sql.toStdString();
      value = q.value(0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return value;
  }
};

} // namespace

TEST_F(SqliteStore, EveryFieldRoundTripsExactlyInAWalStoreOfTheCurrentVersion) {
  records::Record set = FullRecord(1, 5);
  set.operation = QStringLiteral("set");
  set.filePath = set.fileSha256 = set.imageChecksum = QString(); // a set has no file
  const records::Record load = FullRecord(2, 9);
  {
    records::Recorder recorder(where);
    recorder.Add(set);
    recorder.Add(load);
    EXPECT_TRUE(recorder.WaitForwarded(0));
    for (const QString &file : {path, path + QStringLiteral("-wal")})
      EXPECT_EQ(QFile::permissions(file), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser)
          << "this user's alone: " << file.toStdString();
  }
  QString error;
  const auto rows = records::Query(where, {}, &error);
  ASSERT_EQ(rows.size(), 2u) << error.toStdString();
  EXPECT_GT(rows[0].id, rows[1].id);
  records::Record expectLoad = load, expectSet = set;
  expectLoad.id = rows[0].id;
  expectSet.id = rows[1].id;
  EXPECT_EQ(rows[0], expectLoad);
  EXPECT_EQ(rows[1], expectSet);
  EXPECT_EQ(rows[1].filePath, QLatin1String("")) << "stored as '', never NULL";

  EXPECT_EQ(Scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
  EXPECT_EQ(Scalar(QStringLiteral("SELECT MAX(version) FROM schema_version")).toInt(), records::db::kSchemaVersion);
  EXPECT_EQ(Scalar(QStringLiteral("SELECT COUNT(*) FROM programming_records WHERE file_path IS NULL")).toInt(), 0);
  EXPECT_EQ(Scalar(QStringLiteral("SELECT finished_at FROM programming_records WHERE count = 2")).toString(),
            QStringLiteral("2026-12-07T00:00:09.123Z"));
}

TEST_F(SqliteStore, ARecordIsOnDiskWhenAddReturns) {
  AddThenKill(QStringLiteral("sqlite:") + path, QString(), QStringLiteral("killed-1"));
  QString error;
  EXPECT_EQ(Uids(records::Query(where, {}, &error)), QStringList{QStringLiteral("killed-1")}) << error.toStdString();
}

TEST_F(SqliteStore, FiltersAndPagesGoNewestFirstWithoutGapsOrRepeats) {
  {
    records::Recorder recorder(where);
    // Finished at seconds 0..29, three records sharing each even second, so
    // that pages must part rows of one time by id.
    for (int n = 0; n < 30; ++n) {
      const QString result = n % 5 == 0 ? QStringLiteral("verify-mismatch") : QStringLiteral("ok");
      // One file for every fourth record, a file each for the others: the
      // filter reads per file when few match and scans when many do.
      const QString file = n % 4 == 0 ? QStringLiteral("/fw/A_100%.HEX") : QStringLiteral("/fw/a1000-%1.hex").arg(n);
      recorder.Add(FullRecord(n, n / 3 * 2, result, file));
    }
  }
  QString error;
  const auto all = records::Query(where, {}, &error);
  ASSERT_EQ(all.size(), 30u) << error.toStdString();
  for (size_t i = 1; i < all.size(); ++i)
    EXPECT_TRUE(all[i - 1].finishedAt > all[i].finishedAt ||
                (all[i - 1].finishedAt == all[i].finishedAt && all[i - 1].id > all[i].id))
        << "row " << i;

  const auto at = [](int second) {
    return QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).addMSecs(second * 1000LL + 123);
  };
  const auto expect = [&](const std::function<bool(const records::Record &)> &keep) {
    QStringList out;
    for (const auto &r : all)
      if (keep(r))
        out << r.recordUid;
    return out;
  };
  struct Case {
    const char *name;
    records::Filter filter;
    std::function<bool(const records::Record &)> keep;
  } cases[] = {
      {"since", {.since = at(10)}, [&](auto &r) { return r.finishedAt >= at(10); }},
      {"until", {.until = at(10)}, [&](auto &r) { return r.finishedAt < at(10); }},
      {"range",
       {.since = at(4), .until = at(8)},
       [&](auto &r) { return r.finishedAt >= at(4) && r.finishedAt < at(8); }},
      {"result", {.result = QStringLiteral("verify-mismatch")}, [](auto &r) { return r.count % 5 == 0; }},
      {"file, any case", {.fileContains = QStringLiteral("a_100%")}, [](auto &r) { return r.count % 4 == 0; }},
      {"file, '_' is no wildcard", {.fileContains = QStringLiteral("A_1000")}, [](auto &) { return false; }},
      {"file, in many files", {.fileContains = QStringLiteral("1000-")}, [](auto &r) { return r.count % 4 != 0; }},
      {"file and result",
       {.result = QStringLiteral("ok"), .fileContains = QStringLiteral("a_1")},
       [](auto &r) { return r.count % 4 == 0 && r.count % 5 != 0; }},
      {"all at once",
       {.since = at(2), .result = QStringLiteral("ok"), .fileContains = QStringLiteral("hex")},
       [&](auto &r) { return r.finishedAt >= at(2) && r.result == QLatin1String("ok"); }},
      {"limit", {.limit = 4}, [&](auto &r) { return Uids(all).indexOf(r.recordUid) < 4; }},
      {"a unit's serial", {.serial = QStringLiteral("SN000007")}, [](auto &r) { return r.count / 2 == 7; }},
  };
  for (const auto &c : cases) {
    const auto rows = records::Query(where, c.filter, &error);
    EXPECT_EQ(Uids(rows), expect(c.keep)) << c.name;
  }

  QStringList paged;
  records::Filter page{.limit = 7};
  for (;;) {
    const auto rows = records::Query(where, page, &error);
    paged += Uids(rows);
    if (rows.size() < 7u)
      break;
    page.before = records::KeyOf(rows.back());
  }
  EXPECT_EQ(paged, Uids(all));
}

TEST_F(SqliteStore, ExportWritesTheMatchingRowsOrNothing) {
  {
    records::Recorder recorder(where);
    for (int n = 0; n < 5; ++n)
      recorder.Add(FullRecord(n, n, n == 2 ? QStringLiteral("no-answer") : QStringLiteral("ok")));
  }
  const records::Filter filter{.result = QStringLiteral("ok")};
  const QString csv = folder.File(QStringLiteral("out.csv"));
  qint64 count = -1;
  QString error;
  ASSERT_TRUE(records::ExportCsv(where, filter, csv, &count, &error)) << error.toStdString();
  EXPECT_EQ(count, 4);
  QString expected;
  QTextStream out(&expected);
  records::WriteCsv(records::Query(where, filter, &error), out);
  out.flush();
  EXPECT_EQ(QString::fromUtf8(folder.Read(QStringLiteral("out.csv"))), expected);

  EXPECT_FALSE(records::ExportCsv(where, filter, folder.File(QStringLiteral("no/such/folder/x.csv")), &count, &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("cannot write ") + folder.File(QStringLiteral("no/such/folder/x.csv")) +
                               QStringLiteral(": ")))
      << error.toStdString();
}

TEST_F(SqliteStore, AnUnwritableStoreWarnsLosesNothingAndRecovers) {
  ASSERT_TRUE(QDir().mkpath(path)); // a folder where the file should be: root cannot write it either
  records::Recorder recorder(where);
  QSignalSpy warnings(&recorder, &records::Recorder::Warning);
  QSignalSpy recovered(&recorder, &records::Recorder::Recovered);
  ASSERT_TRUE(PumpUntil([&] { return warnings.size() == 1; })) << "told at start";
  const QString text = warnings.at(0).at(0).toString();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Production records cannot be written to %1: ").arg(path)))
      << text.toStdString();
  EXPECT_GT(text.size(), QStringLiteral("Production records cannot be written to %1: ").arg(path).size() + 5)
      << "the database's reason follows";

  recorder.Add(FullRecord(1));
  recorder.Add(FullRecord(2));
  EXPECT_EQ(warnings.size(), 1) << "one warning per outage";
  EXPECT_FALSE(recorder.WaitForwarded(0));

  ASSERT_TRUE(QDir(path).removeRecursively());
  recorder.Add(FullRecord(3));
  EXPECT_EQ(recovered.size(), 1);
  EXPECT_EQ(recovered.at(0).at(0).toString(), QStringLiteral("Production records are written to %1 again.").arg(path));
  EXPECT_TRUE(recorder.WaitForwarded(0));
  QString error;
  EXPECT_EQ(records::Query(where, {}, &error).size(), 3u) << "the two held back are written too";
}

TEST_F(SqliteStore, AStoreOfANewerProgramIsNotTouched) {
  { records::Recorder recorder(where); }
  Scalar(QStringLiteral("INSERT INTO schema_version VALUES (%1) RETURNING version").arg(records::db::kSchemaVersion + 1));
  QString error;
  EXPECT_TRUE(records::Query(where, {}, &error).empty());
  EXPECT_EQ(error, QStringLiteral("the store's schema version %1 is newer than this program's %2")
                       .arg(records::db::kSchemaVersion + 1)
                       .arg(records::db::kSchemaVersion));
}

TEST_F(SqliteStore, AStoreOfVersionOneIsReadAsItIsAndKeepsEveryRowWhenAWriterMigratesIt) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    for (const QString &sql : VersionOneSql(true, {VersionOneRecord(1), VersionOneRecord(2)})) {
      QSqlQuery q(db);
      ASSERT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    }
  }
  QSqlDatabase::removeDatabase(QStringLiteral("old"));
  const auto expected = [](std::vector<records::Record> rows) {
    for (size_t i = 0; i < rows.size(); ++i)
      rows[i].id = qint64(rows.size() - i); // newest first, ids from 1
    return rows;
  };
  QString error;
  EXPECT_EQ(records::Query(where, {}, &error), expected({VersionOneRecord(2), VersionOneRecord(1)}))
      << error.toStdString();
  EXPECT_TRUE(records::Query(where, {.job = FullRecord(1).jobName}, &error).empty()) << error.toStdString();
  EXPECT_EQ(Scalar(QStringLiteral("SELECT MAX(version) FROM schema_version")).toInt(), 1)
      << "a reader migrates nothing";

  {
    records::db::Connection writer(where, records::db::Connection::Target::Store, "t");
    ASSERT_TRUE(writer.Insert(std::vector{FullRecord(3, 3)}, &error)) << error.toStdString();
  }
  EXPECT_EQ(records::Query(where, {}, &error), expected({FullRecord(3, 3), VersionOneRecord(2), VersionOneRecord(1)}))
      << error.toStdString();
  EXPECT_EQ(Scalar(QStringLiteral("SELECT MAX(version) FROM schema_version")).toInt(), records::db::kSchemaVersion);
}

TEST_F(SqliteStore, AnOlderStoresUnitsAreDerivedOnceFromTheirRecords) {
  struct Attempt {
    const char *job, *lot, *unit;
    int attempt;
    const char *operation, *result;
    const char *derived; // "verdict/result@attempts" of the unit this record ends; empty: not its last
  };
  // In the order they are written; finished a second apart.
  const Attempt attempts[] = {
      {"J", "L1", "u1", 1, "load", "no-answer", ""},
      {"J", "L1", "u1", 2, "load", "ok", "passed/ok@2"}, // retried
      {"J", "L1", "u2", 1, "verify", "ok", "passed/ok@1"},
      {"J", "L1", "u3", 1, "verify", "verify-mismatch", "failed/verify-mismatch@1"},
      {"J", "L1", "u4", 1, "load", "box-failed", ""},
      {"J", "L1", "u4", 2, "load", "port-lost", "failed/port-lost@2"},
      {"J", "L1", "u5", 1, "load", "no-answer", ""},
      {"J", "L1", "u5", 2, "set", "interrupted", "interrupted/interrupted@2"}, // stopped: neither
      {"J", "L1", "u6", 2, "load", "ok", "passed/ok@2"},
      {"J", "L1", "u6", 1, "load", "box-failed", ""},               // the number decides
      {"J", "L1", "u9", 1, "set", "ok", "interrupted/interrupted@1"}, // killed in its load: no pass
      {"J", "L1", "", 1, "load", "ok", "passed/ok@1"},
      {"J", "L1", "", 1, "load", "no-answer", "failed/no-answer@1"}, // no unit: one each
      {"J", "L2", "u7", 1, "load", "ok", "passed/ok@1"},
      {"K", "L1", "u8", 1, "load", "cancelled", "interrupted/interrupted@1"},
      {"", "", "", 1, "load", "ok", ""}, // no job: no unit
  };
  QStringList expected;
  {
    records::db::Connection c(where, records::db::Connection::Target::Store, "t");
    std::vector<records::Record> rows;
    for (const Attempt &a : attempts) {
      records::Record r = FullRecord(int(rows.size()), int(rows.size()), QString::fromLatin1(a.result));
      r.jobName = QString::fromLatin1(a.job);
      r.lot = QString::fromLatin1(a.lot);
      r.unitUid = QString::fromLatin1(a.unit);
      r.attempt = a.attempt;
      r.operation = QString::fromLatin1(a.operation);
      if (*a.derived)
        expected << (r.unitUid.isEmpty() ? r.recordUid : r.unitUid) + QLatin1Char(' ') + QLatin1String(a.derived);
      rows.push_back(r);
    }
    QString error;
    ASSERT_TRUE(c.Insert(rows, &error)) << error.toStdString();
  }
  // The store as version 4 left it.
  for (const char *sql : {"DROP TABLE units", "DROP TABLE lots", "DROP TABLE spool_ops",
                          "DROP INDEX serial_numbers_state", "UPDATE schema_version SET version = 4"})
    Exec(QLatin1String(sql));
  const auto expectLots = [&](const char *store) {
    const struct {
      const char *job, *lot;
      qint64 passed, failed;
    } lots[] = {{"J", "L1", 4, 3}, {"J", "L2", 1, 0}, {"K", "L1", 0, 0}, {"L1", "J", 0, 0}};
    for (const auto &l : lots) {
      records::LotCounters counters{-1, -1, -1};
      QString error;
      EXPECT_TRUE(records::CountLot(where, QString::fromLatin1(l.job), QString::fromLatin1(l.lot), &counters, &error))
          << error.toStdString();
      EXPECT_EQ(counters, (records::LotCounters{l.passed, l.failed, 0})) << store << ": " << l.job << " " << l.lot;
    }
  };
  expectLots("read as version 4");
  for (int open = 0; open < 2; ++open) {
    records::db::Connection writer(where, records::db::Connection::Target::Store, "migrate");
    QString error;
    ASSERT_TRUE(writer.Open(&error)) << error.toStdString();
  }
  expectLots("migrated");
  QStringList derived;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("units"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT unit_uid, verdict, result, attempts, started_at, ended_at, port, host, "
                                      "serial, station, job_sha256, holds_until FROM units ORDER BY ended_at")));
    while (q.next()) {
      derived << QStringLiteral("%1 %2/%3@%4").arg(q.value(0).toString(), q.value(1).toString(),
                                                   q.value(2).toString(), q.value(3).toString());
      if (q.value(0).toString() != QLatin1String("u1"))
        continue;
      // The first record's start, the last one's end, port, host and number; nothing it never knew.
      EXPECT_EQ(q.value(4).toString(), records::TimeText(FullRecord(0).startedAt));
      EXPECT_EQ(q.value(5).toString(), records::TimeText(FullRecord(1, 1).finishedAt));
      EXPECT_EQ(q.value(6).toString(), QStringLiteral("COM5"));
      EXPECT_EQ(q.value(7).toString(), QStringLiteral("bench-7"));
      EXPECT_EQ(q.value(8).toString(), FullRecord(1).serial);
      EXPECT_EQ(q.value(9).toString() + q.value(10).toString() + q.value(11).toString(), QString());
    }
  }
  QSqlDatabase::removeDatabase(QStringLiteral("units"));
  EXPECT_EQ(derived, expected) << "each unit once, however often the store was opened";
}

TEST_F(SqliteStore, TheChartCountsEachUnitByItsLastAttemptPerHourOrDay) {
  ExpectChartFigures(where, [&](const QString &sql) {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
      db.setDatabaseName(path);
      ASSERT_TRUE(db.open());
      QSqlQuery q(db);
      EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
  });
}

TEST_F(SqliteStore, UnitsTakeAndGiveBackPlacesInTheirLotAndEndOnce) { ExpectUnitOps(where); }

// Stations sharing one file wait for each other's lock rather than fail, here
// while another writer holds it for a second as they start.
TEST_F(SqliteStore, EightStationProcessesSharingOneFileQueueAndDrawEveryNumberOnce) {
  ExpectStationsDrawEveryNumberOnce(QStringLiteral("sqlite:") + path, where, folder, 30, 1000);
}

TEST_F(SqliteStore, ReadingNeitherMakesNorWritesTheStore) {
  QString error;
  EXPECT_TRUE(records::Query(where, {}, &error).empty());
  EXPECT_EQ(error, QStringLiteral("there is no records store %1").arg(path));
  EXPECT_FALSE(QFile::exists(path)) << "a mistyped path does not become an empty store";

  { records::Recorder(where).Add(FullRecord(1)); }
  // Another program holds the write lock: a reader that wrote would wait for it and fail.
  QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
  writer.setDatabaseName(path);
  ASSERT_TRUE(writer.open());
  ASSERT_TRUE(QSqlQuery(writer).exec(QStringLiteral("BEGIN IMMEDIATE")));
  error.clear();
  EXPECT_EQ(records::Query(where, {}, &error).size(), 1u) << error.toStdString();
  writer.close();
  writer = QSqlDatabase();
  QSqlDatabase::removeDatabase(QStringLiteral("writer"));
}

TEST(RecordsOff, RecordNothingAndSayWhyOnRead) {
  const records::StoreLocation off;
  records::Recorder recorder(off);
  recorder.Add(FullRecord(1));
  EXPECT_TRUE(recorder.WaitForwarded(0));
  QString error;
  EXPECT_TRUE(records::Query(off, {}, &error).empty());
  EXPECT_EQ(error, QStringLiteral("production records are switched off"));
}

TEST_F(SqliteStore, TheAsyncReaderAnswersOnItsOwnersThreadInOrder) {
  {
    records::Recorder recorder(where);
    for (int n = 0; n < 6; ++n)
      recorder.Add(FullRecord(n, n, n % 2 ? QStringLiteral("ok") : QStringLiteral("port-lost")));
  }
  records::AsyncReader reader(where);
  std::vector<int> tickets;
  QStringList newest;
  qint64 exported = -1;
  QObject::connect(&reader, &records::AsyncReader::Fetched, [&](int ticket, const auto &rows, const QString &error) {
    EXPECT_EQ(QThread::currentThread(), qApp->thread());
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    tickets.push_back(ticket);
    newest = Uids(rows);
  });
  QObject::connect(&reader, &records::AsyncReader::Exported, [&](int ticket, qint64 count, const QString &) {
    tickets.push_back(ticket);
    exported = count;
  });
  reader.Fetch({.limit = 1});
  reader.Fetch({.limit = 2});
  const int last = reader.Fetch({.result = QStringLiteral("port-lost")});
  const int exportTicket = reader.Export({.result = QStringLiteral("ok")}, folder.File(QStringLiteral("x.csv")));
  EXPECT_TRUE(tickets.empty()) << "nothing is delivered from inside a request";
  ASSERT_TRUE(PumpUntil([&] { return exported >= 0; }));
  EXPECT_TRUE(std::is_sorted(tickets.begin(), tickets.end()));
  EXPECT_EQ(tickets.end()[-2], last);
  EXPECT_EQ(tickets.back(), exportTicket);
  EXPECT_EQ(newest, (QStringList{FullRecord(4).recordUid, FullRecord(2).recordUid, FullRecord(0).recordUid}));
  EXPECT_EQ(exported, 3);
}
