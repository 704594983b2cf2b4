// The main window as designed: every control, its place, text and state, the
// tab order, the secondary windows, start-up and close.
#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/form2.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "app/ui/program.h"
#include "base/version.h"
#include "serial/serial_layer.h"
#include "session/box_session.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace app;

namespace {

struct Fixture : ::testing::Test {
  ProgramFolder folder;
  RecordingDialogs dialogs;
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;

  void SetUp() override {
    // A port that cannot exist, so no real device is touched.
    folder.Write("sysset.ini", "[comx]\nnum=/nonexistent/kavrin-port\n");
    program = std::make_unique<Program>(dialogs, serial::MakePlatformSerialLayer(), folder.Path());
    form1 = program->Form1.get();
  }
  template <typename T = QWidget> T *Find(const char *name) {
    return form1->ClientArea()->findChild<T *>(QString::fromLatin1(name));
  }
};

using MainWindow = Fixture;

TEST_F(MainWindow, CaptionClientAreaAndBorder) {
  EXPECT_EQ(form1->windowTitle(), "FOR PAC52XX--Brontel");
  EXPECT_EQ(form1->ClientArea()->size(), QSize(811, 432));
  EXPECT_FALSE(form1->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(form1->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(form1->minimumSize(), form1->maximumSize()) << "the window is not resizable";
  EXPECT_TRUE(QApplication::applicationDisplayName() == QApplication::applicationName())
      << "a display name of its own would be appended to the caption on X11";
}

struct ControlRow {
  const char *name;
  const char *kind;
  QRect geometry; // labels: left and top only (width and height < 0)
  const char *text;
  bool enabled;
};

TEST_F(MainWindow, EveryControlOfTheLayout) {
  const ControlRow rows[] = {
      {"RadioGroup1", "app::TRadioGroup", {24, 8, 169, 57}, "Model Select", true},
      {"RadioGroup2", "app::TRadioGroup", {200, 8, 265, 57}, "Power Supply", true},
      {"Label8", "QLabel", {520, 32, -1, -1}, "N:", true},
      {"Edit5", "QLineEdit", {560, 32, 89, 24}, "999999", true},
      {"Button8", "QPushButton", {672, 24, 75, 33}, "Set ", true},
      {"Label2", "QLabel", {16, 88, -1, -1}, "Chip Select：", true},
      {"Edit1", "QLineEdit", {152, 80, 265, 29}, "PAC52XX", true},
      {"Button1", "QPushButton", {432, 80, 105, 25}, "Type Select", true},
      {"Label4", "QLabel", {16, 128, -1, -1}, "Flash：", true},
      {"Edit2", "QLineEdit", {152, 118, 265, 29}, "0000--FFFFH  32K", true},
      {"Label5", "QLabel", {16, 168, -1, -1}, "FileName：", true},
      {"Edit3", "QLineEdit", {152, 156, 265, 33}, "", true},
      {"Button2", "QPushButton", {432, 160, 75, 25}, "load", true},
      {"Label11", "QLabel", {176, 192, -1, -1}, "", true},
      {"Label1", "QLabel", {32, 296, -1, -1}, "Operate Rate ：", true},
      {"Label7", "QLabel", {216, 272, -1, -1}, "0 %", true},
      {"Label9", "QLabel", {384, 304, -1, -1}, "0.0 秒", true},
      {"Button3", "QPushButton", {576, 352, 89, 25}, "Select ALL", true},
      {"Button4", "QPushButton", {696, 352, 89, 25}, "Remove ALL", true},
      {"ComboBox1", "QComboBox", {40, 368, 57, 24}, "/nonexistent/kavrin-port", true},
      {"StatusBar1", "app::TStatusBar", {0, 398, 811, 34}, nullptr, true},
      {"Label3", "QLabel", {24, 408, -1, -1}, "选择串口：", true},
      {"Label6", "QLabel", {312, 408, -1, -1}, "设定烧写次数：", true},
      {"Edit4", "QLineEdit", {720, -111, 89, 24}, "0000", true},
      {"RadioGroup3", "app::TRadioGroup", {432, -100, 137, 41}, "Dataflash用作", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    QWidget *w = Find(row.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(row.kind)) << w->metaObject()->className();
    if (row.geometry.width() < 0)
      EXPECT_EQ(w->pos(), row.geometry.topLeft());
    else
      EXPECT_EQ(w->geometry(), row.geometry);
    EXPECT_EQ(w->isEnabled(), row.enabled);
    if (!row.text)
      continue;
    const QString text = QString::fromUtf8(row.text);
    QString actual;
    if (auto *l = qobject_cast<QLabel *>(w))
      actual = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
      actual = e->text();
    else if (auto *b = qobject_cast<QPushButton *>(w))
      actual = b->text();
    else if (auto *g = qobject_cast<QGroupBox *>(w))
      actual = g->title();
    else if (auto *c = qobject_cast<QComboBox *>(w))
      actual = c->currentText();
    EXPECT_EQ(actual, text);
  }
}

TEST_F(MainWindow, ItemsAndInitialSelections) {
  auto items = [](TRadioGroup *g) {
    QStringList out;
    for (int i = 0; i < g->Count(); ++i)
      out << g->Button(i)->text();
    return out;
  };
  EXPECT_EQ(items(form1->RadioGroup1), QStringList({"Online", "Offline"}));
  EXPECT_EQ(form1->RadioGroup1->ItemIndex(), 1);
  EXPECT_EQ(items(form1->RadioGroup2), QStringList({"5V ", "Nooutput"}));
  EXPECT_EQ(form1->RadioGroup2->ItemIndex(), 0);
  EXPECT_EQ(items(form1->RadioGroup3), QStringList({"CODE", "EEPROM"}));
  EXPECT_EQ(form1->RadioGroup3->ItemIndex(), 0);

  QStringList ports;
  for (int i = 0; i < 9; ++i)
    ports << form1->ComboBox1->itemText(i);
  EXPECT_EQ(ports, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}));
  EXPECT_TRUE(form1->ComboBox1->isEditable());

  EXPECT_EQ(form1->Edit4->maxLength(), 4);
  EXPECT_EQ(form1->Edit5->maxLength(), 6);
  for (auto *e : {form1->Edit1, form1->Edit2, form1->Edit3})
    EXPECT_TRUE(e->isReadOnly()) << e->objectName().toStdString();
  EXPECT_FALSE(form1->Edit5->isReadOnly());
}

TEST_F(MainWindow, SectorBoxesInTwoColumnsAllChecked) {
  for (int n = 1; n <= 32; ++n) {
    SCOPED_TRACE(n);
    auto *box = Find<QCheckBox>(QStringLiteral("CheckBox%1").arg(n).toLatin1().constData());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box, form1->CheckBox(n));
    EXPECT_EQ(box->text(), QStringLiteral("Sector%1").arg(n));
    EXPECT_TRUE(box->isChecked());
    const int left = n <= 16 ? 584 : 696;
    const int top = 80 + 16 * ((n - 1) % 16);
    EXPECT_EQ(box->pos(), QPoint(left, top));
    EXPECT_EQ(box->height(), 17);
  }
}

TEST_F(MainWindow, FontsAndColours) {
  EXPECT_EQ(form1->Label7->font().pixelSize(), 56);
  EXPECT_TRUE(form1->Label7->font().bold());
  EXPECT_EQ(form1->Label7->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(form1->Label2->font().pixelSize(), 21);
  EXPECT_EQ(form1->Edit1->font().pixelSize(), 20);
  EXPECT_EQ(form1->Edit2->font().pixelSize(), 21);
  EXPECT_EQ(form1->Edit1->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(form1->ComboBox1->palette().color(QPalette::Base), QColor(Qt::black));
  EXPECT_EQ(form1->ComboBox1->palette().color(QPalette::Text), QColor(Qt::white));
  EXPECT_EQ(form1->Edit4->palette().color(QPalette::Base), QColor(Qt::black));
  EXPECT_EQ(form1->RadioGroup3->font().pixelSize(), 12);
  EXPECT_EQ(form1->StatusBar1->font().pixelSize(), 19);
  EXPECT_EQ(form1->Label9->palette().color(QPalette::WindowText), QColor(Qt::gray));
  EXPECT_EQ(form1->Label11->palette().color(QPalette::WindowText), QColor(Qt::gray));
}

TEST_F(MainWindow, TabOrderAsDesigned) {
  form1->show();
  QApplication::setActiveWindow(form1);
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1));
  // The control that owns a focused child (radio button, combo box editor).
  auto owner = [&](QWidget *w) -> QWidget * {
    for (QWidget *p = w; p; p = p->parentWidget())
      if (p->parentWidget() == form1->ClientArea())
        return p;
    return w;
  };
  auto walk = [&] {
    std::vector<QWidget *> seen;
    form1->Button1->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 60 && seen.size() < 46; ++i) {
      QWidget *control = owner(QApplication::focusWidget());
      if (seen.empty() || seen.back() != control)
        seen.push_back(control);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return seen;
  };
  std::vector<QWidget *> expected = {form1->Button1, form1->Button2, form1->RadioGroup1, form1->RadioGroup2,
                                     form1->Edit1,   form1->Edit2,   form1->Edit3,       form1->ComboBox1,
                                     form1->Button8, form1->Edit4,   form1->Edit5};
  for (int n = 1; n <= 32; ++n)
    expected.push_back(form1->CheckBox(n));
  expected.push_back(form1->Button3);
  expected.push_back(form1->Button4);
  auto names = [](const std::vector<QWidget *> &ws) {
    QStringList out;
    for (auto *w : ws)
      out << (w ? w->objectName() : QStringLiteral("-"));
    return out.join(QLatin1Char(' ')).toStdString();
  };
  std::vector<QWidget *> seen = walk();
  seen.resize(std::min(seen.size(), expected.size()));
  EXPECT_EQ(names(seen), names(expected)) << "RadioGroup3 takes no part while disabled";

  form1->RadioGroup3->setEnabled(true);
  expected.insert(expected.begin() + 10, form1->RadioGroup3);
  seen = walk();
  seen.resize(std::min(seen.size(), expected.size()));
  EXPECT_EQ(names(seen), names(expected));
}

TEST_F(MainWindow, HiddenControlsLieAboveTheClientArea) {
  program->Form1->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form1));
  EXPECT_TRUE(form1->Edit4->visibleRegion().isEmpty());
  EXPECT_TRUE(form1->RadioGroup3->visibleRegion().isEmpty());
  EXPECT_TRUE(form1->Label3->visibleRegion().isEmpty()) << "covered by the status bar";
  EXPECT_TRUE(form1->Label6->visibleRegion().isEmpty()) << "covered by the status bar";
  EXPECT_FALSE(form1->Label7->visibleRegion().isEmpty());
}

