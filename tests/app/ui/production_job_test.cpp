// Jobs in the window without boxes: "Save job..." writes what opening reads
// back, a refused job keeps the designed window, the view's keys start the
// boxes they name (on ports that do not exist, so every unit ends at once),
// and the engineer PIN guards leaving the view and its settings.
#include "app/production/box_tile.h"
#include "app/production/production_window.h"
#include "app/production/verdict_sounds.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/form4.h"
#include "app/ui/pin_dialog.h"
#include "app/ui/program.h"
#include "job/job_file.h"
#include "job/pin.h"
#include "records/database.h"
#include "records/query.h"
#include "serial/pty_pair.h"
#include "serial/serial_layer.h"
#include "support/minisign_signer.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"
#include "support/typing.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>

using namespace app;
using image::FirmwareFile;
using image::FirmwareFormat;
using image::ReadFirmware;
using serial::MakePlatformSerialLayer;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QRect &r, std::ostream *os) { *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height(); }
QT_END_NAMESPACE

namespace {

const QString kFirmware = QStringLiteral("program.hex");

struct ProductionJob : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;
  std::optional<numbering::SerialPlan> serial; // the plan of the jobs WriteJob writes
  base::Clock *clock = nullptr;           // the program's, when not the system's

  void SetUp() override { Start(""); }

  // The program on its folder, its settings file ending in `settings`.
  void Start(const QByteArray &settings, const QByteArray &records = "off") {
    program.reset();
    dialogs.boxes.clear();
    dialogs.fileAnswers.clear();
    dialogs.saveAnswers.clear();
    dialogs.jobFileAnswers.clear();
    dialogs.jobDetailsAnswers.clear();
    dialogs.pinAnswers.clear();
    dialogs.pinPrompts.clear();
    dialogs.pinWaitsMs.clear();
    QDir(folder.File(QStringLiteral("trusted-keys"))).removeRecursively();
    folder.Write("sysset.ini", "[comx]\nnum=/nonexistent/kavrin-port\n[records]\nurl=" + records + "\n" + settings);
    QFile::copy(SourcePath("tests/image/fixtures/program.hex"), folder.File(kFirmware));
    program = std::make_unique<Program>(dialogs, MakePlatformSerialLayer(), folder.Path(),
                                        clock ? *clock : base::SystemClock());
    form1 = program->Form1.get();
  }

  // A job on the folder's firmware and four ports that do not exist.
  QString WriteJob(const QString &pin = {}, const QStringList &ports = {"/nonexistent/a", "/nonexistent/b",
                                                                        "/nonexistent/c", "/nonexistent/d"},
                   const std::optional<numbering::SerialPlan> &plan = std::nullopt) {
    const FirmwareFile firmware = ReadFirmware(folder.File(kFirmware), FirmwareFormat::ByContent);
    job::Job made;
    made.name = QStringLiteral("Board A");
    made.firmware = kFirmware;
    made.firmwareSha256 = firmware.sha256;
    made.imageChecksum = firmware.checksumCaption;
    made.lotSize = 10;
    made.ports = ports;
    made.serial = plan ? plan : serial;
    if (made.serial)
      made.mode = base::BoxMode::Online; // online: each unit's own image
    if (!pin.isEmpty()) {
      QString error;
      QByteArray bytes = pin.toUtf8();
      made.pinHash = job::HashPin(bytes, &error);
    }
    const QString path = folder.File(QStringLiteral("board.kavjob"));
    EXPECT_EQ(job::WriteJob(made, path), QString());
    return path;
  }

  ProductionWindow *OpenView(const QString &pin = {}) {
    EXPECT_TRUE(form1->OpenJob(WriteJob(pin))) << dialogs.Errors().join('\n').toStdString();
    return form1->Production();
  }

  // Names the operator as the view asks: typed into its field, then Enter.
  static void NameOperator(ProductionWindow *view, const QString &name = QStringLiteral("王芳")) {
    TypeText(view->OperatorField(), name);
    QTest::keyClick(view->OperatorField(), Qt::Key_Return);
    ASSERT_EQ(view->Run().Operator(), name);
  }

  static QString Description(QWidget *tile) {
    return QAccessible::queryAccessibleInterface(tile)->text(QAccessible::Description);
  }
};

