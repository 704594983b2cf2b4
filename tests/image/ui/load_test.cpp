// The load over the in-memory serial line: what leaves the port, in order, and
// what the window shows on success, on the box's verdicts, on a cancelled
// dialog and on a faulty file; and the file buffer view.
#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/form4.h"
#include "app/ui/program.h"
#include "image/firmware_image.h"
#include "image/hex_reader.h"
#include "image/hex_test_support.h"
#include "image/image_blocks.h"
#include "session/box_session.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <gtest/gtest.h>

using namespace image;

using namespace hex_test;

namespace {

const std::vector<uint8_t> kAnnounce = {0x68, 0x00, 0x02, 0x08, 0x00, 0x16};
const QString kLoaded = QStringLiteral("文件加载成功 ");
const QString kBurned = QStringLiteral("文件烧写成功 ");
const QString kFailed = QStringLiteral("文 件 加 载 失 败");

QString Fixture(const QString &name) { return SourcePath(QStringLiteral("tests/image/fixtures/") + name); }

// Lets a test act while the file dialog is open (the dialog keeps events flowing).
struct LoadDialogs : RecordingDialogs {
  std::function<void()> whileChoosing;
  std::optional<app::ChosenFile> GetOpenFileName(QWidget *parent) override {
    if (whileChoosing)
      whileChoosing();
    return RecordingDialogs::GetOpenFileName(parent);
  }
};

struct Load : ::testing::Test {
  ProgramFolder folder;
  LoadDialogs dialogs;
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::shared_ptr<MemoryDevice> box = layer->AddDevice(QStringLiteral("MEMBOX"));
  std::unique_ptr<app::Program> program;
  app::TForm1 *form1 = nullptr;
  app::TForm4 *form4 = nullptr;
  app::SharedState *state = nullptr;
  size_t announced = 0;                // what the line will have carried once the announce is out
  std::function<void()> whileChoosing; // a test's own steps while the dialog is open

  void SetUp() override {
    // The operator takes a moment to choose: the announce is on the line before
    // the dialog returns (a close right after it would purge it otherwise).
    dialogs.whileChoosing = [this] {
      if (box->IsOpen())
        PumpUntil([&] { return box->WrittenSize() >= announced; }, 1000);
      if (whileChoosing)
        whileChoosing();
    };
    folder.Write("sysset.ini", "[comx]\nnum=MEMBOX\n");
    program = std::make_unique<app::Program>(dialogs, layer, folder.Path());
    form1 = program->Form1.get();
    form4 = program->Form4.get();
    state = &program->State;
    ASSERT_TRUE(box->IsOpen());
    dialogs.boxes.clear();
  }

  QString Put(const QString &name, const QByteArray &bytes) {
    folder.Write(name, bytes);
    return folder.File(name);
  }
  QString PutFixture(const QString &fixture, const QString &name) { return Put(name, ReadWhole(Fixture(fixture))); }

  // Clicks the load button with the dialog answering `path` (nullopt cancels).
  void ClickLoad(const std::optional<QString> &path) {
    dialogs.fileAnswers.push_back(path);
    ASSERT_TRUE(form1->Button2->isEnabled());
    announced = box->WrittenSize() + 6;
    QTest::mouseClick(form1->Button2, Qt::LeftButton);
  }

  bool Written(size_t n) {
    return PumpUntil([&] { return box->WrittenSize() >= n; });
  }
  // The bytes written from `from` on, once the line has settled (so that
  // nothing more follows); the caller checks that they are `n`.
  std::vector<uint8_t> WrittenFrom(size_t from) {
    EXPECT_TRUE(layer->Settle());
    const auto all = box->Written();
    return {all.begin() + std::ptrdiff_t(std::min(from, all.size())), all.end()};
  }

