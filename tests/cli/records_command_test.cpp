// kavrin-cli and its records store: `records` reading by day and to the
// second, refusing what it cannot read, printing names safely, reading a store
// on read-only media; and runs too
// short for an event loop that still tell why nothing could be recorded.
#include "records/database.h"
#include "support/older_store.h"
#include "support/test_helpers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <iostream>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Output {
  int status = -1;
  QString out, err;
};

// Runs kavrin-cli to its end in UTC+8 (no summer time), so that local days are known;
// as `user` when one is named (through runuser, as root).
Output Cli(const QStringList &args, const QString &dataHome = QString(), const QString &user = QString()) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TZ"), QStringLiteral("CST-8"));
  if (!dataHome.isEmpty())
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
  process.setProcessEnvironment(env);
  if (user.isEmpty())
    process.start(BinPath(QStringLiteral("kavrin-cli")), args);
  else
    process.start(QStringLiteral("runuser"),
                  QStringList{QStringLiteral("-u"), user, QStringLiteral("--"), BinPath(QStringLiteral("kavrin-cli"))} + args);
  Output o;
  if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
    return o;
  o.status = process.exitCode();
  o.out = QString::fromUtf8(process.readAllStandardOutput());
  o.err = QString::fromUtf8(process.readAllStandardError());
  return o;
}

// The `count` of each JSON line, in order.
std::vector<int> Counts(const QString &jsonLines) {
  std::vector<int> out;
  for (const QString &line : jsonLines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    out.push_back(QJsonDocument::fromJson(line.toUtf8()).object().value("count").toInt(-1));
  return out;
}

records::Record FinishedAt(int count, const char *utc) {
  records::Record r;
  r.recordUid = QStringLiteral("uid-%1").arg(count);
  r.finishedAt = QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs);
  r.startedAt = r.finishedAt.addSecs(-1);
  r.count = count;
  r.result = QStringLiteral("ok");
  return r;
}

} // namespace