TEST_F(ProductionJob, SavedJobOpensWithTheWindowsSettings) {
  dialogs.fileAnswers.push_back(ChosenFile(folder.File(kFirmware)));
  form1->Button2->click();
  form1->Edit5->setText(QStringLiteral("25"));
  form1->CheckBox(3)->setChecked(false);
  form1->RadioGroup1->Button(0)->click(); // online
  form1->RadioGroup2->Button(1)->click(); // no output
  dialogs.jobDetailsAnswers.push_back(JobDetails{QStringLiteral("Board A"), 2, 50, "2468"});
  dialogs.saveAnswers.push_back(folder.File(QStringLiteral("saved")));
  form1->SaveJobAction->trigger();
  ASSERT_EQ(dialogs.Errors(), QStringList());

  const job::OpenedJob opened = job::OpenJob(folder.File(QStringLiteral("saved.kavjob")), {});
  ASSERT_TRUE(opened.job) << opened.refusal.toStdString();
  const job::Job &j = *opened.job;
  EXPECT_EQ(j.name, QStringLiteral("Board A"));
  EXPECT_EQ(j.firmware, kFirmware); // beside the job, so the pair can move together
  EXPECT_EQ(j.count, QStringLiteral("25"));
  EXPECT_EQ(j.sectorMask, 0xFFFFFFFBu);
  EXPECT_EQ(j.mode, base::BoxMode::Online);
  EXPECT_EQ(j.supply, base::BoxSupply::NoOutput);
  EXPECT_EQ(j.retries, 2);
  EXPECT_EQ(j.lotSize, 50);
  QByteArray pin("2468");
  EXPECT_TRUE(job::PinMatches(j.pinHash, pin));
  EXPECT_FALSE(opened.firmware.sha256.isEmpty());
}

TEST_F(ProductionJob, SaveJobRefusesWhatAJobCannotHold) {
  struct Row {
    bool load;
    JobDetails details;
    QString shown; // the start of the message or error shown
  } rows[] = {
      {false, {QStringLiteral("A"), 0, 1, {}}, QStringLiteral("Load the firmware file first")},
      {true, {QStringLiteral(" "), 0, 1, {}}, QStringLiteral("The job's name must be")},
      {true, {QStringLiteral("A"), 0, 1, "12"}, job::PinRefusal("12")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.shown.toStdString());
    Start("");
    if (row.load) {
      dialogs.fileAnswers.push_back(ChosenFile(folder.File(kFirmware)));
      form1->Button2->click();
      dialogs.boxes.clear();
    }
    dialogs.jobDetailsAnswers.push_back(row.details);
    dialogs.saveAnswers.push_back(folder.File(QStringLiteral("refused.kavjob")));
    form1->SaveJobAction->trigger();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(row.shown)) << dialogs.boxes[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(folder.File(QStringLiteral("refused.kavjob"))));
  }
}

TEST_F(ProductionJob, ARefusedJobIsShownWithItsReasonAndTheWindowStays) {
  struct Row {
    const char *name;
    std::function<QString()> make; // the job file's path
    QString reason;                // empty: the reason OpenJob gives
  } rows[] = {
      {"changed firmware",
       [&] {
         const QString path = WriteJob();
         folder.Write(kFirmware, folder.Read(kFirmware) + ":00000001FF\r\n");
         return path;
       },
       {}},
      {"no port", [&] { return WriteJob({}, {}); }, QStringLiteral("needs 1 to 16 ports, got 0.")},
      {"a key trusted, the job not signed",
       [&] {
         QDir(folder.Path()).mkpath(QStringLiteral("trusted-keys"));
         folder.Write(QStringLiteral("trusted-keys/engineer.pub"), TestSigner().PublicKeyFile());
         return WriteJob();
       },
       QStringLiteral("The job board.kavjob cannot be opened: not signed: there is no signature file \"%1\", and "
                      "with a trusted key installed in \"%2\" every job must be signed by one; ask the engineer for "
                      "the job's .minisig signature file and copy it beside the job")
           .arg(folder.File(QStringLiteral("board.kavjob.minisig")), folder.Path() + "trusted-keys/")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Start("");
    const QString path = row.make();
    dialogs.jobFileAnswers.push_back(path);
    form1->OpenJobAction->trigger();
    ASSERT_EQ(dialogs.Errors().size(), 1);
    const QString expected =
        row.reason.isEmpty() ? job::OpenJob(path, folder.File(QStringLiteral("trusted-keys"))).refusal : row.reason;
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_TRUE(dialogs.Errors()[0].endsWith(expected)) << dialogs.Errors()[0].toStdString();
    EXPECT_EQ(form1->Production(), nullptr);
  }
}

TEST_F(ProductionJob, TheHeaderNamesWhoReleasedTheJob) {
  const TestSigner engineer;
  const struct Row {
    bool trusted;
    QString shown;
  } rows[] = {
      {false, QStringLiteral("签名：无（未安装受信任的密钥）")},
      {true, QStringLiteral("放行：released by Li Wei for lot 7 (key %1)").arg(engineer.KeyIdText())},
  };
  for (const Row &row : rows) {
    Start("");
    const QString path = WriteJob();
    if (row.trusted) {
      QDir(folder.Path()).mkpath(QStringLiteral("trusted-keys"));
      folder.Write(QStringLiteral("trusted-keys/engineer.pub"), engineer.PublicKeyFile());
      folder.Write(
          QStringLiteral("board.kavjob.minisig"),
          engineer.SignatureFile(folder.Read(QStringLiteral("board.kavjob")), "released by Li Wei\tfor lot 7"));
    }
    ASSERT_TRUE(form1->OpenJob(path)) << dialogs.Errors().join('\n').toStdString();
    QLabel *header = form1->Production()->ReleaseLabel();
    EXPECT_EQ(header->text(), row.shown);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(header)->text(QAccessible::Description), row.shown);
  }
}