  session::BoxSession &Session() { return form1->Session(); }
  void Deliver(const std::vector<uint8_t> &burst) { Session().ReceiveData(burst.data(), uint16_t(burst.size())); }
  // The blocks of the image the window holds now, packed as a load packs them.
  std::vector<uint8_t> Packed(const QString &name, const QString &count = QStringLiteral("999999"),
                              uint32_t mask = 0xFFFFFFFF) const {
    std::vector<uint8_t> blocks(size_t(kBlockSlots) * kBlockSlotSize, 0);
    std::vector<uint8_t> bytes(kImageTextEntries);
    for (uint32_t a = 0; a < kImageTextEntries; ++a)
      bytes[a] = ImageEntryValue(state->ImageText[a]);
    BuildBlocks(bytes, 32768, QStringLiteral("0000"), {MakeNameField(name), MakeCountField(count), mask}, blocks);
    return blocks;
  }
  void SetOnlySectors(std::initializer_list<int> sectors) {
    for (int n = 1; n <= 32; ++n)
      form1->CheckBox(n)->setChecked(false);
    for (int n : sectors)
      form1->CheckBox(n)->setChecked(true);
  }
};

std::vector<uint8_t> Range(const std::vector<uint8_t> &v, size_t from, size_t n) {
  return {v.begin() + std::ptrdiff_t(from), v.begin() + std::ptrdiff_t(from + n)};
}

// ---------------------------------------------------------------------------

TEST_F(Load, WholeTransferOverTheLine) {
  const QString path = PutFixture(QStringLiteral("objcopy_16_crlf.hex"), QStringLiteral("app.b.hex"));
  const auto expectedImage = ZeroFilledImage(ReadWhole(Fixture(QStringLiteral("objcopy_16_crlf.bin"))), 0x0100);
  form1->Edit5->setText(QStringLiteral("123"));
  SetOnlySectors({1});
  state->ChipStart = QStringLiteral("1000"); // the load sets it to 0000

  ClickLoad(path);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text.toStdString();
  EXPECT_EQ(Session().CurrentPhase(), session::BoxSession::Phase::Transferring);
  EXPECT_EQ(state->ImageSize, 32768u);
  EXPECT_EQ(state->ChipStart, QStringLiteral("0000"));
  EXPECT_EQ(form1->Edit3->text(), QStringLiteral(".\\..\\app.b.hex"));
  EXPECT_EQ(form1->Edit3->toolTip(), path);
  // The clocks have started.
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("0 %"));
  EXPECT_EQ(Session().ProgressIntervalMs(), 142);
  EXPECT_TRUE(Session().ProgressRunning());
  EXPECT_TRUE(Session().ElapsedRunning());
  uint32_t total = 0;
  for (uint8_t b : expectedImage)
    total += b;
  EXPECT_EQ(form1->Label11->text(), CheckSumCaption(total));