TEST(RecordsCommand, ReadsByLocalDayAndToTheSecondAndRefusesTheRest) {
  ProgramFolder folder;
  const QString path = folder.File(QStringLiteral("records.sqlite"));
  const QString url = QStringLiteral("sqlite:") + path;
  {
    // Local times (UTC+8) in the comments.
    records::db::Connection c(*records::ParseStoreUrl(url, nullptr), records::db::Connection::Target::Store, "t");
    records::Record named = FinishedAt(6, "2026-12-01T00:00:00.000Z");
    named.station = QStringLiteral("COM\x1b[2J5");
    named.message = QStringLiteral("first\nsecond");
    QString error;
    ASSERT_TRUE(c.Insert(std::vector{named, FinishedAt(1, "2026-12-06T15:59:59.500Z"), // 12-06 23:59:59.5
                                     FinishedAt(2, "2026-12-06T16:00:00.000Z"),        // 12-07 00:00:00
                                     FinishedAt(3, "2026-12-07T00:30:15.000Z"),        // 12-07 08:30:15
                                     FinishedAt(4, "2026-12-07T15:59:59.999Z"),        // 12-07 23:59:59.999
                                     FinishedAt(5, "2026-12-07T16:00:00.000Z")},       // 12-08 00:00:00
                         &error))
        << error.toStdString();
  }
  const QString missing = folder.File(QStringLiteral("recrods.sqlite"));
  const QString fifo = folder.File(QStringLiteral("fifo.sqlite"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0) << std::strerror(errno);
  struct Case {
    QStringList args;
    int status;
    std::vector<int> counts;
    QString error; // what standard error begins with
  } cases[] = {
      {{"--until", "2026-12-07"}, 0, {4, 3, 2, 1, 6}, {}},
      {{"--since", "2026-12-07"}, 0, {5, 4, 3, 2}, {}},
      {{"--since", "2026-12-07", "--until", "2026-12-07"}, 0, {4, 3, 2}, {}},
      {{"--since", "2026-12-07T08:30:15"}, 0, {5, 4, 3}, {}},
      {{"--since", "2026-12-07T08:30:16"}, 0, {5, 4}, {}},
      {{"--until", "2026-12-07T08:30:15.001"}, 0, {3, 2, 1, 6}, {}},
      {{"--until", "2026-12-07T00:30:15Z"}, 0, {2, 1, 6}, {}},
      {{"--since", "2026-12-07T09:30:15+09:00", "--until", "2026-12-08T00:00"}, 0, {4, 3}, {}},
      {{"--since", "2026-12-07T25:00"},
       2,
       {},
       "kavrin-cli records: --since: expects a date like 2026-12-07 or a date and time like 2026-12-07T08:30:15, "
       "local unless it ends in Z or an offset like +08:00; got \"2026-12-07T25:00\"\n"},
      {{"--until", "2026-12-07'; DROP TABLE x;--"}, 2, {}, "kavrin-cli records: --until: expects a date"},
      {{"--since", "2026-12-07 08:30"}, 2, {}, "kavrin-cli records: --since: expects a date"},
      {{"--since", "2026-12-07T08:30+08:"}, 2, {}, "kavrin-cli records: --since: expects a date"},
      {{"--records", QStringLiteral("sqlite:") + missing},
       2,
       {},
       QStringLiteral("kavrin-cli records: --records: there is no records store %1\n").arg(missing)},
      // SQLite would wait on it for a writer that never comes.
      {{"--records", QStringLiteral("sqlite:") + fifo},
       2,
       {},
       QStringLiteral("kavrin-cli records: --records: %1 is not a regular file, not a records store\n").arg(fifo)},
      // The server's reason of two lines, its second indented by a tab, read as two lines.
      {{"--records", "postgresql://kavrin@127.0.0.1:1/db"},
       1,
       {},
       "kavrin-cli records: cannot read kavrin@127.0.0.1:1/db: connection to server at \"127.0.0.1\", port 1 "
       "failed: Connection refused\n  Is the server running"},
  };
  for (const Case &c : cases) {
    QStringList args =
        QStringList{QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("json")} + c.args;
    if (!c.args.contains(QStringLiteral("--records")))
      args << QStringLiteral("--records") << url;
    const Output o = Cli(args);
    const std::string name = c.args.join(' ').toStdString();
    EXPECT_EQ(o.status, c.status) << name << ": " << o.err.toStdString();
    EXPECT_EQ(Counts(o.out), c.counts) << name;
    EXPECT_TRUE(o.err.startsWith(c.error)) << name << ": " << o.err.toStdString();
  }
  EXPECT_FALSE(QFile::exists(missing)) << "reading never makes a store";

  // The table shows control characters in names rather than sending them to the terminal.
  const Output table = Cli({QStringLiteral("records"), QStringLiteral("--until"), QStringLiteral("2026-12-02"),
                            QStringLiteral("--records"), url});
  EXPECT_EQ(table.status, 0) << table.err.toStdString();
  EXPECT_TRUE(table.out.contains(QStringLiteral("COM\\x1B[2J5 "))) << table.out.toStdString();
  EXPECT_TRUE(table.out.endsWith(QStringLiteral("  first\\x0Asecond\n"))) << table.out.toStdString();
}

TEST(RecordsCommand, TheDesignedMessageStaysBesideItsEnglish) {
  ProgramFolder folder;
  const QString url = QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite"));
  const QString designed = QStringLiteral("校验没通过，错误地址：1234,  写入是 AB 读出是 CD");
  const QString english = QStringLiteral("Verify failed at address 1234: written AB, read CD");
  {
    records::db::Connection c(*records::ParseStoreUrl(url, nullptr), records::db::Connection::Target::Store, "t");
    records::Record r = FinishedAt(1, "2026-12-01T00:00:00.000Z");
    r.result = QStringLiteral("verify-mismatch");
    r.message = designed;
    QString error;
    ASSERT_TRUE(c.Insert(std::vector{r}, &error)) << error.toStdString();
  }
  for (const char *lang : {"zh", "en"}) {
    const Output json = Cli({QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("json"),
                             QStringLiteral("--lang"), QString::fromLatin1(lang), QStringLiteral("--records"), url});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    // Scripts match the designed text whatever the language.
    EXPECT_TRUE(json.out.contains(QStringLiteral("\"message\":\"%1\",\"message_en\":\"%2\"").arg(designed, english)))
        << json.out.toStdString();
    const Output table = Cli({QStringLiteral("records"), QStringLiteral("--lang"), QString::fromLatin1(lang),
                              QStringLiteral("--records"), url});
    EXPECT_TRUE(table.out.endsWith(
        QStringLiteral("verify-mismatch   %1\n").arg(lang == std::string("en") ? english : designed)))
        << table.out.toStdString();
  }
}

// Reading needs no write access. Root, who runs CI, ignores permissions, but
// not a read-only mount: the stores lie on a tmpfs remounted read-only. One
// was closed cleanly; the other was copied while a station still wrote it, its
// last record in the log (-wal), which a store read as it stands cannot see.
// The clean one is read again by another user from a folder that user may
// not write (SQLite words that otherwise).
TEST(RecordsCommand, AStoreOnReadOnlyMediaIsReadAsItStandsAndSaidSo) {
  ProgramFolder folder;
  const QString media = folder.File(QStringLiteral("media"));
  ASSERT_TRUE(QDir().mkpath(media));
  const QByteArray mountPoint = QFile::encodeName(media);
  if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    QByteArray at;
    ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
  } unmount{mountPoint};
  const QString clean = media + QStringLiteral("/clean.sqlite"), kept = media + QStringLiteral("/kept.sqlite");
  const auto location = [](const QString &path) { return *records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr); };
  QString error;
  {
    records::db::Connection c(location(clean), records::db::Connection::Target::Store, "t");
    ASSERT_TRUE(c.Insert(std::vector{FinishedAt(1, "2026-12-01T00:00:00.000Z")}, &error)) << error.toStdString();
  }
  const QString station = folder.File(QStringLiteral("station.sqlite"));
  {
    records::db::Connection c(location(station), records::db::Connection::Target::Store, "t");
    ASSERT_TRUE(c.Insert(std::vector{FinishedAt(2, "2026-12-01T00:00:00.000Z")}, &error)) << error.toStdString();
  }
  {
    records::db::Connection c(location(station), records::db::Connection::Target::Store, "t");
    c.LeaveCheckpoints();
    ASSERT_TRUE(c.Insert(std::vector{FinishedAt(3, "2026-12-02T00:00:00.000Z")}, &error)) << error.toStdString();
    ASSERT_TRUE(QFile::copy(station, kept));
    ASSERT_TRUE(QFile::copy(station + QStringLiteral("-wal"), kept + QStringLiteral("-wal")));
  }
  // Root's folder, where another user may read the store but write nothing.
  const QString shared = folder.File(QStringLiteral("shared/clean.sqlite"));
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("shared"))));
  ASSERT_TRUE(QFile::copy(clean, shared));
  const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
  ASSERT_TRUE(QFile::setPermissions(shared, readable));
  ASSERT_TRUE(QFile::setPermissions(folder.dir.path(), readable | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                                            QFileDevice::ExeOther));
  ASSERT_EQ(::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  const QString note = QStringLiteral("kavrin-cli records: note: %1 is on read-only media or in a folder this user "
                                      "cannot write: it is read as it stands");
  const struct {
    QString path;
    std::vector<int> counts;
    QString err;
    QString user; // empty: root
  } cases[] = {
      {clean, {1}, note.arg(clean) + QLatin1Char('\n'), {}},
      {kept, {2}, note.arg(kept) + QStringLiteral(", without the latest records its log %1-wal may hold\n").arg(kept), {}},
      {shared, {1}, note.arg(shared) + QLatin1Char('\n'), QStringLiteral("nobody")},
  };
  for (const auto &c : cases) {
    if (!c.user.isEmpty() && QProcess::execute(QStringLiteral("runuser"), {QStringLiteral("-u"), c.user, QStringLiteral("--"),
                                                                            QStringLiteral("test"), QStringLiteral("-x"),
                                                                            BinPath(QStringLiteral("kavrin-cli"))}) != 0) {
      std::cout << "[ SKIPPED  ] " << c.path.toStdString() << ": " << c.user.toStdString()
                << " cannot run kavrin-cli here\n";
      continue;
    }
    const Output o = Cli({QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("json"),
                          QStringLiteral("--records"), QStringLiteral("sqlite:") + c.path},
                         QString(), c.user);
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(Counts(o.out), c.counts) << c.path.toStdString();
    EXPECT_EQ(o.err, c.err);
  }
}

