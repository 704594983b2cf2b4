// The operator's language: the window shows English beside its designed texts
// when the locale or the Language menu says so, switches without a restart,
// and remembers the menu's choice in sysset.ini.
#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/form2.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "app/ui/program.h"
#include "serial/serial_layer.h"
#include "session/box_session.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

using namespace app;

namespace {

struct OperatorLanguage : ::testing::Test {
  base::ManualClock clock; // the session's clocks tick as the test moves it
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;
  const QByteArray locale = qgetenv("LC_ALL");

  void SetUp() override { folder.Write("sysset.ini", "[comx]\r\nnum=/nonexistent/kavrin-port\r\n"); }
  void TearDown() override {
    program.reset();
    qputenv("LC_ALL", locale);
    base::UseLanguage(base::Language::Designed);
  }
  void Start(const char *localeName) {
    program.reset();
    qputenv("LC_ALL", localeName);
    program = std::make_unique<Program>(dialogs, serial::MakePlatformSerialLayer(), folder.Path(), clock);
    form1 = program->Form1.get();
    dialogs.boxes.clear();
  }
  // A verify that the box answers: first a cell that differs, then a success.
  QStringList VerifyMessages() {
    SharedState &state = program->State;
    state.ChipStart = QStringLiteral("0000");
    state.ChipEnd = QStringLiteral("7FFF");
    form1->Button5Click();
    clock.Advance(300);
    const uint8_t code = 0x03; // a verify's replies
    const std::vector<uint8_t> mismatch = {0x68, code, 0x05, 0xEE, 0x12, 0x34, 0xAB, 0xCD, 0x16};
    const std::vector<uint8_t> success = {0x68, code, 0x01, 0x99, 0x16};
    for (const auto *burst : {&mismatch, &success})
      form1->Session().ReceiveData(burst->data(), uint16_t(burst->size()));
    return dialogs.Messages();
  }
  // The main texts an operator reads, as the widgets show them.
  QStringList MainTexts() const {
    return {form1->Label3->text(),         form1->Label6->text(),
            form1->Label9->text(),         form1->RadioGroup3->title(),
            program->Form2->windowTitle(), program->Form3->windowTitle(),
            program->Form4->windowTitle(), form1->StatusBar1->Panel(1)->text(),
            // Hidden, but a screen reader still names it.
            QAccessible::queryAccessibleInterface(form1->RadioGroup3)->text(QAccessible::Name)};
  }
};

const QStringList kDesignedTexts = {
    QStringLiteral("选择串口："),    QStringLiteral("设定烧写次数："),
    QStringLiteral("0.3 秒"),        QStringLiteral("Dataflash用作"),
    QStringLiteral("KavrinMCU型号"), QStringLiteral("读出操作"),
    QStringLiteral("读出文件缓冲"),  QStringLiteral("注意：生产记录暂时无法写入数据库，已暂存本机"),
    QStringLiteral("Dataflash用作")};
const QStringList kEnglishTexts = {QStringLiteral("Serial port:"),
                                   QStringLiteral("Programming count:"),
                                   QStringLiteral("0.3 s"),
                                   QStringLiteral("Dataflash as"),
                                   QStringLiteral("Kavrin MCU types"),
                                   QStringLiteral("Read-out"),
                                   QStringLiteral("File buffer"),
                                   QStringLiteral("Note: records wait on this PC for now"),
                                   QStringLiteral("Dataflash as")};
const QStringList kDesignedMessages = {QStringLiteral("校验没通过，错误地址：1234,  写入是 AB 读出是 CD"),
                                       QStringLiteral("校 验 成 功!")};
const QStringList kEnglishMessages = {QStringLiteral("Verify failed at address 1234: written AB, read CD"),
                                      QStringLiteral("Verify succeeded!")};

} // namespace

TEST_F(OperatorLanguage, TheLocaleChoosesTheWindowsLanguage) {
  struct Case {
    const char *locale;
    const QStringList &texts, &messages;
    bool english;
  } cases[] = {
      {"en_US.UTF-8", kEnglishTexts, kEnglishMessages, true},
      {"C", kDesignedTexts, kDesignedMessages, false},
      {"zh_CN.UTF-8", kDesignedTexts, kDesignedMessages, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.locale);
    Start(c.locale);
    const QStringList messages = VerifyMessages();
    form1->RecordsWarning(QStringLiteral("disk full"));
    EXPECT_EQ(MainTexts(), c.texts);
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(form1->EnglishLanguageAction->isChecked(), c.english);
    EXPECT_EQ(form1->DesignedLanguageAction->isChecked(), !c.english);
    // The window's logic and the records keep the designed text.
    EXPECT_EQ(form1->StatusBar1->PanelText(1), kDesignedTexts.at(7));
  }
}

TEST_F(OperatorLanguage, ATranslationWiderThanItsPanelIsElidedWithTheWholeTextInTheTooltip) {
  Start("en_US.UTF-8");
  form1->RecordsWarning(QStringLiteral("disk full"));
  form1->StatusBar1->SetPanelWidth(1, 120);
  const QString shown = form1->StatusBar1->Panel(1)->text();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_LE(form1->StatusBar1->Panel(1)->fontMetrics().horizontalAdvance(shown), 120);
  EXPECT_EQ(form1->StatusBar1->Panel(1)->toolTip(), kEnglishTexts.at(7) + QStringLiteral("\ndisk full"));
}

TEST_F(OperatorLanguage, TheMenuSwitchesAtOnceAndIsRememberedAcrossARestart) {
  Start("C");
  form1->RecordsWarning(QStringLiteral("disk full"));
  form1->EnglishLanguageAction->trigger();
  // The secondary windows and the status bar follow the application's LanguageChange.
  ASSERT_TRUE(PumpUntil([&] { return program->Form3->windowTitle() == QStringLiteral("Read-out"); }));
  form1->Button5Click(); // a verify left unanswered, for the elapsed time
  clock.Advance(300);
  EXPECT_EQ(MainTexts(), kEnglishTexts);
  // Only the choice is added; every other byte stays, the file's own line ends too.
  EXPECT_EQ(folder.Read("sysset.ini"), "[comx]\r\nnum=/nonexistent/kavrin-port\r\n[ui]\r\nlanguage=en\r\n");

  // A new window reading the same file, under a locale that says otherwise.
  Start("C");
  EXPECT_TRUE(form1->EnglishLanguageAction->isChecked());
  EXPECT_EQ(VerifyMessages(), kEnglishMessages);
  form1->RecordsWarning(QStringLiteral("disk full"));

  form1->DesignedLanguageAction->trigger();
  ASSERT_TRUE(PumpUntil([&] { return program->Form3->windowTitle() == QStringLiteral("读出操作"); }));
  EXPECT_EQ(MainTexts(), kDesignedTexts);
  EXPECT_EQ(folder.Read("sysset.ini"), "[comx]\r\nnum=/nonexistent/kavrin-port\r\n[ui]\r\nlanguage=zh\r\n");
  Start("en_US.UTF-8");
  EXPECT_TRUE(form1->DesignedLanguageAction->isChecked()) << "the choice wins over the locale";
}
