// kavrin-cli against simulated boxes on pseudo-terminals: the exit status of
// each way a box can end, a gang with one failing box, Ctrl+C in the middle
// of a gang and the load after it, a port vanishing mid-load, what a read-out's --out may replace
// and how a file that could not be written is recorded, and the descriptors
// an open port holds.
#include "cli/run_sessions.h"
#include "image/image_blocks.h"
#include "job/job_file.h"
#include "records/database.h"
#include "records/query.h"
#include "records/serial_pool.h"
#include "records/unit_row.h"
#include "records/yield.h"
#include "serial/comm.h"
#include "serial/pty_pair.h"
#include "session/box_session.h"
#include "session/production_run.h"
#include "support/postgres_server.h"
#include "support/test_helpers.h"
#include "tools/boxsim_process.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <set>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QSqlQuery>
#include <random>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using boxsim_test::BoxSim;

QString Fixture(const char *name) { return SourcePath(QStringLiteral("tests/image/fixtures/") + QLatin1String(name)); }

struct Box {
  ProgramFolder folder;
  std::string log = folder.File(QStringLiteral("box.jsonl")).toStdString();
  std::unique_ptr<BoxSim> sim;
  explicit Box(std::vector<std::string> options) {
    options.insert(options.end(), {"--log", log, "--exit-with-parent"});
    sim = std::make_unique<BoxSim>(options);
  }
  QString Port() const { return QString::fromStdString(sim->Device()); }
};

// A kavrin-cli run with --json, its events as they came.
struct CliRun {
  QProcess process;
  std::vector<QJsonObject> events;
  QByteArray pending;

  void Start(const QStringList &args) {
    process.start(BinPath(QStringLiteral("kavrin-cli")), args + QStringList{QStringLiteral("--json")});
    process.waitForStarted();
  }
  // Takes the complete lines written so far.
  void Take() {
    pending += process.readAllStandardOutput();
    for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1))
      events.push_back(QJsonDocument::fromJson(pending.left(nl)).object());
  }
  bool WaitFor(const std::function<bool()> &done, int ms) {
    return PumpUntil([&] {
      process.waitForReadyRead(10);
      Take();
      return done();
    }, ms);
  }
  int Finish(int ms = 60000) {
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(ms))
      return -1;
    Take();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  std::vector<QJsonObject> Of(const char *kind) const {
    std::vector<QJsonObject> out;
    for (const auto &e : events)
      if (e.value("event").toString() == QLatin1String(kind))
        out.push_back(e);
    return out;
  }
};

bool HaveSimulator() { return access(boxsim_test::SimulatorPath().c_str(), X_OK) == 0; }

// A record store of the test's own, and what it holds, newest first.
struct Store {
  ProgramFolder folder;
  QString url = QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite"));
  QStringList Args() const { return {QStringLiteral("--records"), url}; }
  std::vector<records::Record> Rows() const {
    QString error;
    const auto rows = records::Query(*records::ParseStoreUrl(url, &error), {}, &error);
    EXPECT_EQ(error, QString());
    return rows;
  }
};

TEST(CliBoxes, EachWayABoxEndsHasItsExitStatus) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  struct Case {
    const char *name;
    std::vector<std::string> box; // empty: no box at all
    QStringList args;
    int status;
    const char *result;
    int waitedMs = 0; // the time-out the attempt ran into
    const char *reason = nullptr; // as a job run's result gives it too
  };
  const QString fw = Fixture("objcopy_16_crlf.hex");
  const std::vector<Case> cases = {
      {"ok", {"--chip-fill", "0xFF"}, {"load", "--file", fw, "--mode", "online"}, 0, "ok"},
      {"port unavailable", {}, {"verify"}, 4, "port-unavailable", 0,
       "/nonexistent/kavrin-port: No such file or directory (check the name and that the adapter is plugged in)"},
      {"box failed", {"--fail-at-block", "2"}, {"load", "--file", fw}, 5, "box-failed", 0, "File load failed"},
      {"box done before asking for block 2", {"--order", "1"}, {"load", "--file", Fixture("joined.hex")}, 5,
       "box-failed"},
      {"no answer", {"--silent"}, {"verify", "--timeout", "1"}, 7, "no-answer"},
      {"set unanswered", {"--silent"}, {"set", "--mode", "offline", "--power", "5v", "--count", "1", "--timeout", "2"}, 7, "no-answer", 2000},
      {"read-protected", {"--protected"}, {"verify"}, 9, "read-protected"},
  };
  Store store;
  for (const auto &c : cases) {
    std::unique_ptr<Box> box = c.box.empty() ? nullptr : std::make_unique<Box>(c.box);
    const QString port = box ? box->Port() : QStringLiteral("/nonexistent/kavrin-port");
    CliRun run;
    run.Start(c.args + QStringList{QStringLiteral("--port"), port} + store.Args());
    EXPECT_EQ(run.Finish(), c.status) << c.name;
    const auto results = run.Of("result");
    ASSERT_EQ(results.size(), 1u) << c.name;
    const QJsonObject &r = results[0];
    EXPECT_EQ(r.value("port").toString(), port) << c.name;
    EXPECT_EQ(r.value("result").toString(), QLatin1String(c.result)) << c.name;
    EXPECT_EQ(r.value("exit").toInt(-1), c.status) << c.name;
    EXPECT_TRUE(r.value("seconds").isDouble()) << c.name;
    EXPECT_TRUE(r.contains("checksum")) << c.name;
    if (c.reason) {
      EXPECT_EQ(r.value("reason").toString(), QString::fromUtf8(c.reason)) << c.name;
    }
    for (const auto &e : run.events)
      EXPECT_EQ(e.value("port").toString(), port) << c.name << ": every event names its box";
    // The attempt is recorded with the same result and the text the box's end showed.
    const records::Record last = store.Rows().at(0);
    EXPECT_EQ(last.result, QLatin1String(c.result)) << c.name;
    EXPECT_EQ(last.station, port) << c.name;
    EXPECT_EQ(last.frontEnd, "cli") << c.name;
    EXPECT_EQ(last.operation, c.args[0]) << c.name;
    EXPECT_EQ(last.operatorName, AccountName()) << c.name << ": no --operator, the login name";
    if (c.waitedMs > 0) {
      // From the frame sent to the attempt's end: never before the time-out, nor long after it.
      EXPECT_GE(last.durationMs, c.waitedMs) << c.name;
      EXPECT_LT(last.durationMs, 2 * c.waitedMs) << c.name;
    }
    const auto messages = run.Of("message");
    if (box) {
      EXPECT_EQ(last.message, messages.empty() ? QString() : messages.back().value("text").toString()) << c.name;
    } else {
      // The record keeps the window's words; the command line says what failed and what to do.
      EXPECT_EQ(last.message, QStringLiteral("Open serial port fails, re-select the serial port ")) << c.name;
      EXPECT_EQ(messages.at(0).value("text").toString(),
                QStringLiteral("Error opening serial port: ") + QString::fromUtf8(c.reason))
          << c.name;
    }
  }
  // A refused file is recorded too, though no port was touched.
  CliRun refused;
  refused.Start({"load", "--port", "/nonexistent/kavrin-port", "--file", Fixture("joined.bin"), "--records", store.url});
  EXPECT_EQ(refused.Finish(), 3);
  const records::Record last = store.Rows().at(0);
  EXPECT_EQ(last.result, "file-refused");
  EXPECT_EQ(last.operatorName, AccountName());
  EXPECT_EQ(last.filePath, Fixture("joined.bin"));
  EXPECT_EQ(last.sectors, "FFFFFFFF");
  EXPECT_EQ(last.bytesSent, 0);
  // A load whose port does not open still names the image it would have sent.
  CliRun unopened;
  unopened.Start({"load", "--port", "/nonexistent/kavrin-port", "--file", fw, "--sectors", "1-4", "--records", store.url,
                  "--operator", "王芳 #0417"});
  EXPECT_EQ(unopened.Finish(), 4);
  const records::Record load = store.Rows().at(0);
  EXPECT_EQ(load.operatorName, QStringLiteral("王芳 #0417"));
  EXPECT_EQ(load.result, "port-unavailable");
  EXPECT_EQ(load.imageChecksum, unopened.Of("result").at(0).value("checksum").toString());
  EXPECT_FALSE(load.imageChecksum.isEmpty());
  EXPECT_EQ(load.sectors, "0000000F");
  EXPECT_EQ(load.count, 999999);
}