TEST(RecordsCommand, ARunTooShortForABoxStillTellsWhyItCouldNotRecord) {
  ProgramFolder folder;
  folder.Write(QStringLiteral("bad.hex"), "not a HEX file\n");
  folder.Write(QStringLiteral("corrupt.sqlite"), QByteArray(4096, 'x'));
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("folder.sqlite"))));
  // A port nothing listens on: the server is out of reach at once.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length), 0);
  close(probe);
  const QString server = QStringLiteral("u@127.0.0.1:%1/d").arg(ntohs(address.sin_port));

  const QStringList refusedFile = {QStringLiteral("load"), QStringLiteral("--file"), folder.File("bad.hex")};
  const QStringList noPort = {QStringLiteral("verify")};
  struct Case {
    QStringList command;
    int status;
    QString store;
    QString told; // the line on standard error, up to the store's reason
  } cases[] = {
      {refusedFile, 3, QStringLiteral("sqlite:") + folder.File("corrupt.sqlite"),
       QStringLiteral("kavrin-cli: records: Production records cannot be written to %1: ")
           .arg(folder.File("corrupt.sqlite"))},
      {noPort, 4, QStringLiteral("sqlite:") + folder.File("folder.sqlite"),
       QStringLiteral("kavrin-cli: records: Production records cannot be written to %1: ")
           .arg(folder.File("folder.sqlite"))},
      {refusedFile, 3, QStringLiteral("postgresql://") + server,
       QStringLiteral("kavrin-cli: records: Production records cannot reach %1 and are kept on this station: ")
           .arg(server)},
  };
  for (const Case &c : cases) {
    const Output o = Cli(c.command + QStringList{QStringLiteral("--port"), QStringLiteral("/nonexistent/kavrin-port"),
                                                 QStringLiteral("--records"), c.store},
                         folder.dir.path());
    EXPECT_EQ(o.status, c.status) << c.store.toStdString();
    const qsizetype at = o.err.indexOf(c.told);
    ASSERT_GE(at, 0) << c.store.toStdString() << ": " << o.err.toStdString();
    EXPECT_GT(o.err.indexOf(QLatin1Char('\n'), at), at + c.told.size()) << "the store's reason follows";
    EXPECT_EQ(o.err.count(QStringLiteral("kavrin-cli: records: Production records cannot")), 1)
        << "once per run: " << o.err.toStdString();
  }
}

