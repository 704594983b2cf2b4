// The operations over the serial line, with an in-memory box at its far end:
// what leaves the port, and what the box's answers do to the window.
#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "image/firmware_image.h"
#include "session/box_session.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace protocol;

namespace {

struct OverTheLine : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::shared_ptr<MemoryDevice> box = layer->AddDevice(QStringLiteral("MEMBOX"));
  std::unique_ptr<app::Program> program;
  app::TForm1 *form1 = nullptr;

  void SetUp() override {
    folder.Write("sysset.ini", "[comx]\nnum=MEMBOX\n");
    program = std::make_unique<app::Program>(dialogs, layer, folder.Path());
    form1 = program->Form1.get();
    ASSERT_TRUE(box->IsOpen());
    dialogs.boxes.clear();
  }

  bool Written(size_t n) {
    return PumpUntil([&] { return box->WrittenSize() >= n; });
  }
};

TEST_F(OverTheLine, SetOnlineSendsTheFrameAndTheBoxConfirms) {
  form1->Edit3->setText(QStringLiteral("old.hex"));
  form1->RadioGroup1->SetItemIndex(0);
  QTest::mouseClick(form1->Button8, Qt::LeftButton);
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->Written(), (std::vector<uint8_t>{0x68, 0x06, 0x04, 0x55, 0x50, 0x00, 0x00, 0x16}));
  EXPECT_EQ(form1->Button2->text(), QStringLiteral("Program"));
  EXPECT_EQ(form1->Edit3->text(), QString());

  box->Inject({0x68, 0x06, 0x01, 0x99, 0x16});
  ASSERT_TRUE(PumpUntil([&] { return !dialogs.boxes.empty(); }));
  EXPECT_EQ(dialogs.Messages(), QStringList{QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件")});
}

TEST_F(OverTheLine, CountThatIsNotANumberSendsNothing) {
  form1->Edit4->setText(QStringLiteral("12x"));
  QTest::mouseClick(form1->Button8, Qt::LeftButton);
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->WrittenSize(), 0u);
  EXPECT_EQ(dialogs.Errors(), QStringList{QStringLiteral("'12x' is not a valid integer value")});
  EXPECT_FALSE(form1->Session().Operation()) << "nothing started";
}

TEST_F(OverTheLine, ReadCommandAndVerifyFrames) {
  auto &state = program->State;
  state.ChipStart = QStringLiteral("8000");
  state.ChipEnd = QStringLiteral("FFFF");
  state.ImageSize = 65536;
  state.DataflashCode = QStringLiteral("0x14");
  form1->Button7Click();
  ASSERT_TRUE(Written(7));
  EXPECT_EQ(box->Written(), (std::vector<uint8_t>{0x68, 0x04, 0x03, 0x80, 0x40, 0x14, 0x16}));
  // After a load ImageSize is 32 KiB; a 36 KiB chip is still asked for whole.
  box->ClearWritten();
  state.ChipStart = QStringLiteral("0000");
  state.ChipSizeK = QStringLiteral("36");
  state.ImageSize = 32768;
  state.DataflashCode = QStringLiteral("0xB0");
  form1->Button7Click();
  ASSERT_TRUE(Written(7));
  EXPECT_EQ(box->Written(), (std::vector<uint8_t>{0x68, 0x04, 0x03, 0x00, 0x24, 0xB0, 0x16}));
  box->ClearWritten();
  form1->Button5Click();
  ASSERT_TRUE(Written(4));
  form1->Button6Click();
  ASSERT_TRUE(Written(8));
  EXPECT_EQ(box->Written(), (std::vector<uint8_t>{0x68, 0x03, 0x00, 0x16, 0x68, 0x05, 0x00, 0x16}));
}

TEST_F(OverTheLine, BlockRequestsAreAnsweredFromTheirSlot) {
  auto image = std::make_shared<session::LoadImage>();
  image->blocks.resize(size_t(image::kBlockSlots) * image::kBlockSlotSize);
  for (size_t i = 0; i < image->blocks.size(); ++i)
    image->blocks[i] = uint8_t(i % 251);
  session::OperationRequest load;
  load.operation = session::BoxOperation::Load;
  load.image = image;
  form1->Session().Start(load);
  ASSERT_TRUE(layer->Settle());
  ASSERT_EQ(box->WrittenSize(), 6 + image::kBlockRecordSize);
  box->ClearWritten();

  box->Inject({0x68, 0x00, 0x02, 0x55, 0x07, 0x16});
  ASSERT_TRUE(layer->Settle());
  const auto sent = box->Written();
  ASSERT_EQ(sent.size(), image::kRequestedBlockSize);
  const auto slot = image->blocks.begin() + 7 * image::kBlockSlotSize; // 28861
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), slot));
  EXPECT_TRUE(dialogs.boxes.empty());

  // Beyond the 16 slots nothing is read or sent.
  box->ClearWritten();
  box->Inject({0x68, 0x00, 0x02, 0x55, 0x10, 0x16});
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->UnreadSize(), 0u) << "the request was read";
  EXPECT_EQ(box->WrittenSize(), 0u);
}

} // namespace