// A store on a file system with no room: a small tmpfs filled up when the
// test may mount one (root writes whatever the permissions say), else a file
// size limit of nothing that the command line inherits.
TEST(CliBoxes, AUnitTheStoreCannotRecordIsNoPassAndEndsWithStatus10) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Box box({});
  ProgramFolder folder;
  const QString full = folder.File(QStringLiteral("full"));
  ASSERT_TRUE(QDir().mkpath(full));
  const bool mounted = geteuid() == 0 && QProcess::execute(QStringLiteral("mount"),
                                                          {"-t", "tmpfs", "-o", "size=64k", "tmpfs", full}) == 0;
  if (mounted) {
    QFile filler(full + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
    }
  }
  const QStringList load{"load", "--port", box.Port(), "--file", Fixture("objcopy_16_crlf.hex"), "--mode", "online",
                         "--records", "sqlite:" + full + "/records.sqlite", "--json"};
  QProcess cli;
  if (mounted)
    cli.start(BinPath(QStringLiteral("kavrin-cli")), load);
  else
    cli.start(QStringLiteral("bash"), QStringList{"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"",
                                                  BinPath(QStringLiteral("kavrin-cli"))} +
                                          load);
  ASSERT_TRUE(cli.waitForFinished(60000));
  const QByteArray out = cli.readAllStandardOutput();
  if (mounted)
    QProcess::execute(QStringLiteral("umount"), {full});
  EXPECT_EQ(cli.exitCode(), 10) << out.toStdString();
  QJsonObject result;
  for (const QByteArray &line : out.split('\n'))
    if (QJsonDocument::fromJson(line).object().value("event").toString() == QLatin1String("result"))
      result = QJsonDocument::fromJson(line).object();
  EXPECT_EQ(result.value("result").toString(), QLatin1String("not-recorded"));
  EXPECT_EQ(result.value("exit").toInt(), 10);
  EXPECT_TRUE(result.value("reason").toString().startsWith(
      QStringLiteral("Production records cannot be written to %1/records.sqlite: ").arg(full)))
      << result.value("reason").toString().toStdString();
  EXPECT_TRUE(boxsim_test::ReadLog(box.log).empty()) << "a unit the store did not take never reaches its box";
}

// A box the test plays on a pseudo-terminal: it answers what the command
// sends first with `answer`; whatever answer is no success ends as a box
// failure, and nothing more goes out to the box.
TEST(CliBoxes, AnswersThatAreNoSuccessEndAsBoxFailuresAndNothingMoreIsSent) {
  const std::vector<uint8_t> fake = {0x13, 0x37, 0x00, 0x99, 0x42, 0x42, 0x42, 0x42};
  const QString notAReply = QStringLiteral("编程器发来的 8 个字节不是应答：13 37 00 99 42 42 42 42");
  const QString fw = Fixture("objcopy_16_crlf.hex"); // data in block 0 alone
  const QString wide = Fixture("joined.hex");        // data in blocks 0 and 2
  struct Case {
    const char *name;
    QStringList args;
    size_t heard; // bytes the command sends before it waits
    std::vector<uint8_t> answer;
    QString message;
    const char *operation;
  };
  const std::vector<Case> cases = {
      {"verify, no frame", {"verify"}, 4, fake, notAReply, "verify"},
      {"erase-program-verify, no frame", {"erase-program-verify"}, 4, fake, notAReply, "erase-program-verify"},
      {"set, no frame", {"set", "--mode", "offline", "--power", "5v", "--count", "1"}, 8, fake, notAReply, "set"},
      {"load, no frame", {"load", "--file", fw}, 6 + 4120, fake, notAReply, "load"},
      {"load whose set is refused", {"load", "--file", fw, "--mode", "online"}, 8, {0x68, 0x06, 0x01, 0x00, 0x16},
       QString(), "set"},
      // The box is believed only as far as it is designed to answer.
      {"load called successful after block 0 alone", {"load", "--file", wide}, 6 + 4120, {0x68, 0x00, 0x01, 0x99, 0x16},
       "编程器报告加载成功，但从未索取文件的这些数据块：2", "load"},
      {"load answered with an unknown status", {"load", "--file", fw}, 6 + 4120, {0x68, 0x00, 0x01, 0x42, 0x16},
       "编程器应答了未知的状态 42：68 00 01 42 16", "load"},
      {"verify answered twice at once", {"verify"}, 4, {0x68, 0x03, 0x01, 0x99, 0x16, 0x68, 0x03, 0x01, 0x00, 0x16},
       "编程器一次发来了多个应答：68 03 01 99 16 68 03 01 00 16", "verify"},
  };
  Store store;
  for (const auto &c : cases) {
    PtyPair box;
    ASSERT_TRUE(box.Ok());
    CliRun run;
    run.Start(c.args + QStringList{"--port", box.SlavePath(), "--timeout", "2"} + store.Args());
    ASSERT_EQ(box.Read(c.heard, 10000).size(), c.heard) << c.name;
    ASSERT_TRUE(box.Write(c.answer)) << c.name;
    std::vector<uint8_t> after;
    while (!run.process.waitForFinished(20)) {
      const auto more = box.Read(65536, 20);
      after.insert(after.end(), more.begin(), more.end());
    }
    EXPECT_EQ(run.Finish(), 5) << c.name;
    EXPECT_EQ(after.size(), 0u) << c.name;
    ASSERT_EQ(run.Of("result").size(), 1u) << c.name;
    EXPECT_EQ(run.Of("result")[0].value("result").toString(), "box-failed") << c.name;
    const auto messages = run.Of("message");
    EXPECT_EQ(messages.empty() ? QString() : messages.back().value("text").toString(), c.message) << c.name;
    const records::Record last = store.Rows().at(0);
    EXPECT_EQ(last.operation, QLatin1String(c.operation)) << c.name;
    EXPECT_EQ(last.result, "box-failed") << c.name;
    EXPECT_EQ(last.message, c.message) << c.name;
  }
}

