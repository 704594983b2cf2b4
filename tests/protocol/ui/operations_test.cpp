// The main window's operations on the box: starting them, the clocks tick by
// tick, the reply handler's effects on the controls, and the read-out view.
#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/form3.h"
#include "app/ui/program.h"
#include "protocol/reply.h"
#include "serial/serial_layer.h"
#include "session/box_session.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <gtest/gtest.h>

using namespace protocol;

namespace {

const QString kTimeOut = QStringLiteral("本次操作超时失败，编程器无响应，请检查供电是否正常！");

using Phase = session::BoxSession::Phase;

struct Operations : ::testing::Test {
  base::ManualClock clock; // the session's clocks tick as the test moves it
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::unique_ptr<app::Program> program;
  app::TForm1 *form1 = nullptr;
  app::SharedState *state = nullptr;

  void SetUp() override {
    // A port that cannot exist: sends are refused, replies are delivered by hand.
    folder.Write("sysset.ini", "[comx]\nnum=/nonexistent/kavrin-port\n");
    program = std::make_unique<app::Program>(dialogs, serial::MakePlatformSerialLayer(), folder.Path(), clock);
    form1 = program->Form1.get();
    state = &program->State;
    dialogs.boxes.clear(); // the port message of start-up is not ours
  }

  session::BoxSession &Session() { return form1->Session(); }
  // As the serial component delivers a burst.
  void Deliver(const std::vector<uint8_t> &burst) { Session().ReceiveData(burst.data(), uint16_t(burst.size())); }
  // A status frame as the box sends it to the operation started last.
  void Reply(uint8_t status) {
    uint8_t code = 0x00; // a transfer's
    switch (Session().Operation().value_or(session::BoxOperation::Load)) {
    case session::BoxOperation::Set:
      code = 0x06;
      break;
    case session::BoxOperation::Verify:
      code = 0x03;
      break;
    case session::BoxOperation::ReadOut:
      code = 0x04;
      break;
    case session::BoxOperation::EraseProgramVerify:
      code = 0x05;
      break;
    case session::BoxOperation::Load:
      break;
    }
    Deliver({0x68, code, 0x01, status, 0x16});
  }
  // A load announced as the window announces it, before its file is chosen.
  void AnnounceLoad() {
    session::OperationRequest load;
    load.operation = session::BoxOperation::Load;
    Session().Start(load);
  }

  void ChooseChip(const char *start, const char *end, const char *sizeK, const char *dataflash) {
    state->ChipStart = QString::fromLatin1(start);
    state->ChipEnd = QString::fromLatin1(end);
    state->ChipSizeK = QString::fromLatin1(sizeK);
    state->DataflashCode = QString::fromLatin1(dataflash);
  }
};

TEST_F(Operations, SetOnlineClearsTheFileNameAndRenamesTheLoadButton) {
  form1->Edit3->setText(QStringLiteral("app.hex"));
  form1->RadioGroup1->SetItemIndex(0);
  form1->Button8->click();
  EXPECT_EQ(form1->Edit3->text(), QString());
  EXPECT_EQ(form1->Button2->text(), QStringLiteral("Program"));
  EXPECT_EQ(Session().CurrentPhase(), Phase::Setting);
  EXPECT_FALSE(Session().ElapsedRunning()) << "the set operation starts no clocks";

  Reply(0x99);
  EXPECT_EQ(dialogs.Messages(), QStringList{QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件")});

  form1->RadioGroup1->SetItemIndex(1);
  form1->Button8->click();
  EXPECT_EQ(form1->Button2->text(), QStringLiteral("load"));
}

TEST_F(Operations, SetWithACountThatIsNotANumberStopsBeforeSending) {
  AnnounceLoad();
  form1->Edit4->setText(QString());
  form1->RadioGroup1->SetItemIndex(0);
  form1->Button8->click();
  EXPECT_EQ(dialogs.Errors(), QStringList{QStringLiteral("'' is not a valid integer value")});
  EXPECT_EQ(Session().CurrentPhase(), Phase::Announcing);
  // The steps before the count have been done.
  EXPECT_EQ(form1->Button2->text(), QStringLiteral("Program"));
}

TEST_F(Operations, SetReplyStopsClocksLeftRunningAndFailureIsSilent) {
  ChooseChip("0000", "7FFF", "32", "0x00");
  form1->Button5Click();
  form1->Button8->click();
  ASSERT_TRUE(Session().ElapsedRunning());
  Reply(0x00);
  EXPECT_FALSE(Session().ProgressRunning());
  EXPECT_FALSE(Session().ElapsedRunning());
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Operations, TimedOperationsStartTheClocksWithTheirIntervals) {
  struct Case {
    void (*start)(app::TForm1 &);
    const char *begin, *end;
    Phase phase;
    int interval;
  } cases[] = {
      {[](app::TForm1 &f) { f.Button5Click(); }, "0000", "7FFF", Phase::Verifying, 327},
      {[](app::TForm1 &f) { f.Button7Click(); }, "0000", "7FFF", Phase::ReadingOut, 255},
      {[](app::TForm1 &f) { f.Button6Click(); }, "0000", "7FFF", Phase::ErasingProgrammingVerifying, 255},
      {[](app::TForm1 &f) { f.Button6Click(); }, "8000", "0000", Phase::ErasingProgrammingVerifying, 33554176},
      {[](app::TForm1 &f) { f.Button5Click(); }, "0000", "0063", Phase::Verifying, 0},
  };
  for (const auto &c : cases) {
    ChooseChip(c.begin, c.end, "32", "0x00");
    clock.Advance(7700); // the previous operation's clocks run on
    form1->Label7->setText(QStringLiteral("55 %"));
    form1->Label9->setText(QStringLiteral("7.7 秒"));
    c.start(*form1);
    EXPECT_EQ(Session().CurrentPhase(), c.phase);
    EXPECT_EQ(Session().ProgressIntervalMs(), c.interval);
    EXPECT_TRUE(Session().ProgressRunning());
    EXPECT_TRUE(Session().ElapsedRunning());
    EXPECT_EQ(form1->Label7->text(), QStringLiteral("0 %"));
    EXPECT_EQ(form1->Label9->text(), QStringLiteral("7.7 秒")) << "kept until the first tick";
    clock.Advance(100);
    EXPECT_EQ(form1->Label9->text(), QStringLiteral("0.1 秒")) << "counted from the start";
  }
}

TEST_F(Operations, ProgressClockStopsOnTheTickAfterNinetyEight) {
  ChooseChip("0000", "7FFF", "32", "0x00");
  form1->Button5Click();
  for (int tick = 1; tick <= 98; ++tick) {
    clock.Advance(327);
    ASSERT_EQ(form1->Label7->text(), QStringLiteral("%1 %").arg(tick));
    ASSERT_TRUE(Session().ProgressRunning()) << "tick " << tick;
  }
  clock.Advance(327);
  EXPECT_FALSE(Session().ProgressRunning());
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("98 %"));

  Reply(0x99);
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("100 %"));
  EXPECT_EQ(dialogs.Messages(), QStringList{QStringLiteral("校 验 成 功!")});
}

TEST_F(Operations, ProgressIntervalZeroNeverTicks) {
  ChooseChip("0000", "0063", "32", "0x00");
  form1->Button5Click();
  ASSERT_EQ(Session().ProgressIntervalMs(), 0);
  clock.Advance(60000);
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("0 %"));
}