TEST_F(MainWindow, StatusBarPanelsAreReadableLabels) {
  EXPECT_EQ(form1->StatusBar1->PanelWidth(0), form1->width() / 2);
  EXPECT_EQ(form1->StatusBar1->PanelWidth(1), 537);
  EXPECT_EQ(form1->StatusBar1->PanelText(0), "    /nonexistent/kavrin-port  8  N  1 ,  38400");
  EXPECT_EQ(form1->StatusBar1->PanelText(1), "Open serial port fails, re-select the serial port ");
  for (int i = 0; i < 2; ++i) {
    QLabel *panel = form1->StatusBar1->Panel(i);
    EXPECT_FALSE(panel->accessibleName().isEmpty());
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(panel);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), panel->accessibleName());
  }
}

TEST_F(MainWindow, ControlsExposeTheirTextsToAssistiveTechnology) {
  struct Check {
    QWidget *widget;
    QString name;
  } checks[] = {{form1->Button8, "Set "},
                {form1->Button2, "load"},
                {form1->Edit1, "Chip Select"},
                {form1->Edit3, "FileName"},
                {form1->Edit5, "Programming count N"},
                {form1->CheckBox(7), "Sector7"},
                {form1->Label7, "0 %"}};
  for (const auto &c : checks) {
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(c.widget);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), c.name) << c.widget->objectName().toStdString();
  }
  QAccessibleInterface *box = QAccessible::queryAccessibleInterface(form1->CheckBox(3));
  EXPECT_TRUE(box->state().checked);
  form1->CheckBox(3)->setChecked(false);
  EXPECT_FALSE(box->state().checked);
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(form1->Edit1)->state().readOnly);
}