TEST(CliBoxes, VerifyMismatchNamesTheCellAndExitsSix) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Box box({"--mismatch", "0x0123"});
  Store store;
  CliRun load;
  load.Start(QStringList{"load", "--port", box.Port(), "--file", Fixture("objcopy_16_crlf.hex"), "--mode", "online",
                         "--sectors", "1-4"} +
             store.Args());
  ASSERT_EQ(load.Finish(), 0);
  // The set the load began with, then the load, each with what it knew.
  const auto rows = store.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].operation, "set");
  EXPECT_EQ(rows[1].mode, "online");
  EXPECT_EQ(rows[1].filePath, QString());
  const records::Record &loaded = rows[0];
  EXPECT_EQ(loaded.operation, "load");
  EXPECT_EQ(loaded.result, "ok");
  EXPECT_EQ(loaded.message, QStringLiteral("文件烧写成功 "));
  EXPECT_EQ(loaded.filePath, Fixture("objcopy_16_crlf.hex"));
  EXPECT_EQ(loaded.fileSha256.size(), 64);
  EXPECT_EQ(loaded.imageChecksum, load.Of("result").at(0).value("checksum").toString());
  EXPECT_EQ(loaded.sectors, "0000000F");
  EXPECT_EQ(loaded.count, 999999);
  EXPECT_EQ(loaded.bytesSent, 6 + 4120 + 7 * 4102);
  EXPECT_GT(loaded.durationMs, 0);
  EXPECT_LE(loaded.startedAt, loaded.finishedAt);
  CliRun verify;
  verify.Start(QStringList{"verify", "--port", box.Port()} + store.Args());
  EXPECT_EQ(verify.Finish(), 6);
  EXPECT_EQ(store.Rows().at(0).result, "verify-mismatch");
  const QJsonObject r = verify.Of("result").at(0);
  EXPECT_EQ(r.value("result").toString(), "verify-mismatch");
  EXPECT_EQ(r.value("address").toString(), "0123");
  EXPECT_EQ(r.value("written").toString().size(), 2);
  EXPECT_EQ(verify.Of("message").at(0).value("text").toString().left(11), QStringLiteral("校验没通过，错误地址："));
}

TEST(CliBoxes, GangOfFourWithOneFailingBoxLoadsTheOtherThreeExactly) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  std::vector<std::unique_ptr<Box>> boxes;
  for (int i = 0; i < 4; ++i)
    boxes.push_back(std::make_unique<Box>(i == 2 ? std::vector<std::string>{"--fail-at-block", "3"}
                                                 : std::vector<std::string>{}));
  QStringList args{"load", "--file", Fixture("joined.hex"), "--sectors", "1-8,17,32", "--count", "42"};
  for (const auto &b : boxes)
    args << "--port" << b->Port();
  CliRun run;
  run.Start(args);
  EXPECT_EQ(run.Finish(), 1);
  ASSERT_EQ(run.Of("result").size(), 4u);
  QFile bin(Fixture("joined.bin"));
  ASSERT_TRUE(bin.open(QIODevice::ReadOnly));
  QByteArray image = bin.readAll();
  image.resize(32768, '\0');
  for (size_t i = 0; i < boxes.size(); ++i) {
    const QString port = boxes[i]->Port();
    const auto result = std::find_if(run.events.begin(), run.events.end(), [&](const QJsonObject &e) {
      return e.value("event") == "result" && e.value("port") == port;
    });
    ASSERT_NE(result, run.events.end());
    EXPECT_EQ(result->value("result").toString(), i == 2 ? "box-failed" : "ok") << port.toStdString();
    EXPECT_EQ(result->value("exit").toInt(), i == 2 ? 5 : 0);
    if (i == 2)
      continue;
    const auto blocks = boxsim_test::ReadLog(boxes[i]->log);
    int n = 0;
    for (const auto &r : blocks) {
      if (r.value("kind").toString() != "block")
        continue;
      ASSERT_TRUE(r.value("ok").toBool()) << port.toStdString();
      const int number = r.value("n").toInt();
      EXPECT_EQ(QByteArray::fromHex(r.value("data").toString().toLatin1()), image.mid(number * 4096, 4096))
          << port.toStdString() << " block " << number;
      if (number == 0) {
        EXPECT_EQ(r.value("count").toString(), "000042");
        EXPECT_EQ(r.value("sectors").toString(), "800100FF");
      }
      ++n;
    }
    EXPECT_EQ(n, 8) << port.toStdString();
  }
}

TEST(CliBoxes, ElfSendsTheBlocksOfItsHex) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  // What each box got: every block record as the simulator logged it.
  auto blocksOf = [](const char *fixture) {
    Box box({});
    CliRun run;
    run.Start({"load", "--port", box.Port(), "--file", Fixture(fixture), "--no-records"});
    EXPECT_EQ(run.Finish(), 0) << fixture;
    QStringList blocks;
    for (QJsonObject r : boxsim_test::ReadLog(box.log)) {
      if (r.value("kind").toString() != "block")
        continue;
      r.remove("t");
      blocks << QString::fromUtf8(QJsonDocument(r).toJson(QJsonDocument::Compact));
    }
    return blocks;
  };
  const QStringList hex = blocksOf("program.hex");
  ASSERT_EQ(hex.size(), 8);
  EXPECT_TRUE(hex[0].contains("\"name\":\"program\"")) << hex[0].toStdString();
  EXPECT_EQ(blocksOf("program.elf"), hex);
}