  // Announce, then block 0 whole, and nothing else.
  const auto stream = WrittenFrom(0);
  ASSERT_EQ(stream.size(), 6u + 4120u);
  EXPECT_EQ(Range(stream, 0, 6), kAnnounce);
  const auto block0 = Range(stream, 6, 4120);
  EXPECT_EQ(block0[0], 0x00);
  EXPECT_EQ(block0[1], 0x00);
  EXPECT_EQ(Range(block0, 2, 4096), Range(expectedImage, 0, 4096));
  uint32_t sum0 = 0;
  for (size_t i = 0; i < 4096; ++i)
    sum0 += expectedImage[i];
  EXPECT_EQ(Range(block0, 4098, 4),
            (std::vector<uint8_t>{uint8_t(sum0 >> 24), uint8_t(sum0 >> 16), uint8_t(sum0 >> 8), uint8_t(sum0)}));
  EXPECT_EQ(Range(block0, 4102, 8), (std::vector<uint8_t>{'a', 'p', 'p', '.', 'b', 0, 0, 0}));
  EXPECT_EQ(Range(block0, 4110, 6), (std::vector<uint8_t>{0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(Range(block0, 4116, 4), (std::vector<uint8_t>{0, 0, 0, 1}));

  // The box asks for blocks 3 and 0; each answer is the slot's first 4102 bytes.
  box->Inject({0x68, 0x00, 0x02, 0x55, 0x03, 0x16});
  const auto block3 = WrittenFrom(stream.size());
  ASSERT_EQ(block3.size(), 4102u);
  EXPECT_EQ(block3[0], 0x03);
  EXPECT_EQ(block3[1], 0x30);
  EXPECT_EQ(Range(block3, 2, 4096), Range(expectedImage, 3 * 4096, 4096));
  const auto packed = Packed(QStringLiteral("app.b.hex"), QStringLiteral("123"), 1);
  const auto slot3 = RequestedBlockBytes(packed, 3);
  EXPECT_EQ(block3, std::vector<uint8_t>(slot3.begin(), slot3.end()));

  box->Inject({0x68, 0x00, 0x02, 0x55, 0x00, 0x16});
  const auto again0 = WrittenFrom(stream.size() + 4102);
  EXPECT_EQ(again0, Range(block0, 0, 4102));

  // The box reports success; "Offline" is selected at start.
  box->Inject({0x68, 0x00, 0x01, 0x99, 0x16});
  ASSERT_TRUE(PumpUntil([&] { return !dialogs.boxes.empty(); }));
  EXPECT_EQ(dialogs.Messages(), QStringList{kLoaded});
  EXPECT_EQ(form1->Label7->text(), QStringLiteral("100 %"));
  EXPECT_FALSE(Session().ProgressRunning());
  EXPECT_FALSE(Session().ElapsedRunning());
  EXPECT_EQ(box->WrittenSize(), 6u + 4120u + 2 * 4102u);
}

TEST_F(Load, VerdictsOfTheBox) {
  const QString path = PutFixture(QStringLiteral("srec_32_lf.hex"), QStringLiteral("fw.hex"));
  struct Case {
    int mode;
    uint8_t status;
    QString message;
    QString percent;
  };
  const std::vector<Case> cases = {
      {1, 0x99, kLoaded, QStringLiteral("100 %")},
      {0, 0x99, kBurned, QStringLiteral("100 %")},
      {1, 0x00, kFailed, QStringLiteral("0 %")},
  };
  for (const auto &c : cases) {
    dialogs.boxes.clear();
    form1->RadioGroup1->SetItemIndex(c.mode);
    ClickLoad(path);
    ASSERT_TRUE(Session().ElapsedRunning());
    Deliver({0x68, 0x00, 0x01, c.status, 0x16});
    EXPECT_EQ(dialogs.Messages(), QStringList{c.message}) << int(c.status);
    EXPECT_FALSE(Session().ProgressRunning());
    EXPECT_FALSE(Session().ElapsedRunning());
    EXPECT_EQ(form1->Label7->text(), c.percent);
  }
}

TEST_F(Load, CancelledDialog) {
  state->ImageText[0x10] = "$5A";
  form4->ShowImage(QStringLiteral("before"), {QStringLiteral("0000:: kept")});
  form1->Edit1->setText(QStringLiteral("PAC5210"));
  form1->Edit2->setText(QStringLiteral("0000-7FFF=32K"));
  form1->Edit3->setText(QStringLiteral(".\\..\\old.hex"));
  const int opens = box->OpenCount();

  ClickLoad(std::nullopt);
  EXPECT_EQ(dialogs.fileDialogs, 1);
  EXPECT_EQ(form1->Edit1->text(), QString());
  EXPECT_EQ(form1->Edit2->text(), QString());
  EXPECT_EQ(form1->Edit3->text(), QString());
  EXPECT_FALSE(form1->Button2->isEnabled());
  EXPECT_TRUE(form1->Button1->isEnabled()) << "the chip can be chosen again, which enables the load";
  EXPECT_EQ(box->OpenCount(), opens + 1) << "closed and opened again";
  EXPECT_TRUE(box->IsOpen());
  EXPECT_EQ(Session().Operation(), session::BoxOperation::Load);
  EXPECT_EQ(state->ImageSize, 32768u);
  EXPECT_EQ(state->ImageText[0x10], "$5A");
  EXPECT_EQ(form4->Lines(), QStringList{QStringLiteral("0000:: kept")});
  EXPECT_EQ(form4->windowTitle(), QStringLiteral("before"));
  EXPECT_FALSE(Session().ElapsedRunning());
  EXPECT_TRUE(dialogs.boxes.empty());
  // The announce went out before the port was closed; nothing else.
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->Written(), kAnnounce);
}

TEST_F(Load, CancelledDialogWhenThePortCannotBeOpenedAgain) {
  box->SetOpenFails(true);
  ClickLoad(std::nullopt);
  EXPECT_FALSE(box->IsOpen());
  EXPECT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("Open serial port fails, re-select the serial port "));
  EXPECT_TRUE(form1->Button1->isEnabled());
  EXPECT_FALSE(form1->Button2->isEnabled());
}

TEST_F(Load, FaultyThirdRecord) {
  // A good load first: the view, the blocks and the checksum it leaves stay.
  ClickLoad(PutFixture(QStringLiteral("srec_32_lf.hex"), QStringLiteral("good.hex")));
  ASSERT_TRUE(Written(6 + 4120));
  Deliver({0x68, 0x00, 0x01, 0x99, 0x16});
  ASSERT_EQ(form4->windowTitle(), QStringLiteral("good"));
  const auto blocksBefore = Packed(QStringLiteral("good.hex"));
  const QString checksumBefore = form1->Label11->text();
  dialogs.boxes.clear();
  ASSERT_TRUE(layer->Settle());
  box->ClearWritten();
  const int opens = box->OpenCount();

  const std::string text = Record(0x0000, 0, {0x01, 0x02}) + "\r\n" + Record(0x0080, 0, {0x03}) + "\r\n" +
                           ":01010000BF40\r\n" + Record(0x0200, 0, {0x04}) + "\r\n" + Record(0, 1, {}) + "\r\n";
  const QString path = Put(QStringLiteral("bad.hex"), QByteArray::fromStdString(text));
  ClickLoad(path);

  EXPECT_EQ(dialogs.Messages(), QStringList{QStringLiteral("文件加载错误，0100地址行校验和错误 3F")});
  EXPECT_EQ(box->OpenCount(), opens + 1) << "closed and opened again";
  EXPECT_TRUE(box->IsOpen());
  EXPECT_EQ(form1->Edit3->text(), QString());
  EXPECT_EQ(form1->Edit3->toolTip(), path);
  EXPECT_TRUE(form1->Button1->isEnabled());
  EXPECT_TRUE(form1->Button2->isEnabled());
  // The three records' bytes stay; the rest of the image was reset.
  EXPECT_EQ(state->ImageText[0x0000], "$01");
  EXPECT_EQ(state->ImageText[0x0001], "$02");
  EXPECT_EQ(state->ImageText[0x0080], "$03");
  EXPECT_EQ(state->ImageText[0x0100], "$BF");
  EXPECT_EQ(state->ImageText[0x0200], "$00");
  EXPECT_EQ(state->ImageText[0x0300], "$00") << "the earlier load's bytes are gone";
  // No blocks, no checksum, no view, no clocks, nothing after the announce.
  EXPECT_EQ(form1->Label11->text(), checksumBefore);
  EXPECT_TRUE(form4->Lines().isEmpty());
  EXPECT_EQ(form4->windowTitle(), QStringLiteral("good"));
  EXPECT_FALSE(Session().ProgressRunning());
  EXPECT_FALSE(Session().ElapsedRunning());
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->Written(), kAnnounce);

