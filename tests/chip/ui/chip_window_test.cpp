// The chip window and the chip controls of the main window, driven as the
// operator drives them: "Type Select", a double-click on a line of the list,
// the dataflash-use choice and the sector buttons.
#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/form2.h"
#include "app/ui/program.h"
#include "chip/sectors.h"
#include "serial/comm.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <gtest/gtest.h>

using namespace chip;

namespace {

const QByteArray kHeading = "No Type                 From - To           Size      Data\n";

QByteArray ChipLine(const char *name, const char *end, const char *size, const char *code) {
  return QStringLiteral("1  %1      0000 - %2         %3      %4\n")
      .arg(QString::fromLatin1(name), -15)
      .arg(QString::fromLatin1(end))
      .arg(QString::fromLatin1(size), -4)
      .arg(QString::fromLatin1(code))
      .toLatin1();
}

struct ChipWindow : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::unique_ptr<app::Program> program;
  app::TForm1 *form1 = nullptr;
  app::TForm2 *form2 = nullptr;

  void SetUp() override {
    // A port that cannot exist, so no real device is touched.
    folder.Write("sysset.ini", "[comx]\nnum=/nonexistent/kavrin-port\n");
    program = std::make_unique<app::Program>(dialogs, serial::MakePlatformSerialLayer(), folder.Path());
    form1 = program->Form1.get();
    form2 = program->Form2.get();
  }

  app::SharedState &State() { return program->State; }

  std::array<uint8_t, 4> MaskOfTheBoxes() const {
    std::array<bool, kSectorCount> checked{};
    for (int n = 1; n <= kSectorCount; ++n)
      checked[size_t(n - 1)] = form1->CheckBox(n)->isChecked();
    return SectorMaskBytes(SectorMask(checked));
  }

  // Double-clicks the given file line (0-based block), `column` characters in.
  void DoubleClick(int blockNumber, int column = 4) {
    QTextCursor cursor(form2->Memo1->document()->findBlockByNumber(blockNumber));
    cursor.setPosition(cursor.position() + column);
    DoubleClickAt(cursor);
  }
  void DoubleClickAt(const QTextCursor &cursor) {
    form2->Memo1->setTextCursor(cursor);
    const QPoint at = form2->Memo1->cursorRect(cursor).center() + QPoint(2, 0);
    QTest::mouseDClick(form2->Memo1->viewport(), Qt::LeftButton, {}, at);
  }

  // "Type Select", then a double-click on `blockNumber` while the window is shown.
  void Choose(int blockNumber, int column = 4) {
    dialogs.onShowModal = [&](QWidget *) { DoubleClick(blockNumber, column); };
    form1->Button1->click();
    dialogs.onShowModal = nullptr;
  }
};

TEST_F(ChipWindow, TypeSelectIsOfferedFromStartUp) {
  EXPECT_TRUE(form1->Button1->isEnabled());
  EXPECT_TRUE(form1->TypeSelectAction->isEnabled());
}

TEST_F(ChipWindow, TypeSelectCentresTheWindowAndShowsTheListModally) {
  folder.Write("MCUtype.txt", kHeading + ChipLine("PAC5220", "7FFF", "32K", "0xB0"));
  QString shownText;
  bool visibleWhileModal = false;
  QPoint shownAt;
  dialogs.onShowModal = [&](QWidget *w) {
    shownText = form2->Memo1->toPlainText();
    visibleWhileModal = w->isVisible();
    shownAt = w->pos();
  };
  // Each half is truncated on its own: 541 / 2 and 442 / 2 lose nothing together.
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    // The frame is known once the window has been shown.
    const QSize outer = form2->frameGeometry().size();
    form1->Button1->click();
    EXPECT_EQ(shownAt, QPoint(screen.width() / 2 - outer.width() / 2, screen.height() / 2 - outer.height() / 2));
  }

  ASSERT_EQ(dialogs.modalWindows.size(), 2u);
  EXPECT_EQ(dialogs.modalWindows[0], form2);
  EXPECT_TRUE(visibleWhileModal);
  EXPECT_EQ(shownText, QString::fromLatin1(kHeading + ChipLine("PAC5220", "7FFF", "32K", "0xB0")));
  EXPECT_TRUE(dialogs.Errors().isEmpty());
}

TEST_F(ChipWindow, EachTypeSelectReloadsTheFile) {
  folder.Write("MCUtype.txt", "first\r\nlist\r\n");
  form1->Button1->click();
  EXPECT_EQ(form2->Memo1->toPlainText(), QStringLiteral("first\nlist\n"));
  EXPECT_EQ(form2->Memo1->document()->blockCount(), 3) << "CR LF ends a line";

  folder.Write("MCUtype.txt", "second");
  form1->Button1->click();
  EXPECT_EQ(form2->Memo1->toPlainText(), QStringLiteral("second"));
}