TEST(CliBoxes, CtrlCStopsEveryBoxOfAGang) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Box a({"--paced"}), b({"--paced"});
  Store store;
  CliRun run;
  run.Start(QStringList{"load", "--port", a.Port(), "--port", b.Port(), "--file", Fixture("joined.hex")} +
            store.Args());
  ASSERT_TRUE(run.WaitFor([&] { return run.Of("progress").size() >= 4; }, 20000));
  kill(pid_t(run.process.processId()), SIGINT);
  EXPECT_EQ(run.Finish(3000), 130);
  for (const auto &r : store.Rows())
    EXPECT_EQ(r.result, "interrupted");
  EXPECT_EQ(store.Rows().size(), 2u);
  const auto results = run.Of("result");
  ASSERT_EQ(results.size(), 2u);
  for (const auto &r : results) {
    EXPECT_EQ(r.value("result").toString(), "interrupted");
    EXPECT_EQ(r.value("exit").toInt(), 130);
  }
  // The ports were closed, and only once each box had answered the block it
  // was taking in: the next load on them starts clean and gets no answer
  // meant for the one stopped.
  CliRun again;
  again.Start(QStringList{"load", "--port", a.Port(), "--port", b.Port(), "--file", Fixture("joined.hex"),
                          "--fast-replies", "--no-records"});
  EXPECT_EQ(again.Finish(), 0);
}

TEST(CliBoxes, PortVanishingMidLoadEndsWithEightWithinASecond) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Box box({"--paced"});
  Store store;
  CliRun run;
  run.Start(QStringList{"load", "--port", box.Port(), "--file", Fixture("joined.hex")} + store.Args());
  ASSERT_TRUE(run.WaitFor([&] { return run.Of("progress").size() >= 3; }, 20000));
  QElapsedTimer clock;
  clock.start();
  kill(box.sim->Pid(), SIGKILL);
  EXPECT_EQ(run.Finish(5000), 8);
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(run.Of("result").at(0).value("result").toString(), "port-lost");
  EXPECT_EQ(store.Rows().at(0).result, "port-lost");
  EXPECT_EQ(store.Rows().at(0).message, QStringLiteral("串口已断开，本次操作失败！请检查连接后重新选择串口。"));
  box.sim->Process().Wait(3000);
}

TEST(CliBoxes, ReadOutReplacesNothingButARegularFile) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Box box({});
  ProgramFolder folder;
  const QString fifo = folder.File(QStringLiteral("fifo")), dir = folder.File(QStringLiteral("folder")),
                device = folder.File(QStringLiteral("full")), link = folder.File(QStringLiteral("link"));
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  ASSERT_TRUE(QDir().mkdir(dir));
  ASSERT_TRUE(QFile::link(fifo, link));
  QStringList targets{fifo, dir, link};
  // A device node of our own, as the one under /dev is not to be risked.
  if (mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 7)) == 0)
    targets << device;
  for (const QString &target : targets) {
    struct stat before = {}, after = {};
    ASSERT_EQ(lstat(QFile::encodeName(target).constData(), &before), 0);
    CliRun run;
    run.Start({"read-out", "--port", box.Port(), "--chip", "PAC5223", "--out", target, "--no-records"});
    EXPECT_EQ(run.Finish(), 2) << target.toStdString();
    EXPECT_EQ(run.process.readAllStandardError().toStdString(),
              QStringLiteral("kavrin-cli read-out: --out: \"%1\": it exists and is not a regular file\n"
                             "Try 'kavrin-cli read-out --help'.\n")
                  .arg(target)
                  .toStdString());
    ASSERT_EQ(lstat(QFile::encodeName(target).constData(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode) << target.toStdString();
    EXPECT_EQ(after.st_ino, before.st_ino) << target.toStdString();
  }
}

TEST(CliBoxes, ReadOutWhoseFileIsNotWrittenIsRecordedAsTheOperatorIsTold) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Box box({"--paced"});
  Store store;
  ProgramFolder folder;
  const QString out = folder.File(QStringLiteral("chip.bin"));
  CliRun run;
  run.Start(QStringList{"read-out", "--port", box.Port(), "--chip", "PAC5210", "--out", out} + store.Args());
  ASSERT_TRUE(run.WaitFor([&] { return !run.Of("progress").empty(); }, 20000));
  // The file's place is taken while the chip is read.
  ASSERT_TRUE(QDir().mkdir(out));
  EXPECT_EQ(run.Finish(), 5);
  const QString why = QStringLiteral("Cannot write \"%1\": it exists and is not a regular file").arg(out);
  const QJsonObject result = run.Of("result").at(0);
  EXPECT_EQ(result.value("result").toString().toStdString(), "box-failed");
  EXPECT_EQ(result.value("reason").toString().toStdString(), why.toStdString());
  const auto rows = store.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].operation.toStdString(), "read-out");
  EXPECT_EQ(rows[0].result.toStdString(), "box-failed");
  EXPECT_EQ(rows[0].message.toStdString(), why.toStdString());
  EXPECT_TRUE(QFileInfo(out).isDir());
}

TEST(CliBoxes, AnOpenPortHoldsNoMoreDescriptorsThanTheLimitCheckReckons) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  auto open = [] {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
  };
  const qsizetype closed = open();
  {
    session::BoxSession session(serial::MakePlatformSerialLayer());
    session.OpenPort(QString::fromLocal8Bit(ptsname(master)));
    EXPECT_LE(open() - closed, cli::kDescriptorsPerPort);
    EXPECT_GT(open() - closed, 0);
    session.ClosePort();
  }
  EXPECT_EQ(open(), closed);
  close(master);
}

// --- Units of a job -------------------------------------------------------------