  // A later request is still answered from the blocks of the good load.
  Deliver({0x68, 0x00, 0x02, 0x55, 0x01, 0x16});
  const auto answer = WrittenFrom(6);
  const auto slot1 = RequestedBlockBytes(blocksBefore, 1);
  EXPECT_EQ(answer, std::vector<uint8_t>(slot1.begin(), slot1.end()));
}

TEST_F(Load, FaultyFileWhenThePortCannotBeOpenedAgain) {
  box->SetOpenFails(true);
  ClickLoad(Put(QStringLiteral("bad.hex"), ":0100000001FF\r\n"));
  EXPECT_EQ(dialogs.Messages().size(), 1);
  EXPECT_FALSE(box->IsOpen());
  EXPECT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("打 开 串 口 失 败,请 重 新 选 择 串 口 "));
  EXPECT_TRUE(form1->Button1->isEnabled());
}

TEST_F(Load, FilesThatCannotBeLoadedAreRefused) {
  struct Case {
    const char *name;
    QByteArray bytes;
    QString message;
  };
  const QString noData = QStringLiteral("文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件");
  const std::vector<Case> cases = {
      {"empty.hex", QByteArray(), noData},
      {"end-only.hex", ":00000001FF\r\n", noData},
      {"notes.txt", "firmware notes\r\n",
       QStringLiteral("文件加载错误，无法识别文件格式：不是 Intel HEX、Motorola S-record 或 ELF 文件，未加载")},
      {"high-only.hex",
       QByteArray::fromStdString(Record(0x8000, 0, std::vector<uint8_t>(255, 0xA5)) + "\r\n" +
                                 Record(0x80FF, 0, {0x5A}) + "\r\n"),
       QStringLiteral("文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载")},
      {"two-segments.hex",
       QByteArray::fromStdString(Record(0x0000, 0, {0x11}) + "\r\n" + Record(0, 4, {0x00, 0x01}) + "\r\n" +
                                 Record(0x0000, 0, {0x22}) + "\r\n"),
       QStringLiteral("文件加载错误，地址 00000000 与 00010000 的数据落在同一地址 0000（不支持扩展地址），未加载")},
  };
  for (const auto &c : cases) {
    dialogs.boxes.clear();
    ASSERT_TRUE(layer->Settle());
    box->ClearWritten();
    ClickLoad(Put(QString::fromLatin1(c.name), c.bytes));
    EXPECT_EQ(dialogs.Messages(), QStringList{c.message}) << c.name;
    EXPECT_EQ(form1->Edit3->text(), QString()) << c.name;
    EXPECT_FALSE(Session().ElapsedRunning()) << c.name;
    ASSERT_TRUE(layer->Settle());
    EXPECT_EQ(box->Written(), kAnnounce) << c.name << ": no all-zero image goes out";
  }
}

