// The production view against four simulated boxes over real pseudo-terminals,
// driven by keys into the focused view (its operator named first) and read as
// assistive technology reads it: each tile's accessible description, the
// header's counters' text.
#include "e2e/ui/e2e_session.h"

#include "app/production/box_tile.h"
#include "app/production/production_window.h"
#include "job/job_file.h"
#include "records/database.h"
#include "support/typing.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace app;
using image::FirmwareFile;
using image::FirmwareFormat;
using image::ReadFirmware;
using serial::MakePlatformSerialLayer;

namespace {

QString Description(QWidget *widget) {
  return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
}
QString Name(QWidget *widget) { return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name); }

// A key pressed and released on whatever has the focus.
void PressKey(Qt::Key key) {
  QWidget *focused = QApplication::focusWidget();
  ASSERT_NE(focused, nullptr);
  QTest::keyClick(focused, key);
}

// Gives the view the operator it asks for first, into the field that has the focus.
void NameOperator() {
  TypeText(QApplication::focusWidget(), QStringLiteral("王芳"));
  PressKey(Qt::Key_Return);
}

TEST(ProductionViewAgainstBoxes, FourBoxesOneFailingThenItsDigitRunsItAlone) {
  ProgramFolder folder;
  // Box 3 refuses a block in its first load only.
  const std::vector<std::vector<std::string>> options = {{}, {}, {"--fail-at-block", "3", "--fail-times", "1"}, {}};
  std::vector<std::unique_ptr<boxsim_test::BoxSim>> sims;
  QStringList ports;
  for (size_t i = 0; i < options.size(); ++i) {
    std::vector<std::string> o = options[i];
    const QString link = folder.File(QStringLiteral("box%1").arg(i + 1));
    o.insert(o.end(), {"--link", link.toStdString(), "--exit-with-parent"});
    sims.push_back(std::make_unique<boxsim_test::BoxSim>(o));
    ASSERT_TRUE(sims.back()->Started()) << "box " << i + 1;
    ports << link;
  }

  folder.Write(QStringLiteral("firmware.hex"), QByteArray::fromStdString(e2e::IntelHex(e2e::RandomImage(7))));
  const FirmwareFile firmware = ReadFirmware(folder.File(QStringLiteral("firmware.hex")), FirmwareFormat::ByContent);
  job::Job made;
  made.name = QStringLiteral("Board A");
  made.firmware = QStringLiteral("firmware.hex");
  made.firmwareSha256 = firmware.sha256;
  made.imageChecksum = firmware.checksumCaption;
  made.mode = base::BoxMode::Online; // online: the box burns as the blocks arrive
  made.lotSize = 10;
  made.ports = ports;
  const QString jobPath = folder.File(QStringLiteral("board.kavjob"));
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());

  folder.Write(QStringLiteral("sysset.ini"),
               "[comx]\nnum=/nonexistent/kavrin-port\n[records]\nurl=off\n[ui]\nlanguage=zh\n"
               "[production]\nmute=1\n");
  e2e::TimedDialogs dialogs;
  Program program(dialogs, MakePlatformSerialLayer(), folder.Path());
  ASSERT_TRUE(program.Form1->OpenJob(jobPath)) << dialogs.Errors().join('\n').toStdString();
  ProductionWindow *view = program.Form1->Production();
  view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view));
  NameOperator();

  const auto descriptions = [&] {
    QStringList out;
    for (int box = 1; box <= 4; ++box)
      out << Description(view->Tile(box));
    return out;
  };
  const auto ended = [&] {
    return std::all_of(view->Run().Units().begin(), view->Run().Units().end(), [](const session::UnitStatus &u) {
      return u.state == session::UnitState::Pass || u.state == session::UnitState::Fail;
    });
  };
  EXPECT_EQ(Name(view->Tile(3)), QStringLiteral("Box 3"));
  EXPECT_EQ(descriptions(), QStringList({"READY", "READY", "READY", "READY"}));

  PressKey(Qt::Key_Space);
  ASSERT_TRUE(PumpUntil(ended, 60000)) << descriptions().join(" | ").toStdString();
  EXPECT_EQ(descriptions(), QStringList({"PASS", "PASS", "FAIL: 文 件 加 载 失 败", "PASS"}));
  EXPECT_TRUE(PumpUntil([&] { return Name(view->CountersLabel()).endsWith(QStringLiteral("3 / 1 / 10")); }))
      << Name(view->CountersLabel()).toStdString();

  // The digit starts box 3 alone; its box takes the load whole this time.
  const QString firstUnit = view->Run().Unit(1).unitUid;
  PressKey(Qt::Key_3);
  EXPECT_EQ(Description(view->Tile(3)).left(4), QStringLiteral("BUSY"));
  ASSERT_TRUE(PumpUntil(ended, 60000)) << descriptions().join(" | ").toStdString();
  EXPECT_EQ(descriptions(), QStringList({"PASS", "PASS", "PASS", "PASS"}));
  EXPECT_EQ(view->Run().Unit(1).unitUid, firstUnit);
  EXPECT_TRUE(PumpUntil([&] { return Name(view->CountersLabel()).endsWith(QStringLiteral("4 / 1 / 10")); }))
      << Name(view->CountersLabel()).toStdString();
  EXPECT_EQ(dialogs.Errors(), QStringList());
}