// A job file beside its firmware, made by `job create` with `args` added.
QString MakeJob(const ProgramFolder &folder, const QStringList &args, const QString &lotSize = QStringLiteral("10")) {
  QFile::copy(Fixture("objcopy_16_crlf.hex"), folder.File(QStringLiteral("fw.hex")));
  const QString path = folder.File(QStringLiteral("j.kavjob"));
  QProcess make;
  make.start(BinPath(QStringLiteral("kavrin-cli")),
             QStringList{QStringLiteral("job"), QStringLiteral("create"), QStringLiteral("--out"), path,
                         QStringLiteral("--file"), folder.File(QStringLiteral("fw.hex")), QStringLiteral("--name"),
                         QStringLiteral("motor board"), QStringLiteral("--lot-size"), lotSize,
                         QStringLiteral("--mode"), QStringLiteral("online"), QStringLiteral("--timeout"),
                         QStringLiteral("5")} +
                 args);
  make.waitForFinished();
  EXPECT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
  return path;
}

// "load:box-failed@1" for each record of the store, oldest first.
QStringList Steps(const std::vector<records::Record> &newestFirst) {
  QStringList out;
  for (auto r = newestFirst.rbegin(); r != newestFirst.rend(); ++r)
    out << QStringLiteral("%1:%2@%3").arg(r->operation, r->result).arg(r->attempt);
  return out;
}

TEST(CliRunJob, RetriesRecordsAndExitStatusAsALoad) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  struct Case {
    const char *name;
    std::vector<std::string> box;
    QStringList job;
    int status;
    QStringList steps;
    QString reason; // as a load's result gives it
  };
  const std::vector<Case> cases = {
      {"fails once, retried",
       {"--fail-at-block", "2", "--fail-times", "1"},
       {"--retries", "1", "--verify"},
       0,
       {"set:ok@1", "load:box-failed@1", "set:ok@2", "load:ok@2", "verify:ok@2"},
       {}},
      {"fails twice, one retry", {"--fail-at-block", "2", "--fail-times", "2"}, {"--retries", "1"}, 5,
       {"set:ok@1", "load:box-failed@1", "set:ok@2", "load:box-failed@2"}, "File load failed"},
      {"mismatch, never retried", {"--mismatch", "0x0010"}, {"--retries", "3", "--verify"}, 6,
       {"set:ok@1", "load:ok@1", "verify:verify-mismatch@1"}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder folder;
    const QString job = MakeJob(folder, c.job);
    Box box(c.box);
    Store store;
    CliRun run;
    run.Start(QStringList{QStringLiteral("run"), QStringLiteral("--job"), job, QStringLiteral("--port"), box.Port(),
                          QStringLiteral("--fast-replies")} +
              store.Args());
    EXPECT_EQ(run.Finish(), c.status);
    const auto rows = store.Rows();
    EXPECT_EQ(Steps(rows), c.steps);
    const auto results = run.Of("result");
    ASSERT_EQ(results.size(), 1u);
    ASSERT_FALSE(rows.empty());
    // The event names the unit and attempt the records keep.
    EXPECT_EQ(results[0].value("unit").toString(), rows.front().unitUid);
    EXPECT_EQ(results[0].value("attempt").toInt(), rows.front().attempt);
    EXPECT_TRUE(results[0].value("serial").isNull());
    EXPECT_EQ(results[0].value("reason").toString(), c.reason);
    for (const auto &r : rows) {
      EXPECT_EQ(r.unitUid, rows.front().unitUid);
      EXPECT_EQ(r.jobName, QStringLiteral("motor board"));
    }
  }
}

TEST(CliRunJob, LotCountersComeFromTheRecordsOfEveryRun) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  ProgramFolder folder;
  const QString job = MakeJob(folder, {});
  Box box({});
  Store store;
  auto lotAfter = [&](const QStringList &args) {
    CliRun run;
    run.Start(QStringList{QStringLiteral("run"), QStringLiteral("--job"), job, QStringLiteral("--port"), box.Port(),
                          QStringLiteral("--fast-replies"), QStringLiteral("--lot"), QStringLiteral("L-49")} +
              store.Args() + args);
    EXPECT_EQ(run.Finish(), 0);
    const auto lots = run.Of("lot");
    return lots.size() == 1 ? lots[0].value("passed").toInt(-1) : -1;
  };
  EXPECT_EQ(lotAfter({QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--operator"),
                      QStringLiteral("王芳 #0417")}),
            2);
  EXPECT_EQ(lotAfter({}), 3); // a new process counts the earlier run's units
  // Each record names who ran it (the login name without --operator) and the job file it ran.
  const QString jobSha = QString::fromLatin1(
      QCryptographicHash::hash(folder.Read(QStringLiteral("j.kavjob")), QCryptographicHash::Sha256).toHex());
  QStringList who;
  for (const records::Record &r : store.Rows()) {
    who << r.operatorName;
    EXPECT_EQ(r.jobSha256, jobSha);
    EXPECT_EQ(r.jobRelease, QString()) << "no trusted key, no release";
  }
  const QString me = AccountName();
  EXPECT_EQ(who, (QStringList{me, me, "王芳 #0417", "王芳 #0417", "王芳 #0417", "王芳 #0417"}));
  // The summary per operator, and one operator's records.
  QProcess summary;
  summary.start(BinPath(QStringLiteral("kavrin-cli")),
                {"records", "--summary", "--per", "operator", "--format", "csv", "--records", store.url});
  ASSERT_TRUE(summary.waitForFinished(30000));
  EXPECT_EQ(QString::fromUtf8(summary.readAllStandardOutput()),
            QStringLiteral("operator,job,attempts,passed,failed,interrupted,yield_percent,file-refused,"
                           "port-unavailable,box-failed,verify-mismatch,no-answer,port-lost,read-protected\r\n") +
                (me < QStringLiteral("王芳 #0417")
                     ? QStringLiteral("%1,motor board,1,1,0,0,100.0,0,0,0,0,0,0,0\r\n"
                                      "王芳 #0417,motor board,2,2,0,0,100.0,0,0,0,0,0,0,0\r\n")
                     : QStringLiteral("王芳 #0417,motor board,2,2,0,0,100.0,0,0,0,0,0,0,0\r\n"
                                      "%1,motor board,1,1,0,0,100.0,0,0,0,0,0,0,0\r\n"))
                    .arg(me));
  QProcess theirs;
  theirs.start(BinPath(QStringLiteral("kavrin-cli")),
               {"records", "--operator", "王芳 #0417", "--format", "json", "--records", store.url});
  ASSERT_TRUE(theirs.waitForFinished(30000));
  const QList<QByteArray> lines = theirs.readAllStandardOutput().trimmed().split('\n');
  ASSERT_EQ(lines.size(), 4);
  for (const QByteArray &line : lines)
    EXPECT_EQ(QJsonDocument::fromJson(line).object().value("operator").toString(), QStringLiteral("王芳 #0417"));
}

