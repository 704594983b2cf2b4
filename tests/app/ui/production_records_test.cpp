// The window's production records: one row per attempt with what the window
// knew, the store's warning in the status bar, and the records window.
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "app/ui/records_window.h"
#include "records/query.h"
#include "session/box_session.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QAction>
#include <QCryptographicHash>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace app;

namespace {

struct WindowRecords : ::testing::Test {
  base::ManualClock clock; // the session's clocks; the line keeps real time
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::shared_ptr<MemoryDevice> box = layer->AddDevice(QStringLiteral("MEMBOX"));
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;
  QString url;

  void Start(const QString &storeUrl) {
    url = storeUrl;
    folder.Write("sysset.ini", "[comx]\nnum=MEMBOX\n[records]\nurl=" + url.toUtf8() + "\n");
    program = std::make_unique<Program>(dialogs, layer, folder.Path(), clock);
    form1 = program->Form1.get();
  }
  std::vector<records::Record> Rows() {
    QString error;
    const auto rows = records::Query(*records::ParseStoreUrl(url, &error), {}, &error);
    EXPECT_EQ(error, QString());
    return rows;
  }
  void Reply(std::vector<uint8_t> bytes) {
    box->Inject(bytes);
    const qsizetype before = dialogs.Messages().size();
    ASSERT_TRUE(PumpUntil([&] { return dialogs.Messages().size() > before; }));
  }
};

TEST_F(WindowRecords, EveryAttemptIsRecordedWithWhatTheWindowKnew) {
  Start(QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite")));
  form1->RadioGroup1->SetItemIndex(0);
  form1->Edit4->setText(QStringLiteral("12"));
  form1->Button8->click();
  Reply({0x68, 0x06, 0x01, 0x99, 0x16});

  dialogs.fileAnswers.push_back(std::nullopt); // the operator cancels the file dialog
  form1->Button2->click();
  form1->Button2->setEnabled(true);

  folder.Write("bad.hex", ":0100000001FF\r\n");
  dialogs.fileAnswers.push_back(folder.File(QStringLiteral("bad.hex")));
  form1->Button2->click();

  folder.Write("fw.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
  dialogs.fileAnswers.push_back(folder.File(QStringLiteral("fw.hex")));
  form1->Button2->click();
  // The set, this load's announce and block 0; the earlier announces may go with the port's closing.
  ASSERT_TRUE(PumpUntil([&] { return box->WrittenSize() >= 8 + 6 + 4120; }));
  Reply({0x68, 0x00, 0x01, 0x99, 0x16});

  form1->VerifyAction->trigger();
  box->SetOpenFails(true); // the watch for the lost port never gets it back
  box->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return Rows().size() == 5; }));
  // Started on the closed port, it gets no answer: the port was the cause.
  form1->VerifyAction->trigger();
  clock.Advance(120000);
  ASSERT_TRUE(PumpUntil([&] { return Rows().size() == 6; }));

  const auto rows = Rows(); // newest first
  struct Expect {
    const char *operation, *result;
    QString message;
  } expected[] = {
      {"verify", "port-unavailable", QStringLiteral("本次操作超时失败，编程器无响应，请检查供电是否正常！")},
      {"verify", "port-lost", QStringLiteral("串口已断开，本次操作失败！请检查连接后重新选择串口。")},
      {"load", "ok", QStringLiteral("文件烧写成功 ")},
      {"load", "file-refused", QStringLiteral("文件加载错误，0000地址行校验和错误 FE")},
      {"load", "cancelled", QString()},
      {"set", "ok", QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件")},
  };
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(rows[i].operation, QLatin1String(expected[i].operation)) << i;
    EXPECT_EQ(rows[i].result, QLatin1String(expected[i].result)) << i;
    EXPECT_EQ(rows[i].message, expected[i].message) << i;
    EXPECT_EQ(rows[i].frontEnd, "window");
    EXPECT_EQ(rows[i].station, "MEMBOX");
    EXPECT_EQ(rows[i].operatorName, AccountName()) << "the designed window asks no one's name";
  }
  ASSERT_FALSE(AccountName().isEmpty());
  EXPECT_EQ(rows[5].mode, "online");
  EXPECT_EQ(rows[5].power, "5v");
  EXPECT_EQ(rows[5].count, 12);
  EXPECT_EQ(rows[5].bytesSent, 8);
  EXPECT_EQ(rows[4].filePath, QString());
  EXPECT_EQ(rows[3].filePath, folder.File(QStringLiteral("bad.hex")));
  const records::Record &load = rows[2];
  EXPECT_EQ(load.filePath, folder.File(QStringLiteral("fw.hex")));
  EXPECT_EQ(load.fileSha256,
            QCryptographicHash::hash(folder.Read("fw.hex"), QCryptographicHash::Sha256).toHex());
  EXPECT_EQ(load.imageChecksum, form1->Label11->text());
  EXPECT_EQ(load.imageChecksum, QStringLiteral("CheckSum:  0x0000000A"));
  EXPECT_EQ(load.sectors, "FFFFFFFF");
  EXPECT_EQ(load.count, 999999);
  EXPECT_EQ(load.bytesSent, 6 + 4120);
  EXPECT_EQ(rows[0].bytesSent, 0);
}

TEST_F(WindowRecords, AnUnreachableSharedStoreIsAWarningAndProgrammingGoesOn) {
  Start(QStringLiteral("postgresql://nobody@127.0.0.1:1/records"));
  form1->Button8->click();
  Reply({0x68, 0x06, 0x01, 0x99, 0x16});
  ASSERT_TRUE(PumpUntil([&] { return form1->StatusBar1->PanelText(1).startsWith(QStringLiteral("注意")); }, 10000));
  EXPECT_FALSE(form1->StatusBar1->Panel(1)->toolTip().isEmpty()) << "the store's own reason is at hand";
  EXPECT_EQ(dialogs.Errors(), QStringList()) << "the operator's work is not interrupted";
}

TEST_F(WindowRecords, ProductionRecordsOpensTheRecordsWindowOnTheStore) {
  Start(QStringLiteral("sqlite:") + folder.File(QStringLiteral("records.sqlite")));
  form1->Button8->click();
  Reply({0x68, 0x06, 0x01, 0x99, 0x16});
  ASSERT_TRUE(form1->ProductionRecordsAction->isEnabled());
  qsizetype rows = -1;
  dialogs.onShowModal = [&](QWidget *w) {
    auto *window = qobject_cast<RecordsWindow *>(w);
    ASSERT_NE(window, nullptr);
    PumpUntil([&] { return window->Model->rowCount() > 0; });
    rows = window->Model->rowCount();
  };
  form1->ProductionRecordsAction->trigger();
  EXPECT_EQ(rows, 1);
}

} // namespace