TEST_F(ProductionJob, KeysOnTheViewStartTheBoxesTheyName) {
  struct Key {
    Qt::Key key;
    const char *text;
    bool autoRepeat = false;
  };
  struct Row {
    const char *settings;
    std::vector<Key> keys;
    std::vector<int> started;
  } rows[] = {
      {"", {{Qt::Key_Space, " "}}, {1, 2, 3, 4}},
      {"", {{Qt::Key_2, "2"}}, {2}},
      {"", {{Qt::Key_F3, ""}}, {3}},
      {"", {{Qt::Key_1, "1", true}}, {}}, // a pedal held down
      {"", {{Qt::Key_9, "9"}, {Qt::Key_F10, ""}}, {}},
      {"[production]\nstart_key=F13\n", {{Qt::Key_Space, " "}}, {}},
      {"[production]\nstart_key=F13\n", {{Qt::Key_F13, ""}}, {1, 2, 3, 4}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(::testing::Message() << row.settings << " key " << row.keys[0].key);
    Start(row.settings);
    ProductionWindow *view = OpenView();
    ASSERT_NE(view, nullptr);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view));
    NameOperator(view);
    QWidget *focused = QApplication::focusWidget();
    ASSERT_EQ(focused, view->View());
    for (const Key &k : row.keys) {
      QKeyEvent press(QEvent::KeyPress, k.key, Qt::NoModifier, QString::fromLatin1(k.text), k.autoRepeat);
      QApplication::sendEvent(focused, &press);
      QKeyEvent release(QEvent::KeyRelease, k.key, Qt::NoModifier, QString::fromLatin1(k.text), k.autoRepeat);
      QApplication::sendEvent(focused, &release);
    }
    std::vector<int> started;
    for (int box = 1; box <= 4; ++box)
      if (!view->Tile(box)->Status().unitUid.isEmpty())
        started.push_back(box);
    EXPECT_EQ(started, row.started);
    // A port that does not open fails its unit, and the tile says why.
    for (int box : started)
      EXPECT_TRUE(PumpUntil([&] { return Description(view->Tile(box)).startsWith(QStringLiteral("FAIL: ")); }))
          << Description(view->Tile(box)).toStdString();
  }
}