TEST(CliRunJob, TwoStationsSharingALotOfFiveMakeExactlyFivePasses) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  ProgramFolder folder;
  const QString job = MakeJob(folder, {}, QStringLiteral("5"));
  Store store;
  Box boxes[] = {Box({}), Box({})};
  CliRun stations[2];
  for (int s = 0; s < 2; ++s)
    stations[s].Start(QStringList{"run", "--job", job, "--port", boxes[s].Port(), "--fast-replies", "--units", "10",
                                  "--lot", "L-5"} +
                      store.Args());
  int passes = 0, completeSeen = 0;
  for (CliRun &station : stations) {
    EXPECT_EQ(station.Finish(), 0) << "every unit of its own passed";
    for (const QJsonObject &result : station.Of("result"))
      passes += result.value("result").toString() == QLatin1String("ok");
    ASSERT_EQ(station.Of("lot").size(), 1u);
    // The station ending last saw the lot complete; the other one, its last unit's place taken.
    const QJsonObject lot = station.Of("lot")[0];
    EXPECT_EQ(lot.value("complete").toBool(), lot.value("passed").toInt() == 5);
    completeSeen = std::max(completeSeen, lot.value("passed").toInt());
  }
  EXPECT_EQ(passes, 5);
  EXPECT_EQ(completeSeen, 5);
  QString error;
  records::LotCounters lot;
  ASSERT_TRUE(records::CountLot(*records::ParseStoreUrl(store.url, &error), "motor board", "L-5", &lot, &error));
  EXPECT_EQ(lot, (records::LotCounters{5, 0, 0}));
}

// A port that does not open is the station's doing: the box would fail every
// unit it is given alike, so it takes no more.
TEST(CliRunJob, ABoxWhosePortDoesNotOpenTakesNoMoreUnits) {
  ProgramFolder folder;
  const QString job = MakeJob(folder, {});
  Store store;
  CliRun run;
  run.Start(QStringList{"run", "--job", job, "--port", "/nonexistent/kavrin-port", "--units", "3"} + store.Args());
  EXPECT_EQ(run.Finish(), 4);
  QStringList results;
  for (const QJsonObject &result : run.Of("result"))
    results << result.value("result").toString();
  EXPECT_EQ(results.join(QLatin1Char(',')).toStdString(), "port-unavailable");
}

TEST(CliRunJob, AListOfThreeForFiveUnitsEndsWithTheFourthRefused) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  ProgramFolder folder;
  folder.Write(QStringLiteral("list.txt"), "A-1\nA-2\nA-3\n");
  const QString job = MakeJob(folder, {"--serial-at", "7FF0", "--serial-list", folder.File(QStringLiteral("list.txt"))});
  Box box({});
  Store store;
  CliRun run;
  run.Start(QStringList{"run", "--job", job, "--port", box.Port(), "--fast-replies", "--units", "5"} + store.Args());
  EXPECT_EQ(run.Finish(), 1);
  QStringList results, serials, units;
  for (const QJsonObject &result : run.Of("result")) {
    results << result.value("result").toString();
    serials << result.value("serial").toString(QStringLiteral("null"));
    units << result.value("unit").toString();
  }
  EXPECT_EQ(results, (QStringList{"ok", "ok", "ok", "file-refused"}));
  EXPECT_EQ(serials, (QStringList{"A-1", "A-2", "A-3", "null"})) << "the refused unit carries no earlier number";
  EXPECT_EQ(QSet<QString>(units.begin(), units.end()).size(), 4) << "each result names its own unit";
  EXPECT_EQ(run.Of("result").back().value("reason").toString(),
            QStringLiteral("the serial-number pool \"motor board\" has no number left"));
  EXPECT_EQ(run.Of("result").back().value("attempt").toInt(), 1);
  EXPECT_TRUE(run.process.readAllStandardError().contains("3 of 4 units ok"));
}

// Two boxes reached by one port name from two folders, as on two PCs cloned
// with one host name: the second run under the live station's name is
// refused, naming it, and settles none of its units and draws none of its numbers.
TEST(CliRunJob, ASecondRunUnderALiveStationsNameIsRefusedAndTouchesNothingOfIt) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  ProgramFolder folder, pcs[2];
  const QString job = MakeJob(folder, {"--serial-at", "7FF0", "--serial-format", "dec:6", "--serial-block", "4"});
  Box boxes[] = {Box({"--think", "40", "--link", pcs[0].File(QStringLiteral("box")).toStdString()}),
                 Box({"--link", pcs[1].File(QStringLiteral("box")).toStdString()})};
  Store store;
  CliRun stations[2];
  for (int s = 0; s < 2; ++s)
    stations[s].process.setWorkingDirectory(pcs[s].Path());
  stations[0].Start(QStringList{"run", "--job", job, "--port", "./box", "--fast-replies", "--units", "3"} +
                    store.Args());
  const qint64 first = stations[0].process.processId();
  ASSERT_TRUE(stations[0].WaitFor([&] { return !stations[0].Of("progress").empty(); }, 20000));
  stations[1].Start(QStringList{"run", "--job", job, "--port", "./box", "--fast-replies", "--units", "2"} +
                    store.Args());
  EXPECT_EQ(stations[1].Finish(), 10) << "not recorded";
  EXPECT_EQ(stations[0].Finish(), 0);
  ASSERT_EQ(stations[1].Of("result").size(), 1u);
  EXPECT_TRUE(stations[1].Of("result")[0].value("reason").toString().startsWith(
      QStringLiteral("the station \"./box\" of %1 is run by process %2 there since ")
          .arg(QSysInfo::machineHostName())
          .arg(first)))
      << stations[1].Of("result")[0].value("reason").toString().toStdString();
  QStringList serials;
  for (const QJsonObject &result : stations[0].Of("result"))
    serials << result.value("result").toString() + ' ' + result.value("serial").toString();
  EXPECT_EQ(serials, (QStringList{"ok 000001", "ok 000002", "ok 000003"}));
  QString error;
  records::LotCounters lot;
  ASSERT_TRUE(records::CountLot(*records::ParseStoreUrl(store.url, &error), "motor board",
                                session::DefaultLot("motor board", QDate::currentDate()), &lot, &error));
  EXPECT_EQ(lot, (records::LotCounters{3, 0, 0}));
}