TEST(ProductionViewAgainstBoxes, AJobWithASerialPlanWritesEachUnitsNumberAndShowsIt) {
  ProgramFolder folder;
  const QString link = folder.File(QStringLiteral("box1"));
  const std::string log = folder.File(QStringLiteral("box.jsonl")).toStdString();
  boxsim_test::BoxSim sim({"--link", link.toStdString(), "--log", log, "--exit-with-parent"});
  ASSERT_TRUE(sim.Started());
  folder.Write(QStringLiteral("firmware.hex"), ":020000000102FB\n:00000001FF\n");
  const FirmwareFile firmware = ReadFirmware(folder.File(QStringLiteral("firmware.hex")), FirmwareFormat::ByContent);
  job::Job made;
  made.name = QStringLiteral("Board S");
  made.firmware = QStringLiteral("firmware.hex");
  made.firmwareSha256 = firmware.sha256;
  made.imageChecksum = firmware.checksumCaption;
  made.mode = base::BoxMode::Online;
  made.lotSize = 2;
  made.ports = {link};
  numbering::SerialPlan plan;
  plan.address = 0x7FF0;
  plan.format = numbering::SerialFormat::Decimal;
  plan.digits = 4;
  plan.prefix = QStringLiteral("SN");
  made.serial = plan;
  const QString jobPath = folder.File(QStringLiteral("board.kavjob"));
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());
  folder.Write(QStringLiteral("sysset.ini"), "[comx]\nnum=/nonexistent/kavrin-port\n[records]\nurl=sqlite:" +
                                                 folder.File(QStringLiteral("r.sqlite")).toUtf8() +
                                                 "\n[ui]\nlanguage=zh\n[production]\nmute=1\n");
  e2e::TimedDialogs dialogs;
  Program program(dialogs, MakePlatformSerialLayer(), folder.Path());
  ASSERT_TRUE(program.Form1->OpenJob(jobPath)) << dialogs.Errors().join('\n').toStdString();
  ProductionWindow *view = program.Form1->Production();
  view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view));
  NameOperator();
  for (const char *serial : {"SN0001", "SN0002"}) {
    PressKey(Qt::Key_Space);
    ASSERT_TRUE(PumpUntil([&] { return view->Run().Unit(1).state == session::UnitState::Pass; }, 60000))
        << Description(view->Tile(1)).toStdString();
    EXPECT_EQ(view->Run().Unit(1).serial, QLatin1String(serial));
  }
  // The lot is complete: the start key says so and starts nothing.
  ASSERT_TRUE(PumpUntil([&] { return Name(view->KeysLabel()) == QStringLiteral("批量已完成：2 / 2"); }))
      << Name(view->KeysLabel()).toStdString();
  const QString lastUnit = view->Run().Unit(1).unitUid;
  PressKey(Qt::Key_Space);
  EXPECT_EQ(view->statusBar()->currentMessage(), QStringLiteral("批量已完成：2 / 2"));
  EXPECT_EQ(view->Run().Unit(1).unitUid, lastUnit);
  QStringList written;
  for (const auto &r : boxsim_test::ReadLog(log))
    if (r.value("kind").toString() == "block" && r.value("n").toInt() == 7)
      written << QString::fromLatin1(QByteArray::fromHex(r.value("data").toString().toLatin1()).mid(0xFF0, 6));
  EXPECT_EQ(written, (QStringList{"SN0001", "SN0002"}));
  EXPECT_EQ(dialogs.Errors(), QStringList());
}