TEST_F(Load, EveryFormOfAProgramSendsTheSameBlocks) {
  // Each file is named program.*, so the name field is alike too.
  struct Case {
    const char *fixture;
    bool rawBinary; // the dialog's raw binary filter
    QString refusal;
  };
  const Case cases[] = {
      {"program.hex", false, {}},
      {"program.elf", false, {}},
      {"program_s3.srec", false, {}},
      {"program.bin", true, {}},
      {"program.bin", false,
       QStringLiteral("文件加载错误，无法识别文件格式：不是 Intel HEX、Motorola S-record 或 ELF 文件，未加载")},
  };
  std::vector<uint8_t> firstBlocks;
  QStringList firstView;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fixture);
    dialogs.boxes.clear();
    ASSERT_TRUE(layer->Settle());
    box->ClearWritten();
    const QString path = Put(QStringLiteral("program.") + QFileInfo(QLatin1String(c.fixture)).suffix(),
                             ReadWhole(Fixture(QLatin1String(c.fixture))));
    dialogs.fileAnswers.push_back(app::ChosenFile(path, c.rawBinary));
    announced = 6;
    QTest::mouseClick(form1->Button2, Qt::LeftButton);
    if (!c.refusal.isEmpty()) {
      EXPECT_EQ(dialogs.Messages(), QStringList{c.refusal});
      ASSERT_TRUE(layer->Settle());
      EXPECT_EQ(box->Written(), kAnnounce);
      continue;
    }
    EXPECT_TRUE(dialogs.boxes.empty());
    const auto stream = WrittenFrom(0);
    ASSERT_EQ(stream.size(), 6u + 4120u);
    if (firstBlocks.empty()) {
      firstBlocks = Packed(path);
      firstView = form4->Lines();
      EXPECT_EQ(form1->Label11->text(), QStringLiteral("CheckSum:  0x00003D79"));
    }
    EXPECT_EQ(Packed(path), firstBlocks);
    EXPECT_EQ(Range(stream, 6, 4120), Range(firstBlocks, 0, 4120));
    EXPECT_EQ(form4->Lines(), firstView);
    EXPECT_EQ(form1->Label11->text(), QStringLiteral("CheckSum:  0x00003D79"));
  }
}