TEST_F(ChipWindow, MissingListShowsTheErrorAndNoWindow) {
  form2->Memo1->setPlainText(QStringLiteral("kept"));
  form1->Button1->click();

  const QString path = folder.Path() + QStringLiteral("MCUtype.txt");
  EXPECT_EQ(dialogs.Errors(),
            QStringList{QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(path)});
  EXPECT_TRUE(dialogs.modalWindows.empty());
  EXPECT_FALSE(form2->isVisible());
  EXPECT_EQ(form2->Memo1->toPlainText(), QStringLiteral("kept"));
}

TEST_F(ChipWindow, UnreadableListShowsTheErrorAndNoWindow) {
  ASSERT_TRUE(QDir(folder.Path()).mkdir(QStringLiteral("MCUtype.txt")));
  form1->Button1->click();

  const QString prefix = QStringLiteral("Cannot open file \"%1MCUtype.txt\". ").arg(folder.Path());
  ASSERT_EQ(dialogs.Errors().size(), 1);
  EXPECT_TRUE(dialogs.Errors()[0].startsWith(prefix)) << dialogs.Errors()[0].toStdString();
  EXPECT_GT(dialogs.Errors()[0].size(), prefix.size()) << "the reason follows";
  EXPECT_TRUE(dialogs.modalWindows.empty());
}

TEST_F(ChipWindow, DoubleClickChoosesTheChipOnTheClickedLine) {
  folder.Write("MCUtype.txt", kHeading + ChipLine("PAC5210", "1FFF", "8K", "0x00") +
                                  ChipLine("PAC5220", "7FFF", "32K", "0xB0") +
                                  ChipLine("PAC5232", "7FFF", "32K", "0x14"));
  bool hiddenAfterDoubleClick = false;
  dialogs.onShowModal = [&](QWidget *) {
    DoubleClick(2);
    hiddenAfterDoubleClick = !form2->isVisible();
  };
  form1->Button1->click();

  EXPECT_TRUE(dialogs.Errors().isEmpty()) << dialogs.Errors().join('\n').toStdString();
  EXPECT_TRUE(hiddenAfterDoubleClick) << "the chip window closes on the choice";
  EXPECT_EQ(State().ChipName, QStringLiteral("PAC5220        "));
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0xB0"));
  EXPECT_EQ(State().ChipSizeK, QStringLiteral("36"));
  EXPECT_EQ(State().ImageSize, 36864u);
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" PAC5220        "));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("B000-BFFF+0000-7FFF=36K"));
  EXPECT_TRUE(form1->RadioGroup3->isEnabled());
  EXPECT_EQ(form1->RadioGroup3->ItemIndex(), 0);
  EXPECT_TRUE(form1->Button2->isEnabled());

  // The EEPROM item chosen beforehand applies to the next choice.
  form1->RadioGroup3->SetItemIndex(1);
  Choose(3);
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0x15"));
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" PAC5232        "));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("0000-7FFF=32K"));
  EXPECT_EQ(State().ImageSize, 32768u);

  // A chip without a dataflash choice disables the choice but keeps its item.
  Choose(1);
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" PAC5210        "));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral(" 0000 - 1FFF 8K  "));
  EXPECT_EQ(State().ImageSize, 8192u);
  EXPECT_FALSE(form1->RadioGroup3->isEnabled());
  EXPECT_EQ(form1->RadioGroup3->ItemIndex(), 1);
}

TEST_F(ChipWindow, ClosingWithoutADoubleClickChangesNothing) {
  folder.Write("MCUtype.txt", kHeading + ChipLine("PAC5220", "7FFF", "32K", "0xB0"));
  form1->Button2->setEnabled(false);
  form1->Button1->click();
  EXPECT_EQ(State().ChipName, QString());
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral("PAC52XX"));
  EXPECT_FALSE(form1->Button2->isEnabled());
  EXPECT_FALSE(form1->RadioGroup3->isEnabled());
}

TEST_F(ChipWindow, DoubleClickOnTheHeadingOrAnEmptyLine) {
  folder.Write("MCUtype.txt", kHeading + "\n" + ChipLine("PAC5220", "7FFF", "32K", "0xB0"));
  Choose(2);
  form1->Button2->setEnabled(false);
  form1->RadioGroup3->setEnabled(false);

  Choose(1, 0);
  EXPECT_EQ(State().ChipName, QString());
  EXPECT_EQ(State().DataflashCode, QString());
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" "));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("B000-BFFF+0000-7FFF=36K"));
  EXPECT_EQ(State().ImageSize, 36864u);
  EXPECT_TRUE(form1->RadioGroup3->isEnabled());
  EXPECT_TRUE(form1->Button2->isEnabled());

  Choose(0);
  EXPECT_EQ(State().DataflashCode, QStringLiteral("Data"));
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" Type           "));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("B000-BFFF+0000-7FFF=36K"));
  EXPECT_TRUE(dialogs.Errors().isEmpty());
}