// The view asks who operates before its first unit, in a field that keeps
// the focus until a name or badge is given, and again after Ctrl+O; the keys
// start nothing meanwhile, nothing typed moves the layout, and each unit's
// record names the operator it started with and the job it ran.
TEST_F(ProductionJob, TheViewAsksWhoOperatesBeforeItsFirstUnitAndAgainOnAChange) {
  const QString url = QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite"));
  Start("", url.toUtf8());
  ProductionWindow *view = OpenView();
  ASSERT_NE(view, nullptr);
  view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view));
  QLineEdit *field = view->OperatorField();
  EXPECT_EQ(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name), QStringLiteral("Operator"));
  const auto layout = [&] {
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    // What typing could move; the counters move with the line naming the keys as an operator is named.
    std::vector<QRect> at = {view->geometry(), field->geometry(), view->OperatorStatus()->geometry()};
    for (int box = 1; box <= 4; ++box)
      at.push_back(view->Tile(box)->geometry());
    return at;
  };
  const std::vector<QRect> before = layout();
  const auto recordsOf = [&](const QString &name) {
    QString error;
    return records::Query(*records::ParseStoreUrl(url, nullptr), {.operatorName = name}, &error);
  };
  enum class Then { Enter, StartKey, BoxKey, ChangeKey };
  const QString wang = QStringLiteral("王芳 #0417"), li = QStringLiteral("li.wei");
  const struct Step {
    const char *what;
    QString typed; // into the focused widget, before the key
    Then then;
    QString named;  // the operator after it
    QString status; // beside the field
    size_t wangs, lis; // records of each
  } steps[] = {
      {"the start key types into the field", {}, Then::StartKey, {}, {}, 0, 0},
      {"blanks name no one", QStringLiteral("  "), Then::Enter, {}, "请输入姓名或扫描工牌，再按 Enter。", 0, 0},
      {"a badge too long", QString(129, u'7'), Then::Enter, {}, "姓名或工牌长 129 个字符，超过 128 个，未采用。", 0, 0},
      {"too many characters beyond 16 bits", QStringLiteral("\U0001F600").repeated(129), Then::Enter, {},
       "姓名或工牌长 129 个字符，超过 128 个，未采用。", 0, 0},
      {"a name that a format character reverses", QStringLiteral("li\u202Eiew"), Then::Enter, {},
       "姓名或工牌含有控制字符或格式字符，未采用。", 0, 0},
      {"a name", wang, Then::Enter, wang, {}, 0, 0},
      {"the start key starts every box", {}, Then::StartKey, wang, {}, 4, 0},
      {"a change asks again", {}, Then::ChangeKey, {}, {}, 4, 0},
      {"nothing starts meanwhile", {}, Then::BoxKey, {}, {}, 4, 0},
      {"the next operator", li, Then::Enter, li, {}, 4, 0},
      {"their units", {}, Then::StartKey, li, {}, 4, 4},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    QWidget *focused = QApplication::focusWidget();
    TypeText(focused, step.typed);
    if (step.then == Then::ChangeKey)
      QTest::keyClick(focused, Qt::Key_O, Qt::ControlModifier);
    else
      QTest::keyClick(focused, step.then == Then::Enter    ? Qt::Key_Return
                               : step.then == Then::BoxKey ? Qt::Key_F1
                                                           : Qt::Key_Space);
    EXPECT_EQ(view->Run().Operator(), step.named);
    EXPECT_EQ(view->OperatorStatus()->text(), step.status);
    EXPECT_EQ(layout(), before);
    const bool asking = step.named.isEmpty();
    EXPECT_EQ(QApplication::focusWidget(), asking ? static_cast<QWidget *>(field) : view->View());
    EXPECT_EQ(field->isReadOnly(), !asking);
    if (!asking) {
      EXPECT_EQ(field->text(), step.named);
    }
    EXPECT_EQ(view->KeysLabel()->text() == QStringLiteral("请先输入操作员：姓名或扫描工牌，按 Enter"), asking);
    EXPECT_EQ(field->accessibleDescription(),
              asking ? QStringLiteral("未输入操作员") : QStringLiteral("操作员：") + step.named);
    // Each unit fails at once on its missing port, its one record written, and then ends.
    EXPECT_TRUE(PumpUntil([&] {
      return recordsOf(wang).size() == step.wangs && recordsOf(li).size() == step.lis && !view->Run().Busy();
    }))
        << recordsOf(wang).size() << " " << recordsOf(li).size();
  }
  const QString jobSha = QString::fromLatin1(
      QCryptographicHash::hash(folder.Read(QStringLiteral("board.kavjob")), QCryptographicHash::Sha256).toHex());
  for (const records::Record &r : recordsOf(li)) {
    EXPECT_EQ(r.jobSha256, jobSha);
    EXPECT_EQ(r.jobRelease, QString()) << "no trusted key asked for a release";
  }
}