// Stations of a job with serial numbers killed (SIGKILL) at a step of a unit,
// then at random moments, each followed by the next run on the same store:
// after the last run ends, every unit has a verdict (a killed one
// interrupted), and every number drawn is on one passed board (used), on
// none (failed: a killed or failed board may carry it) or free, never given
// twice or left reserved or allocated.
void KillStationsAgainAndAgain(const QString &url, const ProgramFolder &data) {
  ProgramFolder folder;
  // The station's port keeps its name; the box behind it starts afresh after
  // each kill, as a box does that is switched off and on (replies it still
  // owed the killed station would be the next one's garbage).
  const QString port = folder.File(QStringLiteral("box"));
  std::unique_ptr<Box> box;
  const auto freshBox = [&] {
    box.reset();
    box = std::make_unique<Box>(std::vector<std::string>{"--think", "40", "--link", port.toStdString()});
  };
  freshBox();
  const QString job = MakeJob(folder, {"--verify", "--serial-at", "7FF0", "--serial-format", "dec:6",
                                       "--serial-block", "3"},
                              QStringLiteral("1000"));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_DATA_HOME"), data.Path()); // a PostgreSQL store's spool
  const QStringList args{"run", "--job", job, "--port", port, "--fast-replies", "--units", "3",
                         "--lot", "K", "--records", url, "--json"};
  // The box log's lines that show the step under way.
  const auto steps = [&] {
    std::vector<QString> kinds;
    for (const auto &r : boxsim_test::ReadLog(box->log))
      kinds.push_back(r.value("kind").toString() + r.value("n").toVariant().toString());
    return kinds;
  };
  struct Kill {
    const char *step; // the box log's line that the kill follows; empty: after `ms`
    int ms;
  };
  std::vector<Kill> kills = {{"set", 0}, {"block3", 0}, {"check", 0}};
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kRandomKills = 6; // a slower build: fewer, the same checks
#else
  constexpr int kRandomKills = 20;
#endif
  std::mt19937 random(20261208);
  for (int k = 0; k < kRandomKills; ++k)
    kills.push_back({"", int(random() % 1500)});
  for (const Kill &kill : kills) {
    SCOPED_TRACE(*kill.step ? kill.step : std::to_string(kill.ms).c_str());
    freshBox();
    const size_t seen = steps().size();
    QProcess station;
    station.setProcessEnvironment(env);
    station.start(BinPath(QStringLiteral("kavrin-cli")), args);
    ASSERT_TRUE(station.waitForStarted());
    if (*kill.step)
      ASSERT_TRUE(PumpUntil(
          [&] {
            const auto now = steps();
            return std::find(now.begin() + qsizetype(seen), now.end(), QLatin1String(kill.step)) != now.end();
          },
          20000))
          << station.readAllStandardError().toStdString() << station.readAllStandardOutput().toStdString();
    else
      station.waitForFinished(kill.ms);
    ::kill(pid_t(station.processId()), SIGKILL);
    station.waitForFinished();
  }
  freshBox();
  QProcess last;
  last.setProcessEnvironment(env);
  last.start(BinPath(QStringLiteral("kavrin-cli")), args);
  ASSERT_TRUE(last.waitForFinished(60000));
  EXPECT_EQ(last.exitCode(), 0) << last.readAllStandardError().toStdString();

  records::db::Connection c(*records::ParseStoreUrl(url, nullptr, data.File(QStringLiteral("check-spool"))),
                            records::db::Connection::Target::Store, "check");
  QString error;
  ASSERT_TRUE(c.Open(&error)) << error.toStdString();
  QSqlQuery q(c.Database());
  ASSERT_TRUE(q.exec(QStringLiteral("SELECT verdict, serial FROM units WHERE job_name = 'motor board'")));
  std::map<QString, int> verdicts;
  std::multiset<QString> passedSerials;
  while (q.next()) {
    ++verdicts[q.value(0).toString()];
    if (q.value(0).toString() == records::kVerdictPassed)
      passedSerials.insert(q.value(1).toString());
  }
  EXPECT_EQ(verdicts[QString()], 0) << "every unit decided once its station ran again";
  EXPECT_GE(verdicts[records::kVerdictInterrupted], 3) << "the units killed at a step";
  EXPECT_EQ(verdicts[records::kVerdictFailed], 0) << "a good box fails no unit";
  ASSERT_TRUE(q.exec(QStringLiteral("SELECT idx, state, value FROM serial_numbers ORDER BY idx")));
  std::multiset<QString> usedValues;
  qint64 expectedIdx = 0;
  while (q.next()) {
    EXPECT_EQ(q.value(0).toLongLong(), expectedIdx++) << "no number left out";
    const QString state = q.value(1).toString();
    EXPECT_TRUE(state == records::kNumberUsed || state == records::kNumberFailed || state == records::kNumberFree)
        << q.value(0).toLongLong() << " " << state.toStdString();
    if (state == records::kNumberUsed)
      usedValues.insert(q.value(2).toString());
  }
  EXPECT_EQ(usedValues, passedSerials) << "a used number for each passed board, each once";
  EXPECT_EQ(std::set<QString>(passedSerials.begin(), passedSerials.end()).size(), passedSerials.size());
  EXPECT_GE(passedSerials.size(), 3u) << "the last run's units";
}

TEST(CliRunJob, AStationKilledAnywhereLeavesEveryUnitDecidedAndEveryNumberOnceWithSqlite) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  ProgramFolder data;
  KillStationsAgainAndAgain(QStringLiteral("sqlite:") + data.File(QStringLiteral("records.sqlite")), data);
}

TEST(CliRunJob, AStationKilledAnywhereLeavesEveryUnitDecidedAndEveryNumberOnceWithPostgres) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  KAVRIN_NEED_POSTGRES();
  PostgresServer server;
  QString error;
  ASSERT_TRUE(server.Start(&error)) << error.toStdString();
  ASSERT_TRUE(server.CreateDatabase(QStringLiteral("kills"), &error)) << error.toStdString();
  ProgramFolder data;
  KillStationsAgainAndAgain(server.Url(QStringLiteral("kills")), data);
}