TEST_F(ChipWindow, BadSizeShowsTheErrorAndLeavesTheStepsBefore) {
  folder.Write("MCUtype.txt", kHeading + ChipLine("PAC5220", "7FFF", "32K", "0xB0") +
                                  ChipLine("PAC52ZZ", "7FFF", "ZZK", "0xB0") +
                                  ChipLine("PAC52ZY", "7FFF", "Z2K", "0x00"));
  form1->RadioGroup3->SetItemIndex(1);
  Choose(1);
  form1->Button2->setEnabled(false);

  Choose(2);
  EXPECT_EQ(dialogs.Errors(), QStringList{QStringLiteral("'ZZ' is not a valid integer value")});
  EXPECT_FALSE(form2->isVisible());
  EXPECT_EQ(State().ChipName, QStringLiteral("PAC52ZZ        "));
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0xB1"));
  EXPECT_EQ(State().ChipSizeK, QStringLiteral("ZZ"));
  EXPECT_EQ(State().ImageSize, 32768u);
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" PAC52ZZ        "));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("0000-7FFF=32K"));
  EXPECT_TRUE(form1->RadioGroup3->isEnabled());
  EXPECT_FALSE(form1->Button2->isEnabled());

  // Without a dataflash choice the range is already shown when the size fails.
  Choose(3);
  EXPECT_EQ(dialogs.Errors().value(1), QStringLiteral("'Z2' is not a valid integer value"));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral(" 0000 - 7FFF Z2K "));
  EXPECT_FALSE(form1->RadioGroup3->isEnabled());
  EXPECT_EQ(State().ImageSize, 32768u);
  EXPECT_FALSE(form1->Button2->isEnabled());
}

TEST_F(ChipWindow, AWrappedLineGivesOnlyItsDisplayedPiece) {
  QByteArray chip = ChipLine("PAC5220", "7FFF", "32K", "0xB0");
  chip.chop(1);
  for (int i = 0; i < 100; ++i)
    chip += " wrap";
  folder.Write("MCUtype.txt", kHeading + chip + "\n");

  int lines = 0;
  int secondPieceLength = 0;
  dialogs.onShowModal = [&](QWidget *) {
    const QTextBlock block = form2->Memo1->document()->findBlockByNumber(1);
    form2->Memo1->document()->documentLayout()->blockBoundingRect(block);
    lines = block.layout()->lineCount();
    if (lines < 3)
      return;
    // Every piece after the first starts at a word: "wrap wrap wrap ...".
    const QTextLine second = block.layout()->lineAt(1);
    secondPieceLength = second.textLength();
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + second.textStart() + 1);
    DoubleClickAt(cursor);
  };
  form1->Button1->click();
  ASSERT_GE(lines, 3) << "the line must wrap";
  ASSERT_GE(secondPieceLength, 58) << "a full piece reaches the code's columns";
  EXPECT_EQ(State().ChipName, QStringLiteral("p wrap wrap wra"));
  EXPECT_EQ(State().ChipStart, QStringLiteral(" wra"));
  EXPECT_EQ(State().DataflashCode, QStringLiteral(" wra"));
  EXPECT_EQ(form1->Edit1->text(), QStringLiteral(" p wrap wrap wra"));

  // The first piece holds every field of the chip.
  Choose(1);
  EXPECT_EQ(State().ChipName, QStringLiteral("PAC5220        "));
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0xB0"));
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("B000-BFFF+0000-7FFF=36K"));
}

TEST_F(ChipWindow, ShippedListChoosesEveryChip) {
  QFile shipped(QCoreApplication::applicationDirPath() + QStringLiteral("/MCUtype.txt"));
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << "the build places the list beside the program";
  const QByteArray bytes = shipped.readAll();
  folder.Write("MCUtype.txt", bytes);
  const QStringList fileLines = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
  int chips = 0;
  for (int n = 0; n < fileLines.size(); ++n) {
    const QString line = fileLines[n];
    if (!line.contains(QStringLiteral("PAC52")))
      continue;
    SCOPED_TRACE(line.toStdString());
    ++chips;
    int displayedLines = 0;
    dialogs.onShowModal = [&](QWidget *) {
      const QTextBlock block = form2->Memo1->document()->findBlockByNumber(n);
      form2->Memo1->document()->documentLayout()->blockBoundingRect(block);
      displayedLines = block.layout()->lineCount();
      DoubleClick(n);
    };
    form1->Button1->click();
    EXPECT_EQ(displayedLines, 1) << "a chip line fits the window's width";
    EXPECT_EQ(form1->Edit1->text(), QLatin1Char(' ') + line.mid(3, 15));
    EXPECT_EQ(State().ChipStart, line.mid(24, 4));
    EXPECT_GE(State().ImageSize, 8192u);
    EXPECT_TRUE(form1->Button2->isEnabled());
    EXPECT_EQ(form1->RadioGroup3->isEnabled(), line.mid(54, 4) != QStringLiteral("0x00"));
  }
  EXPECT_GE(chips, 5);
  EXPECT_TRUE(dialogs.Errors().isEmpty()) << dialogs.Errors().join('\n').toStdString();
}