TEST_F(MainWindow, TimersStartDisabledWithTheirIntervals) {
  EXPECT_FALSE(form1->Session().ProgressRunning());
  EXPECT_EQ(form1->Session().ProgressIntervalMs(), 200);
  EXPECT_FALSE(form1->Session().ElapsedRunning());
}

TEST_F(MainWindow, SecondaryWindowsExistHidden) {
  EXPECT_FALSE(program->Form2->isVisible());
  EXPECT_EQ(program->Form2->windowTitle(), "KavrinMCU型号");
  EXPECT_EQ(program->Form2->size(), QSize(541, 442));
  EXPECT_EQ(program->Form2->Memo1->geometry(), QRect(0, 0, 537, 441));
  EXPECT_EQ(program->Form2->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(program->Form2->Memo1->font().pixelSize(), 16);

  EXPECT_FALSE(program->Form3->isVisible());
  EXPECT_EQ(program->Form3->windowTitle(), "读出操作");
  EXPECT_EQ(program->Form3->size(), QSize(578, 442));
  EXPECT_EQ(program->Form3->pos(), QPoint(518, 221));
  EXPECT_EQ(program->Form3->Label1->text(), "XXXX:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    ");
  EXPECT_EQ(program->Form3->Memo1->geometry(), QRect(0, 32, 577, 409));

  EXPECT_FALSE(program->Form4->isVisible());
  EXPECT_EQ(program->Form4->windowTitle(), "读出文件缓冲");
  EXPECT_EQ(program->Form4->size(), QSize(578, 466));
  EXPECT_EQ(program->Form4->Label1->text(), "XXXX:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    ");
  EXPECT_EQ(program->Form4->Memo1->geometry(), QRect(0, 24, 577, 441));

  for (QPlainTextEdit *memo : {program->Form3->Memo1, program->Form4->Memo1}) {
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    EXPECT_EQ(memo->font().pixelSize(), 19);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  }
  for (QWidget *w : {static_cast<QWidget *>(program->Form2.get()), static_cast<QWidget *>(program->Form3.get()),
                     static_cast<QWidget *>(program->Form4.get())}) {
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  }
}

TEST_F(MainWindow, SharedStateStartsAtItsInitialValues) {
  const SharedState &s = program->State;
  EXPECT_EQ(s.AppDir, folder.Path());
  for (const QString *text : {&s.ChipName, &s.ChipStart, &s.ChipEnd, &s.ChipSizeText, &s.DataflashCode, &s.ChipSizeK})
    EXPECT_TRUE(text->isEmpty());
  EXPECT_EQ(form1->Session().CurrentPhase(), session::BoxSession::Phase::Idle);
  EXPECT_EQ(s.ImageSize, 0u);
  ASSERT_EQ(s.ImageText.size(), 65536u);
  EXPECT_TRUE(std::all_of(s.ImageText.begin(), s.ImageText.end(), [](const std::string &t) { return t.empty(); }));
}

TEST_F(MainWindow, AnUncaughtErrorReachesTheErrorBoxAndTheProgramGoesOn) {
  form1->Guarded([] { throw base::EConvertError(QStringLiteral("'x' is not a valid integer value")); });
  form1->Guarded([] { throw std::runtime_error("plain failure"); });
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[0].kind, RecordingDialogs::Box::Error);
  EXPECT_EQ(dialogs.boxes[0].text, "'x' is not a valid integer value");
  EXPECT_EQ(dialogs.boxes[1].text, "plain failure");
  // The window still works afterwards.
  form1->Button4->click();
  form1->Button3->click();
  EXPECT_TRUE(form1->isEnabled());
}