TEST_F(Load, FileThatCannotBeRead) {
  form4->ShowImage(QStringLiteral("before"), {QStringLiteral("0000:: kept")});
  const QString path = folder.File(QStringLiteral("missing.hex"));
  ClickLoad(path);
  ASSERT_EQ(dialogs.Errors().size(), 1);
  EXPECT_TRUE(dialogs.Errors()[0].startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(path)))
      << dialogs.Errors()[0].toStdString();
  EXPECT_EQ(form1->Edit3->text(), QStringLiteral(".\\..\\missing.hex"));
  EXPECT_EQ(form4->Lines(), QStringList{QStringLiteral("0000:: kept")});
  EXPECT_FALSE(Session().ElapsedRunning());
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->Written(), kAnnounce);

  dialogs.boxes.clear();
  ClickLoad(folder.dir.path());
  EXPECT_EQ(dialogs.Errors(),
            QStringList{QStringLiteral("Cannot open file \"%1\". It is not a regular file.").arg(folder.dir.path())});
}

TEST_F(Load, DataBeyondTheImageIsReported) {
  ClickLoad(PutFixture(QStringLiteral("high.hex"), QStringLiteral("high.hex")));
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("注意：文件中有 256 字节超出 0000-7FFF，未加载"));
  EXPECT_TRUE(Session().ElapsedRunning()) << "the image below 8000 is sent as usual";
  ASSERT_TRUE(Written(6 + 4120));
  // The notice belongs to that load: the next one shows the port's state again.
  ClickLoad(PutFixture(QStringLiteral("joined.hex"), QStringLiteral("clean.hex")));
  EXPECT_EQ(form1->StatusBar1->PanelText(1), QStringLiteral("Open serial port successfully"));
}

TEST_F(Load, LoadingTwiceRebuildsEverything) {
  ClickLoad(PutFixture(QStringLiteral("joined.hex"), QStringLiteral("first.hex")));
  ASSERT_TRUE(Written(6 + 4120));
  EXPECT_NE(state->ImageText[0x0000], "$00");

  const std::string text = Record(0x5000, 0, {0xDE, 0xAD}) + "\n" + Record(0, 1, {}) + "\n";
  ClickLoad(Put(QStringLiteral("second.hex"), QByteArray::fromStdString(text)));
  for (uint32_t a = 0; a < 32768; ++a) {
    if (a == 0x5000 || a == 0x5001)
      continue;
    ASSERT_EQ(state->ImageText[a], "$00") << a;
  }
  EXPECT_EQ(state->ImageText[0x5000], "$DE");
  const auto fresh = Packed(QStringLiteral("second.hex"));
  EXPECT_EQ(form1->Label11->text(), QStringLiteral("CheckSum:  0x0000018B"));
  EXPECT_EQ(form4->windowTitle(), QStringLiteral("second"));

  const size_t before = 2 * (6 + 4120);
  ASSERT_TRUE(Written(before));
  EXPECT_EQ(Range(box->Written(), before - 4120, 4120), Range(fresh, 0, 4120));
  Deliver({0x68, 0x00, 0x02, 0x55, 0x05, 0x16});
  const auto answer = WrittenFrom(before);
  ASSERT_EQ(answer.size(), 4102u);
  EXPECT_EQ(Range(answer, 0, 4), (std::vector<uint8_t>{0x05, 0x50, 0xDE, 0xAD}));
}