TEST_F(ChipWindow, DataflashUseFollowsTheRadioGroup) {
  folder.Write("MCUtype.txt", kHeading + ChipLine("PAC5220", "7FFF", "32K", "0xB0"));
  Choose(1);
  const QString name = form1->Edit1->text();
  form1->Button2->setEnabled(false);

  form1->RadioGroup3->Button(1)->click();
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0xB1"));
  EXPECT_EQ(State().ChipSizeK, QStringLiteral("32"));
  EXPECT_EQ(State().ImageSize, 32768u);
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("0000-7FFF=32K"));

  form1->RadioGroup3->Button(0)->click();
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0xB0"));
  EXPECT_EQ(State().ChipSizeK, QStringLiteral("36"));
  EXPECT_EQ(State().ImageSize, 36864u);
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("B000-BFFF+0000-7FFF=36K"));

  EXPECT_EQ(form1->Edit1->text(), name);
  EXPECT_TRUE(form1->RadioGroup3->isEnabled());
  EXPECT_FALSE(form1->Button2->isEnabled()) << "only a chip choice enables the load";
}

TEST_F(ChipWindow, ChangeOfUseWithoutAChipDoesNothing) {
  const QString edit2 = form1->Edit2->text();
  for (int item : {1, 0}) {
    form1->RadioGroup3->SetItemIndex(item);
    form1->RadioGroup3Click();
    EXPECT_EQ(State().DataflashCode, QString());
    EXPECT_EQ(State().ChipSizeK, QString());
    EXPECT_EQ(State().ImageSize, 0u);
    EXPECT_EQ(form1->Edit2->text(), edit2);
    EXPECT_FALSE(form1->RadioGroup3->isEnabled());
  }
}

TEST_F(ChipWindow, BadSizeStopsTheChangeOfUse) {
  State().ChipStart = QStringLiteral("0000");
  State().ChipEnd = QStringLiteral("7FFF");
  State().ChipSizeText = QStringLiteral("QQK ");
  State().DataflashCode = QStringLiteral("0xB0");
  State().ImageSize = 2048;
  form1->RadioGroup3->setEnabled(true);
  form1->RadioGroup3->Button(1)->click();
  EXPECT_EQ(dialogs.Errors(), QStringList{QStringLiteral("'QQ' is not a valid integer value")});
  EXPECT_EQ(State().DataflashCode, QStringLiteral("0xB1"));
  EXPECT_EQ(State().ChipSizeK, QStringLiteral("QQ"));
  EXPECT_EQ(State().ImageSize, 2048u);
  EXPECT_EQ(form1->Edit2->text(), QStringLiteral("0000--FFFFH  32K"));
}

TEST_F(ChipWindow, SelectAllAndRemoveAllGoThroughTheBoxesInOrder) {
  std::vector<int> order;
  for (int n = 1; n <= 32; ++n)
    QObject::connect(form1->CheckBox(n), &QCheckBox::toggled, [&order, n] { order.push_back(n); });
  std::vector<int> oneToThirtyTwo;
  for (int n = 1; n <= 32; ++n)
    oneToThirtyTwo.push_back(n);

  form1->Button4->click();
  EXPECT_EQ(order, oneToThirtyTwo);
  EXPECT_EQ(MaskOfTheBoxes(), (std::array<uint8_t, 4>{0x00, 0x00, 0x00, 0x00}));

  form1->CheckBox(1)->setChecked(true);
  EXPECT_EQ(MaskOfTheBoxes(), (std::array<uint8_t, 4>{0x00, 0x00, 0x00, 0x01}));
  form1->CheckBox(1)->setChecked(false);
  form1->CheckBox(32)->setChecked(true);
  EXPECT_EQ(MaskOfTheBoxes(), (std::array<uint8_t, 4>{0x80, 0x00, 0x00, 0x00}));
  form1->CheckBox(32)->setChecked(false);

  order.clear();
  form1->CheckBox(7)->setChecked(true);
  order.clear();
  form1->Button3->click();
  oneToThirtyTwo.erase(oneToThirtyTwo.begin() + 6);
  EXPECT_EQ(order, oneToThirtyTwo) << "box 7 was checked already";
  EXPECT_EQ(MaskOfTheBoxes(), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
}

} // namespace