TEST_F(Operations, ElapsedClockAndTheTimeOutOnce) {
  ChooseChip("0000", "7FFF", "32", "0x00");
  form1->Button6Click();
  for (int tick = 1; tick <= 123; ++tick)
    clock.Advance(100);
  EXPECT_EQ(form1->Label9->text(), QStringLiteral("12.3 秒"));

  int timeOutTick = 0;
  for (int tick = 124; tick <= 1300; ++tick) {
    clock.Advance(100);
    if (!timeOutTick && !dialogs.Messages().isEmpty())
      timeOutTick = tick;
  }
  EXPECT_EQ(timeOutTick, 1200);
  EXPECT_EQ(dialogs.Messages(), QStringList{kTimeOut}) << "once per operation";
  EXPECT_FALSE(Session().ElapsedRunning());
  EXPECT_EQ(Session().CurrentPhase(), Phase::Ended);
  EXPECT_EQ(Session().Operation(), session::BoxOperation::EraseProgramVerify);

  // A late reply is still a reply to the same operation.
  Reply(0x00);
  EXPECT_EQ(dialogs.Messages().last(), QStringLiteral("擦除、编程、校验 失 败"));
  EXPECT_FALSE(Session().ProgressRunning());

  // The next operation times out again.
  dialogs.boxes.clear();
  form1->Button6Click();
  for (int tick = 1; tick <= 1200; ++tick)
    clock.Advance(100);
  EXPECT_EQ(dialogs.Messages(), QStringList{kTimeOut});
}

TEST_F(Operations, FileTransferSuccessTextFollowsTheModeAtTheReply) {
  AnnounceLoad();
  form1->RadioGroup1->SetItemIndex(0);
  Reply(0x99);
  form1->RadioGroup1->SetItemIndex(1);
  Reply(0x99);
  Reply(0x00);
  EXPECT_EQ(dialogs.Messages(), (QStringList{QStringLiteral("文件烧写成功 "), QStringLiteral("文件加载成功 "),
                                             QStringLiteral("文 件 加 载 失 败")}));
}

