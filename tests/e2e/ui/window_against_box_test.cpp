// The whole program against the simulated box over a real pseudo-terminal:
// the window is driven through its buttons and menu entries, the box answers as
// configured, and the box's log shows what actually crossed the line.
#include "e2e/ui/e2e_session.h"

#include "app/ui/form2.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using e2e::Image;
using e2e::Session;

const QString kSetDone = QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件");
const QString kBurned = QStringLiteral("文件烧写成功 ");
const QString kLoaded = QStringLiteral("文件加载成功 ");
const QString kLoadFailed = QStringLiteral("文 件 加 载 失 败");
const QString kProtectedVerify = QStringLiteral("目标芯片已加密，无法校验。");
const QString kProtectedRead = QStringLiteral("目标芯片已加密，无法读出。");
const QString kTimeOut = QStringLiteral("本次操作超时失败，编程器无响应，请检查供电是否正常！");

const std::vector<int> kInOrder{0, 1, 2, 3, 4, 5, 6, 7};

struct WindowAgainstBox : ::testing::Test {
  Session s;
  app::TForm1 *form1 = nullptr;

  void Start(std::vector<std::string> options = {}) {
    const std::string error = s.Start(std::move(options));
    ASSERT_EQ(error, "");
    form1 = s.form1;
    ASSERT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("Open serial port successfully"));
  }

  void SetMode(int item) {
    ASSERT_EQ(s.SetMode(item), kSetDone);
    ASSERT_EQ(form1->Button2->text(), item == 0 ? QStringLiteral("Program") : QStringLiteral("load"));
  }

  QString Load(const Image &image, const QString &fileName = QStringLiteral("firmware.hex")) {
    return s.Load(image, fileName);
  }

  // Chooses the chip whose line names `type` in the shipped chip list, by a
  // double-click in the chip window.
  void ChooseChip(const QString &type) {
    QFile::copy(SourcePath(QStringLiteral("data/MCUtype.txt")), s.folder.File(QStringLiteral("MCUtype.txt")));
    app::TForm2 *form2 = s.program->Form2.get();
    bool found = false;
    s.dialogs.onShowModal = [&](QWidget *) {
      for (QTextBlock b = form2->Memo1->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.text().contains(type))
          continue;
        QTextCursor cursor(b);
        cursor.setPosition(b.position() + 4);
        form2->Memo1->setTextCursor(cursor);
        const QPoint at = form2->Memo1->cursorRect(cursor).center() + QPoint(2, 0);
        QTest::mouseDClick(form2->Memo1->viewport(), Qt::LeftButton, {}, at);
        found = true;
        return;
      }
    };
    form1->TypeSelectAction->trigger();
    s.dialogs.onShowModal = nullptr;
    ASSERT_TRUE(found) << type.toStdString();
    ASSERT_EQ(s.dialogs.Errors(), QStringList());
  }

  // The read-out dump expected for bursts read from `bases`, in order.
  static QStringList ExpectedDump(const std::vector<std::pair<uint32_t, const uint8_t *>> &bursts) {
    QStringList lines;
    for (const auto &[base, bytes] : bursts)
      for (uint32_t i = 0; i < 256; ++i)
        lines << e2e::DumpLine(base + 16 * i, bytes + 16 * i);
    return lines;
  }

  bool ReadOutDone(qsizetype lines) {
    return PumpUntil(
        [&] {
          return s.program->Form3->Lines().size() >= lines && form1->Label7->text() == QStringLiteral("100 %") &&
                 !s.Box().ElapsedRunning();
        },
        20000);
  }

  // Every line of the two dumps, reporting the first difference.
  static void ExpectSameDump(const QStringList &got, const QStringList &expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i)
      ASSERT_EQ(got[i], expected[i]) << "line " << i;
  }
};

uint32_t Sum(const Image &image) {
  uint32_t sum = 0;
  for (uint8_t b : image)
    sum += b;
  return sum;
}

// --- Loads ---------------------------------------------------------------------

