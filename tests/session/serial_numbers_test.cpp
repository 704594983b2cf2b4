// Serial numbers written into each unit's image: against the simulated box,
// each format lands at its address in the blocks the box receives, the box's
// block sums hold, the records carry the number, and the pool accounts for
// every number the station drew (a list of two has no more).
#include "job/job_file.h"
#include "records/query.h"
#include "records/recorder.h"
#include "records/serial_pool.h"
#include "serial/posix_serial.h"
#include "session/production_run.h"
#include "session/serial_numbers.h"
#include "support/test_helpers.h"
#include "tools/boxsim_process.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

struct Case {
  const char *name;
  const char *format; // empty: the list
  const char *prefix;
  uint64_t start, step;
  QByteArray first, second; // the bytes of units 1 and 2 at 7F00
  QString firstText;
};

} // namespace

TEST(SerialNumbersAgainstBox, EachFormatLandsAtItsAddressInTheBlocksTheBoxChecks) {
  if (access(boxsim_test::SimulatorPath().c_str(), X_OK) != 0)
    GTEST_SKIP() << "no simulator at " << boxsim_test::SimulatorPath();
  ProgramFolder folder;
  folder.Write(QStringLiteral("fw.hex"), ":020000000102FB\n:00000001FF\n");
  folder.Write(QStringLiteral("list.txt"), "A-1\nhex:00FF\n");
  const std::string log = folder.File(QStringLiteral("box.jsonl")).toStdString();
  boxsim_test::BoxSim sim({"--log", log, "--exit-with-parent"});
  ASSERT_TRUE(sim.Started());
  records::StoreLocation store;
  store.kind = records::StoreLocation::Kind::Sqlite;
  store.sqlitePath = folder.File(QStringLiteral("records.sqlite"));

  const Case cases[] = {
      {"le32", "le32", "", 0x01020304, 1, QByteArray::fromHex("04030201"), QByteArray::fromHex("05030201"),
       QStringLiteral("16909060")},
      {"be32", "be32", "", 7, 256, QByteArray::fromHex("00000007"), QByteArray::fromHex("00000107"),
       QStringLiteral("7")},
      {"dec", "dec:6", "SN", 99, 1, "SN000099", "SN000100", QStringLiteral("SN000099")},
      {"hex", "hex:4", "", 0xFFE, 1, "0FFE", "0FFF", QStringLiteral("0FFE")},
      {"list", "", "", 0, 1, "A-1", QByteArray::fromHex("00FF"), QStringLiteral("A-1")},
  };
  size_t logRead = 0;
  for (const Case &c : cases) {
    job::Job j;
    j.name = QStringLiteral("board ") + QLatin1String(c.name);
    j.firmware = QStringLiteral("fw.hex");
    const image::FirmwareFile firmware = image::ReadFirmware(folder.File(j.firmware));
    j.firmwareSha256 = firmware.sha256;
    j.imageChecksum = firmware.checksumCaption;
    j.mode = base::BoxMode::Online;
    j.count = QStringLiteral("1");
    j.lotSize = 10;
    numbering::SerialPlan plan;
    plan.address = 0x7F00;
    if (*c.format)
      ASSERT_TRUE(numbering::ParseFormat(QLatin1String(c.format), &plan.format, &plan.digits));
    else
      plan.listFile = QStringLiteral("list.txt");
    plan.prefix = QLatin1String(c.prefix);
    plan.start = c.start;
    plan.step = c.step;
    plan.blockSize = 3;
    j.serial = plan;
    const QString jobPath = folder.File(QLatin1String(c.name) + job::kSuffix);
    ASSERT_EQ(job::WriteJob(j, jobPath), QString());
    const job::OpenedJob opened = job::OpenJob(jobPath, {});
    ASSERT_EQ(opened.refusal, QString()) << c.name;

    std::vector<session::UnitStatus> ended;
    {
      records::Recorder recorder(store);
      session::RunOptions options;
      options.operatorName = QStringLiteral("bench");
      options.fastReplies = true;
      options.layer = serial::MakePlatformSerialLayer();
      session::SerialNumbers numbers(*opened.job->serial, opened.list, opened.firmware.ranges, j.name, &recorder,
                                     QStringLiteral("bench"));
      session::ProductionRun run(opened, {QString::fromStdString(sim.Device())}, base::SystemClock(), &recorder,
                                 options);
      run.SetUnitDataProvider(&numbers);
      QObject::connect(&run, &session::ProductionRun::UnitEnded,
                       [&](const session::UnitStatus &s) { ended.push_back(s); });
      for (size_t unit = 1; unit <= 2; ++unit) {
        ASSERT_TRUE(run.Start(1)) << c.name;
        ASSERT_TRUE(PumpUntil([&] { return ended.size() == unit; }, 30000)) << c.name;
        ASSERT_EQ(ended.back().state, session::UnitState::Pass)
            << c.name << ": " << ended.back().reason.Designed().toStdString();
      }
      EXPECT_EQ(ended[0].serial, c.firstText) << c.name;
      ASSERT_TRUE(recorder.WaitForwarded(10000));
    }

    // The box checked every block's sum, and block 7 (7000-7FFF) of each load carries the unit's bytes.
    const auto records = boxsim_test::ReadLog(log);
    std::vector<QByteArray> block7;
    for (size_t i = logRead; i < records.size(); ++i) {
      const QJsonObject &r = records[i];
      if (r.value("kind").toString() != QLatin1String("block"))
        continue;
      EXPECT_TRUE(r.value("ok").toBool()) << c.name << " block " << r.value("n").toInt();
      if (r.value("n").toInt() == 7)
        block7.push_back(QByteArray::fromHex(r.value("data").toString().toLatin1()));
    }
    logRead = records.size();
    ASSERT_EQ(block7.size(), 2u) << c.name;
    EXPECT_EQ(block7[0].mid(0xF00, c.first.size()), c.first) << c.name;
    EXPECT_EQ(block7[1].mid(0xF00, c.second.size()), c.second) << c.name;
    EXPECT_EQ(uint8_t(block7[0][0xF00 + c.first.size()]), 0) << c.name << ": nothing past the field";

    // Every record of unit 1 carries its number; the pool accounts for the block of 3.
    QString error;
    const auto rows = records::Query(store, {.job = j.name, .serial = c.firstText}, &error);
    ASSERT_FALSE(rows.empty()) << c.name << error.toStdString();
    for (const records::Record &r : rows)
      EXPECT_EQ(r.unitUid, ended[0].unitUid) << c.name;
    records::db::Connection db(store, records::db::Connection::Target::Store, "check");
    ASSERT_TRUE(db.Open(&error));
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT state FROM serial_numbers WHERE pool = '%1' ORDER BY idx").arg(j.name)));
    QStringList states;
    while (q.next())
      states << q.value(0).toString();
    // After two of its block of 3, the station had reserved the next block ahead, and gave it back.
    EXPECT_EQ(states.join(' ').toStdString(),
              c.format[0] ? "used used free free free free" : "used used")
        << c.name;
  }
}