TEST_F(ProductionJob, AScannedBarcodeStartsTheNextReadyBoxWithIt) {
  struct Scan {
    const char *code;
    Qt::Key end = Qt::Key_Return;
  };
  struct Row {
    std::vector<Scan> scans;
    std::vector<QString> serials; // by box; empty: not started
    QStringList status;           // what the line under the field names
  };
  // Longer than the field takes, at its limit, and one a scanner gone wrong might send.
  static const std::string longest(128, '9'), tooLong = "SN-" + std::string(126, '0'), huge(5000, 'Z');
  const Row rows[] = {
      {{{longest.c_str()}}, {"", "", "", ""}, {QString::fromStdString(longest), "SN[- ]\\d{4}"}},
      {{{tooLong.c_str()}}, {"", "", "", ""}, {"条码长 129 个字符，超过 128 个，未启动。"}},
      {{{huge.c_str()}}, {"", "", "", ""}, {"条码长 5000 个字符，超过 128 个，未启动。"}},
      {{{"SN-0042"}}, {"SN-0042", "", "", ""}, {"SN-0042"}},
      {{{"XY-0042"}}, {"", "", "", ""}, {"XY-0042", "SN[- ]\\d{4}"}},
      {{{"SN-0001"}, {"SN-0002"}}, {"SN-0001", "SN-0002", "", ""}, {"SN-0002"}},
      // Space and digits are the code's own, not the start keys.
      {{{"SN 0007"}}, {"SN 0007", "", "", ""}, {"SN 0007"}},
      {{{"SN-0003", Qt::Key_F3}}, {"", "", "SN-0003", ""}, {"SN-0003"}},
      {{{"SN-0001"}, {"SN-0002"}, {"SN-0003"}, {"SN-0004"}, {"SN-0005"}},
       {"SN-0001", "SN-0002", "SN-0003", "SN-0004"},
       {"SN-0005"}},
  };
  numbering::SerialPlan plan;
  plan.address = 0x7F00;
  plan.barcodePattern = QStringLiteral("SN[- ]\\d{4}");
  plan.overwrite = true;
  serial = plan;
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.scans.back().code).substr(0, 24));
    Start("");
    // Boxes that never answer: a started unit stays busy while the test looks.
    PtyPair silent[4];
    QStringList ports;
    for (const PtyPair &box : silent)
      ports << box.SlavePath();
    ASSERT_TRUE(form1->OpenJob(WriteJob({}, ports))) << dialogs.Errors().join('\n').toStdString();
    ProductionWindow *view = form1->Production();
    ASSERT_NE(view, nullptr);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view));
    NameOperator(view);
    QWidget *field = QApplication::focusWidget();
    ASSERT_EQ(field, view->BarcodeField());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name), QStringLiteral("Barcode"));
    // Nothing typed or scanned moves anything: the window, the counters, the field, the tiles.
    const auto layout = [&] {
      QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
      std::vector<QRect> at = {view->geometry(), view->CountersLabel()->geometry(), field->geometry()};
      for (int box = 1; box <= 4; ++box)
        at.push_back(view->Tile(box)->geometry());
      return at;
    };
    const std::vector<QRect> before = layout();
    for (const Scan &scan : row.scans) {
      QTest::keyClicks(field, QString::fromLatin1(scan.code));
      EXPECT_EQ(layout(), before) << "while typing";
      QTest::keyClick(field, scan.end);
      EXPECT_EQ(view->BarcodeField()->text(), QString());
    }
    EXPECT_EQ(layout(), before);
    for (int box = 1; box <= 4; ++box) {
      const QString &code = row.serials[size_t(box - 1)];
      if (code.isEmpty())
        EXPECT_EQ(Description(view->Tile(box)), QStringLiteral("READY")) << box;
      else
        EXPECT_TRUE(PumpUntil([&] { return Description(view->Tile(box)).endsWith(QLatin1Char('\n') + code); }))
            << box << ": " << Description(view->Tile(box)).toStdString();
    }
    for (const QString &part : row.status)
      EXPECT_TRUE(view->BarcodeStatus()->text().contains(part)) << view->BarcodeStatus()->text().toStdString();
    // The line may be too narrow for it: the whole text is read out and in the tooltip.
    EXPECT_EQ(view->BarcodeStatus()->accessibleDescription(), view->BarcodeStatus()->text());
    EXPECT_EQ(view->BarcodeStatus()->toolTip(), view->BarcodeStatus()->text());
    EXPECT_EQ(QApplication::focusWidget(), field);
    program.reset(); // before the ports go
  }
}