TEST_F(WindowAgainstBox, OnlineLoadBurnsTheExactImage) {
  Start();
  SetMode(0);
  const Image image = e2e::RandomImage(1);
  EXPECT_EQ(Load(image, QStringLiteral("motor_fw.hex")), kBurned);
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("100 %"));
  EXPECT_FALSE(s.Box().ProgressRunning());
  EXPECT_FALSE(s.Box().ElapsedRunning());
  EXPECT_EQ(form1->Label11->text(),
            QStringLiteral("CheckSum:  0x") + QStringLiteral("%1").arg(Sum(image), 8, 16, QLatin1Char('0')).toUpper());

  const auto log = s.Log();
  const auto sets = Session::OfKind(log, "rx", "set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].value("mode").toString(), QStringLiteral("55"));
  EXPECT_EQ(sets[0].value("power").toString(), QStringLiteral("50"));
  EXPECT_EQ(Session::OfKind(log, "rx", "load").size(), 1u);
  const auto blocks = Session::Blocks(log);
  EXPECT_EQ(Session::CheckBlocks(blocks, image, kInOrder), "");
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks[0].name, "motor_fw");
  const auto requests = Session::OfKind(log, "tx", "request");
  EXPECT_EQ(requests.size(), 7u);
  EXPECT_TRUE(Session::Stray(log).empty());
}

TEST_F(WindowAgainstBox, OfflineLoadLoadsTheExactImage) {
  Start();
  SetMode(1);
  const Image image = e2e::RandomImage(2);
  EXPECT_EQ(Load(image), kLoaded);
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("100 %"));

  const auto log = s.Log();
  const auto sets = Session::OfKind(log, "rx", "set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].value("mode").toString(), QStringLiteral("AA"));
  EXPECT_EQ(Session::CheckBlocks(Session::Blocks(log), image, kInOrder), "");
  EXPECT_TRUE(Session::Stray(log).empty());
}

TEST_F(WindowAgainstBox, SecondLoadSendsTheNewFileNotTheOld) {
  Start();
  SetMode(0);
  const Image first = e2e::RandomImage(3);
  const Image second = e2e::RandomImage(4);
  ASSERT_EQ(Load(first, QStringLiteral("a.hex")), kBurned);
  const size_t mark = s.LogSize();
  EXPECT_EQ(Load(second, QStringLiteral("b.hex")), kBurned);
  const auto blocks = Session::Blocks(s.Log(mark));
  EXPECT_EQ(Session::CheckBlocks(blocks, second, kInOrder), "");
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks[0].name, "b");
}

TEST_F(WindowAgainstBox, FailureAtBlockThreeIsReported) {
  Start({"--fail-at-block", "3"});
  SetMode(0);
  const Image image = e2e::RandomImage(5);
  EXPECT_EQ(Load(image), kLoadFailed);
  EXPECT_NE(form1->Label7->text(), QStringLiteral("100 %"));
  EXPECT_FALSE(s.Box().ElapsedRunning());
  EXPECT_EQ(s.dialogs.Messages().size(), 2); // the set confirmation and the failure
  // Blocks up to the failing one went out intact; nothing was sent after it
  // before the next operation's frame.
  const auto log = s.LogUpToNextCheck();
  ASSERT_TRUE(log);
  EXPECT_EQ(Session::CheckBlocks(Session::Blocks(*log), image, {0, 1, 2, 3}), "");
  const auto statuses = Session::OfKind(*log, "tx", "status");
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().value("status").toString(), QStringLiteral("00"));
  EXPECT_TRUE(Session::Stray(*log).empty());
}

TEST_F(WindowAgainstBox, BlocksRequestedOutOfOrderAndTwiceAreEachAnsweredWithTheirOwnBytes) {
  Start({"--order", "3,1,1,2,7,4,6,5,6"});
  SetMode(1);
  const Image image = e2e::RandomImage(6);
  EXPECT_EQ(Load(image), kLoaded);
  const auto log = s.Log();
  EXPECT_EQ(Session::CheckBlocks(Session::Blocks(log), image, {0, 3, 1, 1, 2, 7, 4, 6, 5, 6}), "");
  EXPECT_TRUE(Session::Stray(log).empty());
}