TEST(RecordsCommand, SummaryCountsEachJobsUnitsByLocalDayInEveryFormat) {
  ProgramFolder folder;
  const QString url = QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite"));
  {
    struct Attempt {
      const char *job, *unit;
      int attempt;
      const char *finished; // UTC; local days are UTC+8
      const char *result;
    };
    const Attempt attempts[] = {
        {"Board A", "u1", 1, "2026-12-07T01:00:00.000Z", "no-answer"},
        {"Board A", "u1", 2, "2026-12-07T01:01:00.000Z", "ok"},
        {"Board A", "u2", 1, "2026-12-07T02:00:00.000Z", "ok"},
        {"Board A", "u3", 1, "2026-12-07T03:00:00.000Z", "verify-mismatch"},
        {"Board A", "u4", 1, "2026-12-07T04:00:00.000Z", "box-failed"},
        {"Board A", "u4", 2, "2026-12-07T04:01:00.000Z", "box-failed"},
        {"Board A", "u5", 1, "2026-12-07T05:00:00.000Z", "interrupted"}, // neither passed nor failed
        {"Board A", "u7", 1, "2026-12-07T15:59:00.000Z", "no-answer"},   // 12-07 23:59 local
        {"Board A", "u7", 2, "2026-12-07T16:01:00.000Z", "ok"},          // 12-08 00:01 local
        {"Board A", "u6", 1, "2026-12-08T01:00:00.000Z", "ok"},
        {"=cmd", "u8", 1, "2026-12-07T06:00:00.000Z", "port-lost"},
        {"", "", 1, "2026-12-07T07:00:00.000Z", "box-failed"}, // no job: no unit
    };
    records::db::Connection c(*records::ParseStoreUrl(url, nullptr), records::db::Connection::Target::Store, "t");
    std::vector<records::Record> rows;
    for (const Attempt &a : attempts) {
      records::Record r = FinishedAt(int(rows.size()), a.finished);
      r.jobName = QString::fromUtf8(a.job);
      r.lot = QStringLiteral("L1");
      r.unitUid = QString::fromLatin1(a.unit);
      r.attempt = a.attempt;
      r.result = QString::fromLatin1(a.result);
      r.serial = r.unitUid.isEmpty() ? QString() : QStringLiteral("SN-") + r.unitUid;
      rows.push_back(r);
    }
    QString error;
    ASSERT_TRUE(c.Insert(rows, &error)) << error.toStdString();
    // As a store of version 4 holds them: its units are derived from its records as it is read.
    for (const QString &sql : AsVersionSql(4))
      ASSERT_TRUE(c.Exec(sql, &error)) << error.toStdString();
  }
  const struct {
    QStringList args;
    int status;
    QString out;
  } cases[] = {
      {{},
       0,
       "JOB      DAY         ATTEMPTS  PASSED  FAILED  INTERRUPTED   YIELD  FAILURES\n"
       "=cmd     2026-12-07         1       0       1            0    0.0%  port-lost 1\n"
       "Board A  2026-12-07         7       2       2            1   50.0%  box-failed 1, verify-mismatch 1\n"
       "Board A  2026-12-08         3       2       0            0  100.0%  -\n"},
      {{"--format", "csv"},
       0,
       "job,day,attempts,passed,failed,interrupted,yield_percent,file-refused,port-unavailable,box-failed,"
       "verify-mismatch,no-answer,port-lost,read-protected\r\n"
       "'=cmd,2026-12-07,1,0,1,0,0.0,0,0,0,0,0,1,0\r\n"
       "Board A,2026-12-07,7,2,2,1,50.0,0,0,1,1,0,0,0\r\n"
       "Board A,2026-12-08,3,2,0,0,100.0,0,0,0,0,0,0,0\r\n"},
      // A unit counts on the day it ended: u7's retry, and so its end, lies beyond the range.
      {{"--json", "--job", "Board A", "--until", "2026-12-07"},
       0,
       "{\"job\":\"Board A\",\"day\":\"2026-12-07\",\"attempts\":7,\"passed\":2,\"failed\":2,\"interrupted\":1,"
       "\"yield_percent\":50.0,\"file-refused\":0,\"port-unavailable\":0,\"box-failed\":1,\"verify-mismatch\":1,"
       "\"no-answer\":0,\"port-lost\":0,\"read-protected\":0}\n"},
      {{"--format", "csv", "--job", "Board A", "--since", "2026-12-08"},
       0,
       "job,day,attempts,passed,failed,interrupted,yield_percent,file-refused,port-unavailable,box-failed,"
       "verify-mismatch,no-answer,port-lost,read-protected\r\n"
       "Board A,2026-12-08,3,2,0,0,100.0,0,0,0,0,0,0,0\r\n"},
      {{"--job", "Board B"}, 0, "JOB  DAY  ATTEMPTS  PASSED  FAILED  INTERRUPTED  YIELD  FAILURES\n"},
      {{"--result", "ok"}, 2, ""},
      {{"--json", "--format", "csv"}, 2, ""},
  };
  for (const auto &c : cases) {
    const Output o = Cli(
        QStringList{QStringLiteral("records"), QStringLiteral("--summary"), QStringLiteral("--records"), url} + c.args);
    EXPECT_EQ(o.status, c.status) << c.args.join(' ').toStdString() << ": " << o.err.toStdString();
    EXPECT_EQ(o.out.toStdString(), c.out.toStdString()) << c.args.join(' ').toStdString();
  }
  // Without --summary, --job picks that job's records.
  const Output listed = Cli({QStringLiteral("records"), QStringLiteral("--job"), QStringLiteral("=cmd"),
                             QStringLiteral("--json"), QStringLiteral("--records"), url});
  EXPECT_EQ(Counts(listed.out), std::vector<int>{10}) << listed.err.toStdString();
  // --serial picks one unit's attempts.
  const Output unit = Cli({QStringLiteral("records"), QStringLiteral("--serial"), QStringLiteral("SN-u8"),
                           QStringLiteral("--json"), QStringLiteral("--records"), url});
  EXPECT_EQ(Counts(unit.out), std::vector<int>{10}) << unit.err.toStdString();
  EXPECT_TRUE(unit.out.contains(QStringLiteral("\"serial\":\"SN-u8\""))) << unit.out.toStdString();
}