TEST_F(ProductionJob, ATilesFileBufferViewMarksTheNumberWrittenIntoItsLastUnit) {
  struct Row {
    const char *name;
    std::optional<numbering::SerialPlan> plan;
    QString description;
    QStringList cells; // the marked cells' text, line by line
  };
  const auto plan = [](uint32_t address, numbering::SerialFormat format, int digits, const char *prefix, uint64_t start) {
    numbering::SerialPlan p;
    p.address = address;
    p.format = format;
    p.digits = digits;
    p.prefix = QString::fromLatin1(prefix);
    p.start = start;
    p.pool = p.prefix + QString::number(address); // a pool of each row's own
    p.overwrite = true;
    return p;
  };
  const Row rows[] = {
      {"le32", plan(0x7F00, numbering::SerialFormat::Le32, 0, "", 0x01020304), QStringLiteral("serial number: 7F00-7F03"),
       {QStringLiteral("04 03 02 01")}},
      {"across two lines", plan(0x7FEE, numbering::SerialFormat::Decimal, 4, "SN", 7),
       QStringLiteral("serial number: 7FEE-7FF3"), {QStringLiteral("53 4E"), QStringLiteral("30 30 30 37")}},
      {"no plan", std::nullopt, {}, {}},
  };
  // A box that takes the port and never answers.
  const int silent = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(silent, 0);
  ASSERT_EQ(grantpt(silent), 0);
  ASSERT_EQ(unlockpt(silent), 0);
  const QString port = QString::fromLocal8Bit(ptsname(silent));
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Start("", "sqlite:" + folder.File(QStringLiteral("records.sqlite")).toUtf8());
    ASSERT_TRUE(form1->OpenJob(WriteJob({}, {port}, row.plan))) << dialogs.Errors().join('\n').toStdString();
    ProductionWindow *view = form1->Production();
    ASSERT_NE(view, nullptr);
    BoxTile *tile = view->Tile(1);
    if (!row.plan) {
      EXPECT_TRUE(tile->actions().isEmpty()) << "the designed view has no file buffer of a unit";
      continue;
    }
    NameOperator(view);
    ASSERT_TRUE(view->Run().Start(1));
    // The unit opens its port, draws its number and starts; stopped while the box is silent.
    ASSERT_TRUE(PumpUntil([&] { return view->Run().Unit(1).attempt == 1; })) << Description(tile).toStdString();
    view->Run().Stop();
    ASSERT_TRUE(PumpUntil([&] { return Description(tile).startsWith(QStringLiteral("READY")); }))
        << Description(tile).toStdString();
    ASSERT_EQ(tile->actions().size(), 1);
    tile->actions().front()->trigger();
    TForm4 *shown = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *form = qobject_cast<TForm4 *>(w); form && form != program->Form4.get() && form->isVisible())
        shown = form;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->Memo1->accessibleDescription(), row.description);
    EXPECT_EQ(shown->Memo1->toolTip(), row.description);
    QStringList cells;
    for (const QTextEdit::ExtraSelection &mark : shown->Memo1->extraSelections())
      cells << mark.cursor.selectedText();
    EXPECT_EQ(cells, row.cells);
    shown->close();
  }
  close(silent);
}