TEST(CliRunJob, RefusesWhatCannotRun) {
  struct Case {
    const char *name;
    QStringList args; // after the job file
    std::function<void(const ProgramFolder &)> spoil;
    int status;
    const char *says;
  };
  const std::vector<Case> cases = {
      {"no port anywhere", {}, nullptr, 2, "the job names no ports"},
      {"firmware changed",
       {QStringLiteral("--port"), QStringLiteral("/nonexistent/port")},
       [](const ProgramFolder &f) { f.Write(QStringLiteral("fw.hex"), ":00000001FF\n"); },
       3,
       "SHA-256"},
      {"timeout is the job's", {QStringLiteral("--timeout"), QStringLiteral("3")}, nullptr, 2, "--timeout"},
      {"a barcode job",
       {QStringLiteral("--port"), QStringLiteral("/nonexistent/port")},
       [](const ProgramFolder &f) {
         job::Job j = *job::OpenJob(f.File(QStringLiteral("j.kavjob")), {}).job;
         numbering::SerialPlan plan;
         plan.address = 0x7F00;
         plan.barcodePattern = QStringLiteral("SN\\d+");
         plan.overwrite = true;
         j.serial = plan;
         ASSERT_EQ(job::WriteJob(j, f.File(QStringLiteral("j.kavjob"))), QString());
       },
       2,
       "a barcode job runs in the window's production view, where the operator scans each unit"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder folder;
    const QString job = MakeJob(folder, {});
    if (c.spoil)
      c.spoil(folder);
    Store store;
    QProcess run;
    run.start(BinPath(QStringLiteral("kavrin-cli")),
              QStringList{QStringLiteral("run"), QStringLiteral("--job"), job} + c.args + store.Args());
    run.waitForFinished();
    EXPECT_EQ(run.exitCode(), c.status);
    EXPECT_TRUE(run.readAllStandardError().contains(c.says));
    EXPECT_FALSE(QFileInfo::exists(store.folder.File(QStringLiteral("records.sqlite"))));
  }
}

} // namespace

TEST(CliBoxes, ALoadWithASerialPlanGivesEachBoxItsOwnNumberInTheBlocksItChecks) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  Store store;
  std::vector<std::unique_ptr<Box>> boxes;
  for (int i = 0; i < 2; ++i)
    boxes.push_back(std::make_unique<Box>(std::vector<std::string>{}));
  const QStringList plan{"load",          "--file",   Fixture("joined.hex"), "--mode",          "online",
                         "--serial-at",   "7FF0",     "--serial-format",     "hex:6",           "--serial-prefix",
                         "SN",            "--serial-start", "255",           "--serial-pool",   "boards"};
  QStringList args = plan + store.Args();
  for (const auto &b : boxes)
    args << "--port" << b->Port();
  CliRun run;
  run.Start(args);
  ASSERT_EQ(run.Finish(), 0);
  std::set<QString> serials, checksums;
  for (const QJsonObject &result : run.Of("result")) {
    const QString serial = result.value("serial").toString();
    serials.insert(serial);
    checksums.insert(result.value("checksum").toString());
    const auto box = std::find_if(boxes.begin(), boxes.end(),
                                  [&](const auto &b) { return b->Port() == result.value("port").toString(); });
    ASSERT_NE(box, boxes.end());
    int blocks = 0;
    for (const auto &r : boxsim_test::ReadLog((*box)->log)) {
      if (r.value("kind").toString() != "block")
        continue;
      ++blocks;
      EXPECT_TRUE(r.value("ok").toBool()) << serial.toStdString();
      if (r.value("n").toInt() == 7) {
        EXPECT_EQ(QByteArray::fromHex(r.value("data").toString().toLatin1()).mid(0xFF0, 8), serial.toLatin1());
      }
    }
    EXPECT_EQ(blocks, 8);
    QString error;
    const auto rows = records::Query(*records::ParseStoreUrl(store.url, &error), {.serial = serial}, &error);
    ASSERT_EQ(rows.size(), 2u) << "the set and the load of " << serial.toStdString();
    EXPECT_EQ(rows[0].imageChecksum, result.value("checksum").toString());
  }
  EXPECT_EQ(serials, (std::set<QString>{"SN0000FF", "SN000100"}));
  EXPECT_EQ(checksums.size(), 2u) << "each box was told its own image's checksum";

  const struct {
    QStringList args;
    const char *error;
  } refused[] = {
      {{"--serial-at", "7FF0", "--serial-format", "le32", "--mode", "online"},
       "--serial-at requires --serial-pool"},
      {{"--serial-at", "7FF0", "--serial-format", "le32", "--serial-pool", "p"},
       "--serial-at: per-unit data needs a load that programs one chip: in offline mode with a count of 999999 the "
       "box would burn the same image, and so the same number, into every chip; give --mode online or --count 1"},
  };
  for (const auto &r : refused) {
    CliRun bad;
    bad.Start(QStringList{"load", "--file", Fixture("joined.hex"), "--port", boxes[0]->Port()} + r.args);
    EXPECT_EQ(bad.Finish(), 2) << r.error;
    EXPECT_TRUE(bad.process.readAllStandardError().contains(r.error)) << r.error;
  }
}

TEST(CliRunJob, EachUnitOfAJobWithASerialPlanCarriesTheNextNumber) {
  if (!HaveSimulator())
    GTEST_SKIP() << "no simulator";
  ProgramFolder folder;
  const QString job = MakeJob(folder, {"--serial-at", "7FF0", "--serial-format", "dec:4", "--serial-start", "7"});
  Box box({});
  Store store;
  CliRun run;
  run.Start(QStringList{"run", "--job", job, "--port", box.Port(), "--fast-replies", "--units", "2"} + store.Args());
  ASSERT_EQ(run.Finish(), 0);
  QStringList serials, written, checksums, received;
  for (const QJsonObject &result : run.Of("result")) {
    serials << result.value("serial").toString();
    checksums << result.value("checksum").toString();
  }
  // The image's checksum is the sum of its blocks' data, as the box received them.
  std::vector<uint32_t> sums;
  for (const auto &r : boxsim_test::ReadLog(box.log)) {
    if (r.value("kind").toString() != "block")
      continue;
    if (r.value("n").toInt() == 0)
      sums.push_back(0);
    sums.back() += uint32_t(r.value("sum").toInteger());
    if (r.value("n").toInt() == 7)
      written << QString::fromLatin1(QByteArray::fromHex(r.value("data").toString().toLatin1()).mid(0xFF0, 4));
  }
  for (const uint32_t sum : sums)
    received << image::CheckSumCaption(sum);
  EXPECT_EQ(serials, (QStringList{"0007", "0008"}));
  EXPECT_EQ(written, serials);
  EXPECT_EQ(checksums, received) << "each unit's result names its own image's checksum";
  EXPECT_TRUE(run.process.readAllStandardError().contains("2 of 2 units ok"));
  for (const auto &r : store.Rows())
    EXPECT_TRUE(serials.contains(r.serial)) << r.operation.toStdString();
}