// A box on a real line sends its reply byte by byte at 38400 baud; the program
// must still take it as one burst.
TEST_F(WindowAgainstBox, PacedBoxIsHeardAsOneReplyPerBurst) {
  Start({"--paced"});
  SetMode(0);
  // Any part of the reply heard late would come before the next operation's answer.
  ASSERT_TRUE(s.LogUpToNextCheck());
  ASSERT_EQ(s.dialogs.Messages().size(), 2) << s.dialogs.Messages().join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(s.dialogs.Messages()[0], kSetDone);
}

// --- Read-out ------------------------------------------------------------------

TEST_F(WindowAgainstBox, ReadOutShowsTheBurnedImageAtItsAddresses) {
  Start();
  SetMode(0);
  const Image image = e2e::RandomImage(7);
  ASSERT_EQ(Load(image), kBurned);
  ChooseChip(QStringLiteral("PAC5255"));
  ASSERT_EQ(s.State().ChipStart, QStringLiteral("0000"));
  ASSERT_EQ(s.State().ChipEnd, QStringLiteral("7FFF"));
  ASSERT_EQ(s.State().ChipSizeK, QStringLiteral("32"));
  ASSERT_EQ(s.State().DataflashCode, QStringLiteral("0x00"));

  const qsizetype messages = s.dialogs.Messages().size();
  form1->ReadOutAction->trigger();
  ASSERT_TRUE(ReadOutDone(2048));
  std::vector<std::pair<uint32_t, const uint8_t *>> bursts;
  for (uint32_t k = 0; k < 8; ++k)
    bursts.push_back({k * 4096, image.data() + k * 4096});
  ExpectSameDump(s.program->Form3->Lines(), ExpectedDump(bursts));
  // A completed read-out shows no message: the next one is the next operation's.
  ASSERT_TRUE(s.LogUpToNextCheck());
  EXPECT_EQ(s.dialogs.Messages().size(), messages + 1);

  const auto reads = Session::OfKind(s.Log(), "rx", "read");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].value("size").toInt(), 32);
}

TEST_F(WindowAgainstBox, ReadOutOfDataflashAsCodeShowsItFirstAtB000) {
  Start({"--chip-fill", "0x5A"});
  SetMode(0);
  const Image image = e2e::RandomImage(8);
  ASSERT_EQ(Load(image), kBurned);
  ChooseChip(QStringLiteral("PAC5220"));
  ASSERT_EQ(s.State().DataflashCode, QStringLiteral("0xB0"));
  ASSERT_EQ(s.State().ChipSizeK, QStringLiteral("36"));

  form1->ReadOutAction->trigger();
  ASSERT_TRUE(ReadOutDone(2304));
  const std::vector<uint8_t> dataflash(4096, 0x5A); // never programmed: the chip as it started
  std::vector<std::pair<uint32_t, const uint8_t *>> bursts{{0xB000, dataflash.data()}};
  for (uint32_t k = 0; k < 8; ++k)
    bursts.push_back({k * 4096, image.data() + k * 4096});
  ExpectSameDump(s.program->Form3->Lines(), ExpectedDump(bursts));
  EXPECT_TRUE(s.program->Form3->Lines().front().startsWith(QStringLiteral("B000:: 5A ")));
  EXPECT_TRUE(s.program->Form3->Lines()[255].startsWith(QStringLiteral("BFF0:: ")));
}

// --- Verify ----------------------------------------------------------------------