TEST(ProductionViewAgainstBoxes, AStoreThatRefusesAWriteStartsNoUnitUntilItTakesOneAgain) {
  ProgramFolder folder;
  const QString link = folder.File(QStringLiteral("box1"));
  const std::string log = folder.File(QStringLiteral("box.jsonl")).toStdString();
  boxsim_test::BoxSim sim({"--link", link.toStdString(), "--log", log, "--exit-with-parent"});
  ASSERT_TRUE(sim.Started());
  folder.Write(QStringLiteral("firmware.hex"), ":020000000102FB\n:00000001FF\n");
  const FirmwareFile firmware = ReadFirmware(folder.File(QStringLiteral("firmware.hex")), FirmwareFormat::ByContent);
  job::Job made;
  made.name = QStringLiteral("Board R");
  made.firmware = QStringLiteral("firmware.hex");
  made.firmwareSha256 = firmware.sha256;
  made.imageChecksum = firmware.checksumCaption;
  made.lotSize = 10;
  made.ports = {link};
  const QString jobPath = folder.File(QStringLiteral("board.kavjob"));
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());
  const QString store = folder.File(QStringLiteral("r.sqlite"));
  folder.Write(QStringLiteral("sysset.ini"), "[comx]\nnum=/nonexistent/kavrin-port\n[records]\nurl=sqlite:" +
                                                 store.toUtf8() + "\n[ui]\nlanguage=en\n[production]\nmute=1\n");
  e2e::TimedDialogs dialogs;
  Program program(dialogs, MakePlatformSerialLayer(), folder.Path());
  // The store refuses every unit it is asked to start, as a full disk would, with its reason.
  const auto exec = [&](const char *sql) {
    records::db::Connection c(*records::ParseStoreUrl(QStringLiteral("sqlite:") + store, nullptr),
                              records::db::Connection::Target::Store, "test");
    QString error;
    ASSERT_TRUE(c.Open(&error) && c.Exec(QLatin1String(sql), &error)) << error.toStdString();
  };
  exec("CREATE TRIGGER refuse BEFORE INSERT ON units BEGIN SELECT RAISE(ABORT, 'no room left (test)'); END");
  ASSERT_TRUE(program.Form1->OpenJob(jobPath)) << dialogs.Errors().join('\n').toStdString();
  ProductionWindow *view = program.Form1->Production();
  view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view));
  NameOperator();
  const QString startKeys = Name(view->KeysLabel());

  PressKey(Qt::Key_Space);
  ASSERT_TRUE(PumpUntil([&] { return view->Run().Unit(1).state == session::UnitState::NotRecorded; }, 20000))
      << Description(view->Tile(1)).toStdString();
  EXPECT_TRUE(Description(view->Tile(1)).startsWith(QStringLiteral("NOT RECORDED: Production records cannot be written")))
      << Description(view->Tile(1)).toStdString();
  EXPECT_TRUE(Description(view->Tile(1)).contains(QStringLiteral("no room left (test)")));
  EXPECT_TRUE(boxsim_test::ReadLog(log).empty()) << "the box is never touched for a unit the store did not take";
  EXPECT_TRUE(Name(view->KeysLabel()).startsWith(QStringLiteral("Production records cannot be written, so no box starts: ")))
      << Name(view->KeysLabel()).toStdString();
  const QString refusedUnit = view->Run().Unit(1).unitUid;
  PressKey(Qt::Key_Space);
  EXPECT_EQ(view->Run().Unit(1).unitUid, refusedUnit) << "no unit starts while the store refuses";

  // Room again: the run finds it out by itself, and the key starts the next unit.
  exec("DROP TRIGGER refuse");
  ASSERT_TRUE(PumpUntil([&] { return Name(view->KeysLabel()) == startKeys; }, 10000))
      << Name(view->KeysLabel()).toStdString();
  PressKey(Qt::Key_Space);
  ASSERT_TRUE(PumpUntil([&] { return view->Run().Unit(1).state == session::UnitState::Pass; }, 60000))
      << Description(view->Tile(1)).toStdString();
  EXPECT_EQ(dialogs.Errors(), QStringList());
}

} // namespace
