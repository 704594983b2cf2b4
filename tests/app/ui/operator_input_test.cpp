// What the operator types, pastes and clicks, sent as real events to the
// widget that has the focus in a shown window: completion, editing keys,
// pastes and repeated clicks behave only like this.
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "session/box_session.h"
#include "serial/serial_layer.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace app;

namespace {

struct OperatorInput : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::shared_ptr<MemoryDevice> com1 = layer->AddDevice(QStringLiteral("COM1"));
  std::shared_ptr<MemoryDevice> com5 = layer->AddDevice(QStringLiteral("COM5"));
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;

  void SetUp() override {
    program = std::make_unique<Program>(dialogs, layer, folder.Path());
    form1 = program->Form1.get();
    form1->show();
    QApplication::setActiveWindow(form1);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form1));
  }
  // Clicks a widget and returns what has the focus afterwards.
  QWidget *ClickForFocus(QWidget *w) {
    QTest::mouseClick(w, Qt::LeftButton);
    return QApplication::focusWidget();
  }
};

TEST_F(OperatorInput, EveryKeyInThePortBoxRunsTheChangeOnceWithTheTextAsTyped) {
  QWidget *focused = ClickForFocus(form1->ComboBox1->lineEdit());
  ASSERT_TRUE(focused == form1->ComboBox1 || focused == form1->ComboBox1->lineEdit());
  QTest::keyClick(focused, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(focused, Qt::Key_Backspace);
  ASSERT_EQ(form1->ComboBox1->currentText(), QString());

  QStringList runs; // the name each run of the change handler set, connected after it
  QObject::connect(form1->ComboBox1, &QComboBox::editTextChanged, form1,
                   [&] { runs << form1->Session().PortName(); });
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("COM"));
  EXPECT_EQ(runs, (QStringList{"C", "CO", "COM"}));
  EXPECT_EQ(folder.Read("sysset.ini"), "[comx]\nnum=COM\n") << "stopping at COM leaves COM stored";
  EXPECT_FALSE(com1->IsOpen());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_1);
  EXPECT_EQ(runs, (QStringList{"C", "CO", "COM", "COM1"}));
  EXPECT_TRUE(com1->IsOpen());
  EXPECT_EQ(com1->OpenCount(), 1);
}

TEST_F(OperatorInput, DigitBoxesTakeEditingKeysAndHoldPastesToDigits) {
  QLineEdit *edit = form1->Edit5;
  ASSERT_EQ(ClickForFocus(edit), edit);
  QTest::keyClick(edit, Qt::Key_Home);
  // Delete as X11 delivers it, with the text 0x7F.
  QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Delete, QString(QChar(0x7F)), Qt::NoModifier);
  EXPECT_EQ(edit->text(), QStringLiteral("99999"));
  EXPECT_EQ(dialogs.beeps, 0);
  for (int i = 0; i < 3; ++i)
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Delete, QString(QChar(0x7F)), Qt::NoModifier);
  ASSERT_EQ(edit->text(), QStringLiteral("99"));

  struct Case {
    const char *clipboard;
    const char *after;
    int beeps;
  } cases[] = {{"4a", "99", 1}, {"x", "99", 2}, {"12", "1299", 2}};
  for (const auto &c : cases) {
    QGuiApplication::clipboard()->setText(QString::fromLatin1(c.clipboard));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QString::fromLatin1(c.after)) << c.clipboard;
    EXPECT_EQ(dialogs.beeps, c.beeps) << c.clipboard;
  }
  // Typed letters are still refused one by one.
  QTest::keyClick(edit, Qt::Key_End);
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClick(edit, Qt::Key_Q);
  EXPECT_EQ(edit->text(), QStringLiteral("129"));
  EXPECT_EQ(dialogs.beeps, 3);
}

TEST_F(OperatorInput, ClickingTheSelectedDataflashUseAgainChangesNothing) {
  SharedState &state = program->State;
  state.ChipStart = QStringLiteral("0000");
  state.ChipEnd = QStringLiteral("7FFF");
  state.ChipSizeText = QStringLiteral("32K ");
  state.ChipSizeK = QStringLiteral("32");
  state.DataflashCode = QStringLiteral("0xB1");
  form1->RadioGroup3->setEnabled(true);
  ASSERT_EQ(form1->RadioGroup3->ItemIndex(), 0);
  QRadioButton *code = form1->RadioGroup3->Button(0);
  QRadioButton *eeprom = form1->RadioGroup3->Button(1);

  QTest::mouseClick(code, Qt::LeftButton);
  QTest::mouseClick(code, Qt::LeftButton);
  EXPECT_EQ(state.DataflashCode, QStringLiteral("0xB1"));
  EXPECT_EQ(state.ChipSizeK, QStringLiteral("32"));

  QTest::mouseClick(eeprom, Qt::LeftButton);
  QTest::mouseClick(code, Qt::LeftButton);
  EXPECT_EQ(state.DataflashCode, QStringLiteral("0xB0"));
  EXPECT_EQ(state.ChipSizeK, QStringLiteral("36"));
  QTest::mouseClick(code, Qt::LeftButton);
  EXPECT_EQ(state.ChipSizeK, QStringLiteral("36"));
}

TEST_F(OperatorInput, APortThatWillNotOpenSaysWhyBesideTheDesignedText) {
  QtMessageHandler previous = qInstallMessageHandler(nullptr);
  static QStringList warnings;
  warnings.clear();
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { warnings << text; });
  struct Case {
    const char *name;
    const char *reason;
  } cases[] = {{"COM7", "COM7: No such file or directory"}, {"COM5", "COM5: Permission denied (add your user to the dialout group, then log in again)"}};
  com5->SetOpenFails(true);
  for (const auto &c : cases) {
    form1->ComboBox1->setEditText(QString::fromLatin1(c.name));
    const QLabel *panel = form1->StatusBar1->Panel(1);
    EXPECT_EQ(panel->text(), QStringLiteral("Open serial port fails, re-select the serial port "));
    EXPECT_TRUE(panel->toolTip().startsWith(QString::fromLatin1(c.reason))) << panel->toolTip().toStdString();
    // A screen reader says what sighted operators read, then why.
    EXPECT_EQ(panel->accessibleDescription(), panel->text() + panel->toolTip());
    EXPECT_TRUE(!warnings.isEmpty() && warnings.last().contains(QString::fromLatin1(c.reason)));
  }
  qInstallMessageHandler(previous);
  com5->SetOpenFails(false);
  form1->ComboBox1->setEditText(QStringLiteral("COM1"));
  EXPECT_EQ(form1->StatusBar1->Panel(1)->toolTip(), QString()) << "a port that opens has nothing to explain";
}

} // namespace