TEST_F(WindowAgainstBox, VerifyAgainstAChangedCellNamesItsAddressAndBytes) {
  Start({"--mismatch", "0x1234"});
  SetMode(0);
  Image image = e2e::RandomImage(9);
  image[0x1233] = 0x3C; // cells before the faulty one are fine
  image[0x1234] = 0xA5;
  ASSERT_EQ(Load(image), kBurned);
  const std::string expected = "校验没通过，错误地址：1234,  写入是 A5 读出是 A4";

  qsizetype before = s.dialogs.Messages().size();
  form1->VerifyAction->trigger();
  ASSERT_TRUE(s.WaitForMessages(before));
  EXPECT_EQ(s.dialogs.Messages().back().toStdString(), expected);
  EXPECT_FALSE(s.Box().ElapsedRunning());
  EXPECT_NE(form1->Label7->text(), QStringLiteral("100 %"));

  // Erase, program and verify finds the same cell.
  before = s.dialogs.Messages().size();
  form1->EraseProgramVerifyAction->trigger();
  ASSERT_TRUE(s.WaitForMessages(before));
  EXPECT_EQ(s.dialogs.Messages().back().toStdString(), expected);

  const auto mismatches = Session::OfKind(s.Log(), "tx", "mismatch");
  ASSERT_EQ(mismatches.size(), 2u);
  EXPECT_EQ(mismatches[0].value("addr").toInt(), 0x1234);
}

// The views show where a verify found the difference: the file buffer view,
// and the read-out view when it holds a read-out, select and mark that line.
TEST_F(WindowAgainstBox, MismatchIsMarkedInTheDumps) {
  Start({"--mismatch", "0x0235"});
  SetMode(0);
  ChooseChip(QStringLiteral("PAC5255"));
  ASSERT_EQ(Load(e2e::RandomImage(4)), kBurned);
  form1->ReadOutAction->trigger();
  ASSERT_TRUE(ReadOutDone(2048)); // its data are no answer to the verify
  const qsizetype before = s.dialogs.Messages().size();
  form1->VerifyAction->trigger();
  ASSERT_TRUE(s.WaitForMessages(before));
  EXPECT_TRUE(s.dialogs.Messages().back().startsWith(QStringLiteral("校验没通过，错误地址：0235")));
  for (app::TDumpWindow *view : {static_cast<app::TDumpWindow *>(s.program->Form4.get()),
                                 static_cast<app::TDumpWindow *>(s.program->Form3.get())}) {
    ASSERT_EQ(view->HighlightedLine(), 0x23) << view->objectName().toStdString();
    const QTextCursor cursor = view->Memo1->textCursor();
    EXPECT_TRUE(cursor.selectedText().startsWith(QStringLiteral("0230:: "))) << view->objectName().toStdString();
    EXPECT_EQ(cursor.selectedText(), view->Lines()[0x23]);
    EXPECT_EQ(view->Memo1->extraSelections().size(), 1);
  }
  // The view menu opens the file buffer view there.
  form1->FileBufferViewAction->trigger();
  EXPECT_EQ(s.dialogs.modalWindows.back(), s.program->Form4.get());
  EXPECT_EQ(s.program->Form4->HighlightedLine(), 0x23);
}

TEST_F(WindowAgainstBox, VerifyOfTheBurnedImageSucceeds) {
  Start();
  SetMode(0);
  const Image image = e2e::RandomImage(10);
  ASSERT_EQ(Load(image), kBurned);
  const qsizetype before = s.dialogs.Messages().size();
  form1->VerifyAction->trigger();
  ASSERT_TRUE(s.WaitForMessages(before));
  EXPECT_EQ(s.dialogs.Messages().back(), QStringLiteral("校 验 成 功!"));
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("100 %"));
}

TEST_F(WindowAgainstBox, ReadProtectedChipRefusesVerifyAndReadOut) {
  Start({"--protected"});
  qsizetype before = s.dialogs.Messages().size();
  form1->VerifyAction->trigger();
  ASSERT_TRUE(s.WaitForMessages(before));
  EXPECT_EQ(s.dialogs.Messages().back(), kProtectedVerify);
  EXPECT_FALSE(s.Box().ElapsedRunning());

  s.State().ChipStart = QStringLiteral("0000");
  s.State().ChipEnd = QStringLiteral("7FFF");
  s.State().ChipSizeK = QStringLiteral("32");
  s.State().DataflashCode = QStringLiteral("0x00");
  s.State().ImageSize = 32768;
  before = s.dialogs.Messages().size();
  form1->ReadOutAction->trigger();
  ASSERT_TRUE(s.WaitForMessages(before));
  EXPECT_EQ(s.dialogs.Messages().back(), kProtectedRead);
  EXPECT_TRUE(Session::OfKind(s.Log(), "tx", "data").empty());
  EXPECT_EQ(s.dialogs.Messages().size(), 2);
}