TEST_F(Operations, ReadOutFillsTheViewAndCompletesOnTheLastBlock) {
  ChooseChip("0000", "7FFF", "36", "0xB0");
  program->Form3->SetLines({QStringLiteral("old line")});
  form1->Button7Click();
  EXPECT_TRUE(program->Form3->Lines().isEmpty());

  std::vector<uint8_t> block(4096);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = uint8_t(i * 7);
  for (int k = 1; k <= 9; ++k) {
    Deliver(block);
    EXPECT_EQ(Session().ElapsedRunning(), k < 9) << "block " << k;
  }
  const QStringList lines = program->Form3->Lines();
  ASSERT_EQ(lines.size(), 2304);
  EXPECT_EQ(lines.first(), QStringLiteral("B000:: 00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69 "));
  EXPECT_TRUE(lines[256].startsWith(QStringLiteral("0000:: 00 07 ")));
  EXPECT_TRUE(lines.last().startsWith(QStringLiteral("7FF0:: ")));
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("100 %"));
  EXPECT_TRUE(dialogs.boxes.empty()) << "a completed read-out shows no message";
}

TEST_F(Operations, ReadOutStatusRepliesAndAChipSizeThatIsNotANumber) {
  ChooseChip("0000", "7FFF", "", "0x00");
  form1->Button7Click();
  Deliver(std::vector<uint8_t>(4096, 0x11));
  EXPECT_EQ(dialogs.Errors(), QStringList{QStringLiteral("'' is not a valid integer value")});
  EXPECT_TRUE(program->Form3->Lines().isEmpty());
  EXPECT_TRUE(Session().ElapsedRunning());

  Reply(0x11);
  EXPECT_EQ(dialogs.Messages(), QStringList{QStringLiteral("目标芯片已加密，无法读出。")});
  EXPECT_FALSE(Session().ElapsedRunning());
}

TEST_F(Operations, ANewReadOutForgetsAPartialBlock) {
  ChooseChip("0000", "7FFF", "32", "0x00");
  form1->Button7Click();
  Deliver(std::vector<uint8_t>(100, 0xAA));
  form1->Button7Click();
  Reply(0x00); // a status again, not the rest of a block
  EXPECT_EQ(dialogs.Messages(), QStringList{QStringLiteral("读 出 失 败！")});
}

TEST_F(Operations, MenuEntriesRunTheOperations) {
  ChooseChip("0000", "7FFF", "32", "0x00");
  for (QAction *a :
       {form1->VerifyAction, form1->ReadOutAction, form1->EraseProgramVerifyAction, form1->ReadOutViewAction})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  form1->VerifyAction->trigger();
  EXPECT_EQ(Session().CurrentPhase(), Phase::Verifying);
  form1->ReadOutAction->trigger();
  EXPECT_EQ(Session().CurrentPhase(), Phase::ReadingOut);
  form1->EraseProgramVerifyAction->trigger();
  EXPECT_EQ(Session().CurrentPhase(), Phase::ErasingProgrammingVerifying);
  form1->ReadOutViewAction->trigger();
  ASSERT_EQ(dialogs.modalWindows.size(), 1u);
  EXPECT_EQ(dialogs.modalWindows[0], program->Form3.get());
}

TEST_F(Operations, Label8ClickShowsTheReadOutViewModally) {
  bool visibleWhileShown = false;
  dialogs.onShowModal = [&](QWidget *w) { visibleWhileShown = w->isVisible(); };
  form1->Label8Click();
  ASSERT_EQ(dialogs.modalWindows.size(), 1u);
  EXPECT_EQ(dialogs.modalWindows[0], program->Form3.get());
  EXPECT_TRUE(visibleWhileShown);
}

TEST(ReadOutView, DesignedLook) {
  app::TForm3 form3;
  EXPECT_EQ(form3.windowTitle(), QStringLiteral("读出操作"));
  EXPECT_EQ(form3.size(), QSize(578, 442));
  EXPECT_EQ(form3.pos(), QPoint(518, 221));
  EXPECT_EQ(form3.Label1->geometry(), QRect(2, 12, 580, 19));
  EXPECT_EQ(form3.Label1->text(), QStringLiteral("XXXX:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    "));
  EXPECT_EQ(form3.Memo1->geometry(), QRect(0, 32, 577, 409));
  EXPECT_TRUE(form3.Memo1->isReadOnly());
  EXPECT_FALSE(form3.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(form3.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
}

TEST(ReadOutView, CtrlASelectsAllAndCtrlShiftADoesNot) {
  app::TForm3 form3;
  form3.SetLines({QStringLiteral("B000:: 00 "), QStringLiteral("B010:: 01 ")});
  const QString all = form3.Memo1->toPlainText();

  EXPECT_FALSE(form3.FormKeyDown(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier));
  EXPECT_FALSE(form3.FormKeyDown(Qt::Key_A, Qt::ControlModifier | Qt::AltModifier));
  EXPECT_FALSE(form3.FormKeyDown(Qt::Key_A, Qt::NoModifier));
  EXPECT_FALSE(form3.FormKeyDown(Qt::Key_B, Qt::ControlModifier));
  EXPECT_FALSE(form3.Memo1->textCursor().hasSelection());

  QTest::keyClick(form3.Memo1, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(form3.Memo1->textCursor().hasSelection());
  QTest::keyClick(form3.Memo1, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(form3.Memo1->textCursor().selectedText().size(), all.size());
}

} // namespace