TEST_F(ProductionJob, ThePinGuardsLeavingAndTheSettings) {
  enum class Ask { Leave, Mute };
  struct Row {
    Ask ask;
    QString pin; // the job's; empty: none
    std::optional<QByteArray> answer;
    bool done;
  } rows[] = {
      {Ask::Leave, QStringLiteral("2468"), std::nullopt, false},
      {Ask::Leave, QStringLiteral("2468"), QByteArray("1357"), false},
      {Ask::Leave, QStringLiteral("2468"), QByteArray("2468"), true},
      {Ask::Leave, {}, std::nullopt, true},
      {Ask::Mute, QStringLiteral("2468"), QByteArray("1357"), false},
      {Ask::Mute, QStringLiteral("2468"), QByteArray("2468"), true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(::testing::Message() << int(row.ask) << " " << row.pin.toStdString() << " "
                                      << row.answer.value_or("(cancel)").toStdString());
    Start("");
    ProductionWindow *view = OpenView(row.pin);
    ASSERT_NE(view, nullptr);
    dialogs.pinAnswers.push_back(row.answer);
    if (row.ask == Ask::Leave) {
      // The main window comes back before the view goes: the program has a window throughout.
      QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
      view->close();
      EXPECT_EQ(form1->Production() == nullptr, row.done);
      EXPECT_EQ(form1->isVisible(), row.done);
      EXPECT_EQ(lastClosed.count(), 0);
    } else {
      view->MuteAction->trigger();
      EXPECT_EQ(view->Sounds().Muted(), row.done);
      EXPECT_EQ(view->MuteAction->isChecked(), row.done);
      EXPECT_EQ(folder.Read("sysset.ini").contains("mute=1"), row.done);
    }
    EXPECT_EQ(dialogs.pinPrompts.size(), row.pin.isEmpty() ? 0 : 1);
    const bool wrong = row.answer && !row.pin.isEmpty() && !row.done;
    EXPECT_EQ(dialogs.Errors().size(), wrong ? 1 : 0);
  }
}

// Wrong PINs make the next try wait, from the third on 1, 2, 4 … at most 60 s
// on the view's clock; a PIN given before its wait is not tried; the right one
// starts over. Each wrong try is logged with its time, never with the PIN.
QStringList loggedPins;
void KeepPinLines(QtMsgType, const QMessageLogContext &, const QString &message) {
  if (message.contains(QLatin1String("engineer PIN")))
    loggedPins << message;
}

TEST_F(ProductionJob, WrongPinsMakeTheNextTryWaitLongerAndAreLogged) {
  base::ManualClock manual;
  clock = &manual;
  Start("");
  ProductionWindow *view = OpenView(QStringLiteral("2468"));
  ASSERT_NE(view, nullptr);
  const struct Try {
    int64_t afterMs;    // the clock moves this much before the try
    const char *pin;
    int64_t shownMs;    // the countdown the dialog begins with
    int loggedWaitS;    // -1: the PIN is not tried, or is right
  } tries[] = {
      {0, "1357", 0, 0},        {0, "1357", 0, 0},         {0, "1357", 0, 1},
      {400, "2468", 600, -1},   // too early: not tried, though right
      {600, "1357", 0, 2},      {2000, "1357", 0, 4},      {4000, "1357", 0, 8},
      {8000, "1357", 0, 16},    {16000, "1357", 0, 32},    {32000, "1357", 0, 60},
      {59999, "1357", 1, -1},   {1, "1357", 0, 60},        {60000, "2468", 0, -1},
      {0, "1357", 0, 0}, // the right PIN started over
  };
  loggedPins.clear();
  struct Handler {
    QtMessageHandler before = qInstallMessageHandler(KeepPinLines);
    ~Handler() { qInstallMessageHandler(before); }
  } handler;
  int wrong = 0, logged = 0;
  for (const Try &t : tries) {
    SCOPED_TRACE(::testing::Message() << "try " << dialogs.pinWaitsMs.size() + 1);
    manual.Advance(t.afterMs);
    dialogs.boxes.clear();
    dialogs.pinAnswers.push_back(QByteArray(t.pin));
    const bool muted = view->Sounds().Muted();
    view->MuteAction->trigger();
    EXPECT_EQ(dialogs.pinWaitsMs.back(), t.shownMs);
    const bool right = t.loggedWaitS < 0 && t.shownMs == 0;
    EXPECT_EQ(view->Sounds().Muted(), right ? !muted : muted);
    if (t.shownMs > 0) {
      EXPECT_EQ(dialogs.Errors(), QStringList{QStringLiteral("请等待 1 秒后再试。")});
    }
    if (right)
      wrong = 0;
    if (t.loggedWaitS < 0)
      continue;
    ++wrong;
    ASSERT_EQ(loggedPins.size(), ++logged);
    static const QRegularExpression line(QStringLiteral(
        R"(\Akavrin-programmer: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z: a wrong engineer PIN for the job "Board A", )"
        R"((\d+) in a row; the next try waits (\d+) s\z)"));
    const QRegularExpressionMatch m = line.match(loggedPins.back());
    ASSERT_TRUE(m.hasMatch()) << loggedPins.back().toStdString();
    EXPECT_EQ(m.captured(1).toInt(), wrong);
    EXPECT_EQ(m.captured(2).toInt(), t.loggedWaitS);
  }
  EXPECT_FALSE(loggedPins.join('\n').contains(QLatin1String("1357")));
}

// The dialog's countdown runs on the clock it is given: OK and Enter do
// nothing until it has run out, then the typed PIN is given.
// The program ended by SIGTERM, as a PC shutting down ends it, ends as a
// closed window does: what its production view held in the store goes back
// (its station's name; the numbers it reserved go the same way).
TEST_F(ProductionJob, SigtermEndsTheProgramAsClosingItsWindowDoes) {
  serial = numbering::SerialPlan{};
  serial->address = 0x7FF0;
  const QString job = WriteJob();
  // The default store of this user: the program's folder holds no settings file.
  const QString store = folder.File(QStringLiteral("data/kavrin-programmer/records.sqlite"));
  QProcess window;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_DATA_HOME"), folder.File(QStringLiteral("data")));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  window.setProcessEnvironment(env);
  window.start(BinPath(QStringLiteral("kavrin-programmer")), {QStringLiteral("--job"), job});
  ASSERT_TRUE(window.waitForStarted());
  const auto leases = [&] {
    records::StoreLocation where;
    where.kind = records::StoreLocation::Kind::Sqlite;
    where.sqlitePath = store;
    records::db::Connection c(where, records::db::Connection::Target::Store, "check");
    c.ReadOnly();
    QString error;
    QSqlQuery q;
    return c.Open(&error) &&
                   records::db::Run(c, QStringLiteral("SELECT COUNT(*) FROM station_leases"), {}, &error, &q) &&
                   q.next()
               ? q.value(0).toInt()
               : -1;
  };
  ASSERT_TRUE(PumpUntil([&] { return leases() == 1; }, 20000)) << window.readAllStandardError().toStdString();
  ::kill(pid_t(window.processId()), SIGTERM);
  ASSERT_TRUE(window.waitForFinished(20000));
  EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(leases(), 0);
}

TEST(PinDialogTest, TheCountdownHoldsThePinBackUntilItRunsOut) {
  base::ManualClock clock;
  PinDialog dialog(nullptr, QStringLiteral("工程师密码："), clock, clock.NowMs() + 1500);
  QSignalSpy accepted(&dialog, &QDialog::accepted);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  ASSERT_EQ(QApplication::focusWidget(), dialog.Field());
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("2468"));
  const struct {
    int64_t afterMs;
    QString countdown; // empty: none, OK usable
  } steps[] = {{0, QStringLiteral("请等待 2 秒后再试。")},
               {499, QStringLiteral("请等待 2 秒后再试。")},
               {1, QStringLiteral("请等待 1 秒后再试。")},
               {999, QStringLiteral("请等待 1 秒后再试。")},
               {1, QString()}};
  for (const auto &step : steps) {
    clock.Advance(step.afterMs);
    SCOPED_TRACE(clock.NowMs());
    EXPECT_EQ(dialog.Countdown()->text(), step.countdown);
    EXPECT_EQ(dialog.Countdown()->accessibleDescription(), step.countdown);
    EXPECT_EQ(dialog.Countdown()->isVisible(), !step.countdown.isEmpty());
    EXPECT_EQ(dialog.OkButton()->isEnabled(), step.countdown.isEmpty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(accepted.count(), step.countdown.isEmpty() ? 1 : 0);
  }
  EXPECT_EQ(dialog.Pin(), QByteArray("2468"));
}

TEST(VerdictSounds, TonesAreWholePcmWavFiles) {
  const auto le32 = [](const QByteArray &b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); };
  struct Row {
    std::vector<Tone> tones;
    int rate;
    quint32 samples;
  } rows[] = {{{{880, 90}, {0, 40}, {1320, 140}}, 22050, 1984 + 882 + 3087}, {{{220, 450}}, 8000, 3600}};
  for (const Row &row : rows) {
    const QByteArray wav = ToneWav(row.tones, row.rate);
    ASSERT_EQ(wav.size(), 44 + 2 * int(row.samples));
    EXPECT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(le32(wav, 4), quint32(wav.size() - 8));
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(wav, 24), quint32(row.rate));
    EXPECT_EQ(le32(wav, 28), quint32(2 * row.rate)); // bytes a second, 16-bit mono
    EXPECT_EQ(wav.mid(36, 4), "data");
    EXPECT_EQ(le32(wav, 40), 2 * row.samples);
    // Faded in: no click at the start.
    EXPECT_EQ(qFromLittleEndian<qint16>(wav.constData() + 44), 0);
  }
}

} // namespace