// --- A box that does not answer ----------------------------------------------------

TEST_F(WindowAgainstBox, SilentBoxEndsInTheTimeOutOnce) {
  base::ManualClock clock; // the session's clocks move only when the test moves them
  s.clock = &clock;
  Start({"--silent"});
  form1->VerifyAction->trigger();
  clock.Advance(119900);
  EXPECT_EQ(form1->Label9->text(), QStringLiteral("119.9 秒"));
  EXPECT_TRUE(s.dialogs.Messages().isEmpty());
  clock.Advance(100);
  EXPECT_EQ(form1->Label9->text(), QStringLiteral("120.0 秒"));
  EXPECT_EQ(s.dialogs.Messages(), QStringList{kTimeOut});
  EXPECT_FALSE(s.Box().ElapsedRunning());
  EXPECT_EQ(s.Box().Operation(), session::BoxOperation::Verify);

  // The box heard the frame and stayed silent; more time adds nothing.
  ASSERT_TRUE(PumpUntil([&] { return !Session::OfKind(s.Log(), "rx", "check").empty(); }, 20000));
  clock.Advance(60000);
  QCoreApplication::sendPostedEvents(); // the box is silent: only the clock could bring more
  EXPECT_EQ(s.dialogs.Messages(), QStringList{kTimeOut});
  EXPECT_EQ(form1->Label9->text(), QStringLiteral("120.0 秒"));
  s.Stop(); // before the clock it runs on
}

} // namespace

namespace {

// The box's port vanishes in the middle of a load (the adapter pulled): the
// operator learns of it at once, never of a success, and gets the port back by
// choosing it again once the box is there.
TEST_F(WindowAgainstBox, PortVanishingMidLoadEndsTheLoadAtOnce) {
  Start({"--paced"});
  s.dialogs.fileAnswers.push_back(s.WriteHexFile(QStringLiteral("fw.hex"), e2e::RandomImage(3)));
  form1->Button2->click();
  ASSERT_TRUE(PumpUntil([&] { return Session::Blocks(s.Log()).size() >= 2; }, 20000));
  ASSERT_TRUE(s.Box().ElapsedRunning());
  kill(s.sim->Pid(), SIGKILL);
  const auto killed = e2e::SteadyClock::now();
  ASSERT_TRUE(s.WaitForMessages(0, 5000));
  EXPECT_LT(s.dialogs.messageTimes.back() - killed, std::chrono::seconds(1));
  EXPECT_EQ(s.dialogs.Messages(), QStringList{QStringLiteral("串口已断开，本次操作失败！请检查连接后重新选择串口。")});
  EXPECT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("Open serial port fails, re-select the serial port "));
  EXPECT_FALSE(s.Box().ElapsedRunning());
  EXPECT_FALSE(s.Box().IsOpen());
  EXPECT_TRUE(form1->Button2->isEnabled());
  s.sim->Process().Wait(3000);

  // The box comes back on the same link; choosing the port again opens it.
  // Choosing the port again while it is gone keeps it closed and says so.
  const QString port = form1->ComboBox1->currentText();
  form1->ComboBox1->addItem(port);
  form1->ComboBox1->activated(form1->ComboBox1->count() - 1);
  EXPECT_FALSE(s.Box().IsOpen());

  // The box comes back on the same link: the window finds it within a second
  // or two and opens it, resuming nothing.
  s.sim.reset();
  ASSERT_EQ(s.StartSimulator({}), "");
  ASSERT_TRUE(PumpUntil([&] { return s.Box().IsOpen(); }, 3000));
  EXPECT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("Openserial port  successfully"));
  const auto log = s.LogUpToNextCheck();
  ASSERT_TRUE(log);
  EXPECT_EQ(s.dialogs.Messages().size(), 2) << "no verdict of the lost load arrives before the next operation's";
  EXPECT_TRUE(Session::OfKind(*log, "rx", "block").empty()) << "the lost load is not resumed";
  EXPECT_TRUE(Session::OfKind(*log, "rx", "load").empty());
}

} // namespace