TEST_F(Load, RequestWhileTheDialogIsOpenIsAnsweredFromThePreviousLoad) {
  ClickLoad(PutFixture(QStringLiteral("srec_32_lf.hex"), QStringLiteral("one.hex")));
  ASSERT_TRUE(Written(6 + 4120));
  const auto previous = Packed(QStringLiteral("one.hex"));
  whileChoosing = [&] { Deliver({0x68, 0x00, 0x02, 0x55, 0x00, 0x16}); };
  ClickLoad(PutFixture(QStringLiteral("objcopy_16_crlf.hex"), QStringLiteral("two.hex")));
  // announce, the old block 0 (4102), the new block 0 (4120)
  const auto stream = WrittenFrom(6 + 4120);
  ASSERT_EQ(stream.size(), 6u + 4102u + 4120u);
  EXPECT_EQ(Range(stream, 0, 6), kAnnounce);
  EXPECT_EQ(Range(stream, 6, 4102), Range(previous, 0, 4102));
  const auto next = Packed(QStringLiteral("two.hex"));
  EXPECT_EQ(Range(stream, 6 + 4102, 4120), Range(next, 0, 4120));
  EXPECT_NE(Range(previous, 0, 4102), Range(next, 0, 4102));
}

// ---------------------------------------------------------------------------
// The file buffer view.

TEST_F(Load, ViewShowsTheImageAsTheFileSpeltIt) {
  std::vector<uint8_t> data(16);
  for (int i = 0; i < 16; ++i)
    data[size_t(i)] = uint8_t(0xA0 + i * 3);
  std::string text = Record(0x0100, 0, data) + "\r\n" + Record(0, 1, {}) + "\r\n";
  for (char &c : text)
    c = char(std::tolower(c));
  ClickLoad(Put(QStringLiteral("view.test.hex"), QByteArray::fromStdString(text)));
  ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text.toStdString();

  EXPECT_EQ(form4->windowTitle(), QStringLiteral("view.test"));
  EXPECT_EQ(form4->Label1->text(), QStringLiteral("XXXX:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    "));
  const QStringList lines = form4->Lines();
  ASSERT_EQ(lines.size(), 2048);
  QString expected16 = QStringLiteral("0100:: ");
  for (uint8_t d : data)
    expected16 += QString::fromStdString(HexByte(d)).toLower() + QLatin1Char(' ');
  EXPECT_EQ(lines[16], expected16);
  EXPECT_EQ(lines[0], QStringLiteral("0000:: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
  EXPECT_EQ(lines[2047], QStringLiteral("7FF0:: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
  for (int k = 0; k < lines.size(); ++k) {
    if (k == 16)
      continue;
    ASSERT_TRUE(lines[k].endsWith(QStringLiteral(":: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "))) << k;
  }
}

TEST_F(Load, ClickOnTheFileNameShowsTheViewModally) {
  // Before any load: the header over an empty text box.
  QStringList seen;
  dialogs.onShowModal = [&](QWidget *w) {
    auto *view = qobject_cast<app::TForm4 *>(w);
    ASSERT_NE(view, nullptr);
    seen << view->windowTitle() << QString::number(view->Lines().size());
  };
  QTest::mouseClick(form1->Edit3, Qt::LeftButton);
  ASSERT_EQ(dialogs.modalWindows.size(), 1u);
  EXPECT_EQ(dialogs.modalWindows[0], form4);
  EXPECT_EQ(seen, (QStringList{app::TForm4::kInitialCaption, QStringLiteral("0")}));
  EXPECT_FALSE(form4->isVisible());

  ClickLoad(PutFixture(QStringLiteral("srec_16_lower.hex"), QStringLiteral("lower.hex")));
  seen.clear();
  QTest::mouseClick(form1->Edit3, Qt::LeftButton);
  EXPECT_EQ(seen, (QStringList{QStringLiteral("lower"), QStringLiteral("2048")}));
  // Opening and closing changes nothing.
  EXPECT_EQ(form4->Lines().size(), 2048);
}

TEST_F(Load, CtrlASelectsTheWholeDump) {
  ClickLoad(PutFixture(QStringLiteral("srec_32_lf.hex"), QStringLiteral("sel.hex")));
  QTest::keyClick(form4->Memo1, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(form4->Memo1->textCursor().hasSelection());
  QTest::keyClick(form4->Memo1, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(form4->Memo1->textCursor().selectedText().size(), form4->Memo1->toPlainText().size());
}

} // namespace