TEST(RecordsCommand, SummaryPerHourAndPerStationCountsTheUnitRowsInEveryFormat) {
  ProgramFolder folder;
  const QString url = QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite"));
  {
    struct Unit {
      const char *job, *station, *host, *started, *ended, *verdict, *result;
      int attempts;
      const char *operatorName = "li.wei";
      const char *holdsUntil = "";
    };
    // UTC; local hours are UTC+8.
    const Unit units[] = {
        {"Board A", "/dev/ttyUSB0", "bench-1", "2026-12-07T01:00:00.000Z", "2026-12-07T01:01:00.000Z", "passed", "ok", 1},
        {"Board A", "/dev/ttyUSB0", "bench-1", "2026-12-07T01:10:00.000Z", "2026-12-07T01:20:00.000Z", "failed",
         "verify-mismatch", 2},
        {"Board A", "/dev/ttyUSB1", "bench-2", "2026-12-07T01:30:00.000Z", "2026-12-07T01:31:00.000Z", "passed", "ok", 1,
         "王芳 #0417"},
        // Never ended: interrupted, in the hour it started.
        {"Board A", "/dev/ttyUSB1", "bench-2", "2026-12-07T01:50:00.000Z", "", "", "", 1, "王芳 #0417"},
        // Still within its hold: running on a live station, counted nowhere yet.
        {"Board A", "/dev/ttyUSB1", "bench-2", "2026-12-07T01:55:00.000Z", "", "", "", 1, "王芳 #0417",
         "2999-01-01T00:00:00.000Z"},
        {"Board A", "/dev/ttyUSB0", "bench-1", "2026-12-07T02:05:00.000Z", "2026-12-07T02:06:00.000Z", "interrupted",
         "interrupted", 1},
        {"=cmd", "/dev/ttyUSB1", "bench-2", "2026-12-07T02:30:00.000Z", "2026-12-07T02:31:00.000Z", "failed",
         "port-lost", 1, "王芳 #0417"},
        {"Board A", "/dev/ttyUSB0", "bench-1", "2026-12-07T16:01:00.000Z", "2026-12-07T16:02:00.000Z", "passed", "ok",
         1}, // 12-08 local
        {"", "/dev/ttyUSB0", "bench-1", "2026-12-07T03:00:00.000Z", "2026-12-07T03:01:00.000Z", "passed", "ok", 1},
        // Started 12-06 23:59 local, ended 12-07 00:01: a unit of the day it ended.
        {"Board A", "/dev/ttyUSB0", "bench-1", "2026-12-06T15:59:00.000Z", "2026-12-06T16:01:00.000Z", "passed", "ok",
         1},
        // The same station name on another host, the day before: a station of its own.
        {"Board A", "/dev/ttyUSB0", "bench-2", "2026-12-06T01:00:00.000Z", "2026-12-06T01:01:00.000Z", "passed", "ok",
         1},
    };
    records::db::Connection c(*records::ParseStoreUrl(url, nullptr), records::db::Connection::Target::Store, "t");
    QString error;
    ASSERT_TRUE(c.Open(&error)) << error.toStdString();
    int n = 0;
    for (const Unit &u : units)
      ASSERT_TRUE(records::db::Run(c,
                                   QStringLiteral("INSERT INTO units (unit_uid, job_name, station, host, port, started_at, "
                                                  "ended_at, verdict, result, attempts, operator, holds_until) VALUES "
                                                  "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                                   {QStringLiteral("u%1").arg(n++), QString::fromUtf8(u.job), QLatin1String(u.station),
                                    QLatin1String(u.host), QLatin1String(u.station), QLatin1String(u.started),
                                    QLatin1String(u.ended), QLatin1String(u.verdict), QLatin1String(u.result),
                                    u.attempts, QString::fromUtf8(u.operatorName), QLatin1String(u.holdsUntil)},
                                   &error))
          << error.toStdString();
  }
  const QStringList day = {QStringLiteral("--since"), QStringLiteral("2026-12-07"), QStringLiteral("--until"),
                           QStringLiteral("2026-12-07")};
  const struct {
    QStringList args;
    int status;
    QString out;
  } cases[] = {
      {QStringList{"--per", "hour"} + day,
       0,
       "JOB      HOUR              ATTEMPTS  PASSED  FAILED  INTERRUPTED   YIELD  FAILURES\n"
       "=cmd     2026-12-07 10:00         1       0       1            0    0.0%  port-lost 1\n"
       "Board A  2026-12-07 00:00         1       1       0            0  100.0%  -\n"
       "Board A  2026-12-07 09:00         5       2       1            1   66.7%  verify-mismatch 1\n"
       "Board A  2026-12-07 10:00         1       0       0            1       -  -\n"},
      {QStringList{"--per", "hour", "--format", "csv", "--job", "Board A"} + day,
       0,
       "job,hour,attempts,passed,failed,interrupted,yield_percent,file-refused,port-unavailable,box-failed,"
       "verify-mismatch,no-answer,port-lost,read-protected\r\n"
       "Board A,2026-12-07T00:00:00+08:00,1,1,0,0,100.0,0,0,0,0,0,0,0\r\n"
       "Board A,2026-12-07T09:00:00+08:00,5,2,1,1,66.7,0,0,0,1,0,0,0\r\n"
       "Board A,2026-12-07T10:00:00+08:00,1,0,0,1,,0,0,0,0,0,0,0\r\n"},
      {{"--per", "station"},
       0,
       "STATION       HOST     JOB      ATTEMPTS  PASSED  FAILED  INTERRUPTED   YIELD  FAILURES\n"
       "/dev/ttyUSB0  bench-1  Board A         6       3       1            1   75.0%  verify-mismatch 1\n"
       "/dev/ttyUSB0  bench-2  Board A         1       1       0            0  100.0%  -\n"
       "/dev/ttyUSB1  bench-2  =cmd            1       0       1            0    0.0%  port-lost 1\n"
       "/dev/ttyUSB1  bench-2  Board A         2       1       0            1  100.0%  -\n"},
      {{"--per", "station", "--json", "--job", "=cmd"},
       0,
       "{\"station\":\"/dev/ttyUSB1\",\"host\":\"bench-2\",\"job\":\"=cmd\",\"attempts\":1,\"passed\":0,\"failed\":1,"
       "\"interrupted\":0,\"yield_percent\":0.0,\"file-refused\":0,\"port-unavailable\":0,\"box-failed\":0,"
       "\"verify-mismatch\":0,\"no-answer\":0,\"port-lost\":1,\"read-protected\":0}\n"},
      // Who started each unit, wherever it ended; a Chinese name takes two columns a character.
      {QStringList{"--per", "operator"} + day,
       0,
       "OPERATOR    JOB      ATTEMPTS  PASSED  FAILED  INTERRUPTED   YIELD  FAILURES\n"
       "li.wei      Board A         5       2       1            1   66.7%  verify-mismatch 1\n"
       "王芳 #0417  =cmd            1       0       1            0    0.0%  port-lost 1\n"
       "王芳 #0417  Board A         2       1       0            1  100.0%  -\n"},
      {{"--per", "operator", "--format", "csv", "--operator", "王芳 #0417", "--job", "Board A"},
       0,
       "operator,job,attempts,passed,failed,interrupted,yield_percent,file-refused,port-unavailable,box-failed,"
       "verify-mismatch,no-answer,port-lost,read-protected\r\n"
       "王芳 #0417,Board A,2,1,0,1,100.0,0,0,0,0,0,0,0\r\n"},
      {{"--per", "week"}, 2, ""},
      // Per day, from the same unit rows: its attempts are the sum of its hours'.
      {day,
       0,
       "JOB      DAY         ATTEMPTS  PASSED  FAILED  INTERRUPTED  YIELD  FAILURES\n"
       "=cmd     2026-12-07         1       0       1            0   0.0%  port-lost 1\n"
       "Board A  2026-12-07         7       3       1            2  75.0%  verify-mismatch 1\n"},
  };
  for (const auto &c : cases) {
    const Output o = Cli(
        QStringList{QStringLiteral("records"), QStringLiteral("--summary"), QStringLiteral("--records"), url} + c.args);
    EXPECT_EQ(o.status, c.status) << c.args.join(' ').toStdString() << ": " << o.err.toStdString();
    EXPECT_EQ(o.out.toStdString(), c.out.toStdString()) << c.args.join(' ').toStdString();
  }
  const Output alone = Cli({QStringLiteral("records"), QStringLiteral("--per"), QStringLiteral("hour"),
                            QStringLiteral("--records"), url});
  EXPECT_EQ(alone.status, 2) << "--per needs --summary";
}