TEST_F(MainWindow, ClosingTheMainWindowEndsTheProgram) {
  form1->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form1));
  // Run the message loop as the program does; closing the main window must end
  // it although the three other windows still exist (hidden).
  QTimer::singleShot(0, form1, [this] { form1->close(); });
  QTimer safety;
  safety.setSingleShot(true);
  QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  safety.start(5000);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(form1->isVisible());
  EXPECT_FALSE(form1->Session().IsOpen());
}

TEST_F(MainWindow, DigitFilterBeepsAndDiscards) {
  form1->Edit5->setText(QString());
  form1->Edit5->setFocus();
  QTest::keyClicks(form1->Edit5, QStringLiteral("1a2 3"));
  EXPECT_EQ(form1->Edit5->text(), "123");
  EXPECT_EQ(dialogs.beeps, 2);
  QTest::keyClick(form1->Edit5, Qt::Key_Backspace);
  EXPECT_EQ(form1->Edit5->text(), "12");
  EXPECT_EQ(dialogs.beeps, 2);
  form1->Edit4->setText(QString());
  QTest::keyClicks(form1->Edit4, QStringLiteral("9x87654"));
  EXPECT_EQ(form1->Edit4->text(), "9876") << "at most four characters";
  EXPECT_EQ(dialogs.beeps, 3);
  for (QChar c : QStringLiteral("0123456789"))
    EXPECT_TRUE(form1->Edit4KeyPress(c));
  EXPECT_TRUE(form1->Edit5KeyPress(QChar(8)));
  EXPECT_TRUE(form1->Edit5KeyPress(QChar(13)));
  EXPECT_FALSE(form1->Edit5KeyPress(QLatin1Char('-')));
}

TEST_F(MainWindow, AboutTellsTheVersion) {
  form1->AboutAction->trigger();
  ASSERT_EQ(dialogs.Texts(RecordingDialogs::Box::About).size(), 1);
  const QString text = dialogs.Texts(RecordingDialogs::Box::About)[0];
  EXPECT_TRUE(text.contains(QStringLiteral("Version ") + QString::fromUtf8(base::ProgramVersion())))
      << text.toStdString();
}

} // namespace
