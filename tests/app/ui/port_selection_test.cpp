// Port selection and the settings file, over the in-memory serial layer.
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "session/box_session.h"
#include "serial/serial_layer.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace app;

namespace {

const QString kOpenedAtStart = QStringLiteral("Open serial port successfully");
const QString kOpenedOnChange = QStringLiteral("Openserial port  successfully");
const QString kOpenFailed = QStringLiteral("Open serial port fails, re-select the serial port ");

struct PortSelection : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;

  void Start() {
    program = std::make_unique<Program>(dialogs, layer, folder.Path());
    form1 = program->Form1.get();
  }
  QString Panel(int i) const { return form1->StatusBar1->PanelText(i); }
  QByteArray Ini() const { return folder.Read("sysset.ini"); }
};

TEST_F(PortSelection, FirstStartWithoutSettingsFileUsesCom5AndCreatesNothing) {
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  Start();
  EXPECT_EQ(form1->ComboBox1->currentText(), "COM5");
  EXPECT_EQ(Panel(0), "    COM5  8  N  1 ,  38400");
  EXPECT_EQ(Panel(1), kOpenedAtStart);
  EXPECT_TRUE(com5->IsOpen());
  EXPECT_FALSE(QFile::exists(folder.File("sysset.ini"))) << "nothing is written until the port changes";
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(PortSelection, PortIsOpenedWith38400EightNoneOneAndNoFlowControl) {
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  Start();
  const serial::LineSettings line = com5->LineSettingsRecord();
  EXPECT_EQ(line.BaudRate, 38400u);
  EXPECT_EQ(line.ByteSize, 8);
  EXPECT_EQ(line.Parity, 0);
  EXPECT_EQ(line.StopBits, 0);
  EXPECT_EQ(line.Flags, 0x81u) << "raw mode and continue after XOFF only: DTR, RTS and flow control off";
  EXPECT_EQ(com5->TimeoutsRecord().ReadIntervalTimeout, 100u);
}

TEST_F(PortSelection, StartUpFailureIsOnlyAStatusText) {
  folder.Write("sysset.ini", "[comx]\nnum=COM3\n");
  Start();
  EXPECT_EQ(form1->ComboBox1->currentText(), "COM3");
  EXPECT_EQ(Panel(0), "    COM3  8  N  1 ,  38400");
  EXPECT_EQ(Panel(1), kOpenFailed);
  EXPECT_FALSE(form1->Session().IsOpen());
  EXPECT_TRUE(dialogs.boxes.empty());
  form1->close(); // closing with the port closed ends normally
}

TEST_F(PortSelection, AnEmptyStoredNameIsUsedAsItStands) {
  folder.Write("sysset.ini", "[comx]\nnum=\n");
  Start();
  EXPECT_EQ(form1->ComboBox1->currentText(), "");
  EXPECT_EQ(Panel(0), "      8  N  1 ,  38400");
  EXPECT_EQ(Panel(1), kOpenFailed);
}

TEST_F(PortSelection, TypingANameRunsTheChangeForEveryPrefix) {
  auto com1 = layer->AddDevice(QStringLiteral("COM1"));
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  folder.Write("sysset.ini", "; bench settings\n[comx]\nnum=COM5\n[other]\nkeep=1\n");
  Start();
  ASSERT_TRUE(com5->IsOpen());

  QStringList stored;
  QObject::connect(form1->ComboBox1, &QComboBox::editTextChanged, form1, [&] {
    stored << QString::fromLatin1(Ini()); // runs after the change handler (connected later)
  });
  form1->ComboBox1->lineEdit()->clear();
  EXPECT_FALSE(com5->IsOpen()) << "emptying the box is a change: the port is closed";
  stored.clear();
  QTest::keyClicks(form1->ComboBox1->lineEdit(), QStringLiteral("COM1"));
  ASSERT_EQ(stored.size(), 4);
  const char *prefixes[] = {"C", "CO", "COM", "COM1"};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(stored[i], QStringLiteral("; bench settings\n[comx]\nnum=%1\n[other]\nkeep=1\n").arg(prefixes[i]));
  EXPECT_TRUE(com1->IsOpen());
  EXPECT_EQ(Panel(0), "    COM1  8  N  1 ,  38400");
  EXPECT_EQ(Panel(1), kOpenedOnChange);
  EXPECT_EQ(com5->OpenCount(), 1) << "no prefix opened the old port again";
}

TEST_F(PortSelection, PickingAnItemClosesStoresAndOpens) {
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  auto com2 = layer->AddDevice(QStringLiteral("COM2"));
  Start();
  form1->ComboBox1->setCurrentIndex(1); // "COM2"
  EXPECT_FALSE(com5->IsOpen());
  EXPECT_TRUE(com2->IsOpen());
  EXPECT_EQ(Ini(), "[comx]\nnum=COM2\n");
  EXPECT_EQ(Panel(1), kOpenedOnChange);

  form1->ComboBox1->setCurrentIndex(3); // "COM4" does not exist: stored all the same
  EXPECT_FALSE(com2->IsOpen());
  EXPECT_EQ(Ini(), "[comx]\nnum=COM4\n");
  EXPECT_EQ(Panel(0), "    COM4  8  N  1 ,  38400");
  EXPECT_EQ(Panel(1), kOpenFailed);
}

TEST_F(PortSelection, LongNamesAreStoredAndOpenedUnchanged) {
  auto com12 = layer->AddDevice(QStringLiteral("COM12"));
  Start();
  form1->ComboBox1->setEditText(QStringLiteral("COM12"));
  EXPECT_EQ(Ini(), "[comx]\nnum=COM12\n");
  EXPECT_EQ(form1->Session().PortName(), "COM12");
  EXPECT_TRUE(com12->IsOpen());
  EXPECT_EQ(Panel(1), kOpenedOnChange);

  // A fresh start opens the stored name.
  program.reset();
  EXPECT_FALSE(com12->IsOpen());
  Start();
  EXPECT_TRUE(com12->IsOpen());
  EXPECT_EQ(Panel(1), kOpenedAtStart);
}

TEST_F(PortSelection, UnwritableSettingsFileShowsTheErrorAndLeavesThePortClosed) {
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  auto com6 = layer->AddDevice(QStringLiteral("COM6"));
  Start();
  ASSERT_EQ(Panel(1), kOpenedAtStart);
  // Root ignores permissions: make the file a folder so that writing it fails.
  QDir(folder.Path()).mkdir(QStringLiteral("sysset.ini"));
  form1->ComboBox1->setEditText(QStringLiteral("COM6"));
  ASSERT_EQ(dialogs.Errors().size(), 1);
  EXPECT_EQ(dialogs.Errors()[0], QStringLiteral("Unable to write to ") + folder.File("sysset.ini"));
  EXPECT_FALSE(com5->IsOpen());
  EXPECT_FALSE(com6->IsOpen()) << "the handler ends before opening";
  EXPECT_EQ(Panel(0), "    COM6  8  N  1 ,  38400");
  EXPECT_EQ(Panel(1), kOpenedAtStart) << "panel 1 keeps its text until the next change";
}

TEST_F(PortSelection, TheListOffersCom1ToCom9First) {
  Start();
  ASSERT_GE(form1->ComboBox1->count(), 9);
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(form1->ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
  for (int i = 9; i < form1->ComboBox1->count(); ++i)
    EXPECT_TRUE(form1->ComboBox1->itemText(i).startsWith(QLatin1String("/dev/")));
}

TEST_F(PortSelection, ClosingTheWindowClosesThePort) {
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  Start();
  ASSERT_TRUE(com5->IsOpen());
  form1->close();
  EXPECT_FALSE(com5->IsOpen());
  EXPECT_FALSE(QFile::exists(folder.File("sysset.ini"))) << "nothing is written at exit";
}

} // namespace
