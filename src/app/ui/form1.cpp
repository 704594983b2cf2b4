#include "app/ui/form1.h"

#include "app/production/production_window.h"
#include "app/settings_file.h"
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form2.h"
#include "app/ui/line_window.h"
#include "base/install_paths.h"
#include "base/version.h"
#include "serial/serial_devices.h"
#include "session/box_session.h"
#include "session/operator_text.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>

namespace app {

namespace {

// The designed texts of the window's controls that an operator who does not
// read Chinese needs in English; the English designed captions stay as they are.
const char kSerialPortCaption[] = QT_TRANSLATE_NOOP("Window", "选择串口：");
const char kCountCaption[] = QT_TRANSLATE_NOOP("Window", "设定烧写次数：");
const char kDataflashCaption[] = QT_TRANSLATE_NOOP("Window", "Dataflash用作");
// The property that keeps a label's message (base::Message) while it shows a translation.
const char kDesignedText[] = "designedText";

QFont SongFont(int pixels, bool bold = false) { return DesignFont(QStringLiteral("宋体"), pixels, bold); }

void SetColors(QWidget *w, const QColor &text, const QColor *base = nullptr) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::ButtonText, text);
  if (base) {
    p.setColor(QPalette::Base, *base);
    p.setColor(QPalette::Window, *base);
    p.setColor(QPalette::Button, *base);
  }
  w->setPalette(p);
}

QLabel *MakeLabel(QWidget *parent, const char *name, int left, int top, const QString &caption, const QFont &font) {
  auto *label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  SetColors(label, Qt::black);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name, QRect geometry, const QString &text, const QFont &font,
                    const QString &accessibleName) {
  auto *edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  edit->setFont(font);
  edit->setAccessibleName(accessibleName);
  SetColors(edit, Qt::black);
  return edit;
}

QPushButton *MakeButton(QWidget *parent, const char *name, QRect geometry, const QString &caption) {
  auto *button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  button->setFont(SongFont(14));
  button->setAutoDefault(false);
  SetColors(button, Qt::black);
  return button;
}

} // namespace

TForm1::TForm1(SharedState &state, Dialogs &dialogs, std::shared_ptr<serial::SerialLayer> serialLayer,
               const base::InstallPaths &paths, base::Clock &clock)
    : state_(state), dialogs_(dialogs), settingsPath_(paths.SettingsFile), chipListPath_(paths.ChipListFile),
      trustedKeysFolder_(paths.TrustedKeysFolder), clock_(clock), serialLayer_(serialLayer) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(kCaption);
  // Fixed single border, system menu and minimise only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(SongFont(16));

  state_.AppDir = paths.ExecutableFolder;

  session_ = new session::BoxSession(std::move(serialLayer), clock, this);
  // A lost port is tried once a second until it is back; no operation is resumed.
  session_->WatchForReturn(true);

  CreateControls();
  ConnectSession();
  CreateMenu();
  SetTabOrder();
  RetranslateUi();

  // The designed client area stays exactly as designed; the menu bar sits above it.
  client_->setFixedSize(kClientWidth, kClientHeight);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();

  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::AttachForms(TForm2 *form2, TForm3 *form3, TForm4 *form4) {
  form2_ = form2;
  form3_ = form3;
  form4_ = form4;
  if (form2_)
    form2_->OnChipLine = [this](const QString &line) { Guarded([&] { ChipLineChosen(line); }); };
}

void TForm1::CreateControls() {
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("ClientArea"));
  client_->setAutoFillBackground(true);
  setCentralWidget(client_);
  QWidget *c = client_;
  const QColor silver(0xC0, 0xC0, 0xC0);
  const QColor black(Qt::black);

  RadioGroup1 =
      new TRadioGroup(c, QStringLiteral("Model Select"), {QStringLiteral("Online"), QStringLiteral("Offline")}, 2);
  RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
  RadioGroup1->setGeometry(24, 8, 169, 57);
  RadioGroup1->SetItemIndex(1);

  RadioGroup2 =
      new TRadioGroup(c, QStringLiteral("Power Supply"), {QStringLiteral("5V "), QStringLiteral("Nooutput")}, 3);
  RadioGroup2->setObjectName(QStringLiteral("RadioGroup2"));
  RadioGroup2->setGeometry(200, 8, 265, 57);
  RadioGroup2->SetItemIndex(0);
  for (auto *g : {RadioGroup1, RadioGroup2}) {
    g->setFont(SongFont(14));
    SetColors(g, Qt::black);
  }

  Label8 = MakeLabel(c, "Label8", 520, 32, QStringLiteral("N:"), SongFont(16));
  Edit5 = MakeEdit(c, "Edit5", QRect(560, 32, 89, 24), QStringLiteral("999999"), SongFont(16),
                   QStringLiteral("Programming count N"));
  Edit5->setMaxLength(6);
  Button8 = MakeButton(c, "Button8", QRect(672, 24, 75, 33), QStringLiteral("Set "));

  Label2 = MakeLabel(c, "Label2", 16, 88, QStringLiteral("Chip Select："), SongFont(21));
  Edit1 = MakeEdit(c, "Edit1", QRect(152, 80, 265, 29), QStringLiteral("PAC52XX"), SongFont(20),
                   QStringLiteral("Chip Select"));
  Button1 = MakeButton(c, "Button1", QRect(432, 80, 105, 25), QStringLiteral("Type Select"));
  Button1->setEnabled(false);

  Label4 = MakeLabel(c, "Label4", 16, 128, QStringLiteral("Flash："), SongFont(21));
  Edit2 = MakeEdit(c, "Edit2", QRect(152, 118, 265, 29), QStringLiteral("0000--FFFFH  32K"), SongFont(21),
                   QStringLiteral("Flash"));
  Label5 = MakeLabel(c, "Label5", 16, 168, QStringLiteral("FileName："), SongFont(21));
  Edit3 = MakeEdit(c, "Edit3", QRect(152, 156, 265, 33), QString(), SongFont(20), QStringLiteral("FileName"));
  for (auto *e : {Edit1, Edit2, Edit3}) {
    e->setReadOnly(true);
    SetColors(e, Qt::black, &silver);
    // A text longer than the box shows its beginning, as a display field should.
    connect(e, &QLineEdit::textChanged, e, [e] { e->setCursorPosition(0); });
  }
  Button2 = MakeButton(c, "Button2", QRect(432, 160, 75, 25), QStringLiteral("load"));

  Label11 = MakeLabel(c, "Label11", 176, 192, QString(), SongFont(16));
  SetColors(Label11, Qt::gray);
  Label11->resize(320, 20);

  Label1 = MakeLabel(c, "Label1", 32, 296, QStringLiteral("Operate Rate ："), SongFont(16));
  Label7 = MakeLabel(c, "Label7", 216, 272, QStringLiteral("0 %"), SongFont(56, true));
  SetColors(Label7, Qt::blue);
  Label7->resize(std::max(87, Label7->fontMetrics().horizontalAdvance(QStringLiteral("100 %")) + 4), 56);
  Label9 = MakeLabel(c, "Label9", 384, 304, session::ElapsedText(0, 0).Designed(), SongFont(16));
  Label9->setProperty(kDesignedText, QVariant::fromValue(session::ElapsedText(0, 0)));
  SetColors(Label9, Qt::gray);
  Label9->resize(160, Label9->height());

  for (int n = 1; n <= 32; ++n) {
    auto *box = new QCheckBox(QStringLiteral("Sector%1").arg(n), c);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(n));
    const int left = n <= 16 ? 584 : 696;
    const int top = 80 + 16 * ((n - 1) % 16);
    box->setGeometry(left, top, 97, 17);
    box->setFont(SongFont(13));
    SetColors(box, Qt::black);
    box->setChecked(true);
    CheckBoxes[size_t(n - 1)] = box;
  }
  Button3 = MakeButton(c, "Button3", QRect(576, 352, 89, 25), QStringLiteral("Select ALL"));
  Button4 = MakeButton(c, "Button4", QRect(696, 352, 89, 25), QStringLiteral("Remove ALL"));

  auto *portBox = new TPortComboBox(c);
  portBox->OnPopup = [this] { RefreshPortList(); };
  ComboBox1 = portBox;
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  // Inline completion would turn "C" into "COM1" and open that: every key
  // must change the text to exactly what was typed.
  ComboBox1->setCompleter(nullptr);
  ComboBox1->setGeometry(40, 368, 57, 24);
  ComboBox1->setFont(SongFont(12));
  ComboBox1->setAccessibleName(QStringLiteral("Serial port"));
  for (int i = 1; i <= 9; ++i)
    ComboBox1->addItem(QStringLiteral("COM%1").arg(i));
  // Then the serial devices this machine has, so the box can be picked without typing a path.
  RefreshPortList();
  SetColors(ComboBox1, Qt::white, &black);
  ComboBox1->setEditText(QStringLiteral("COM5"));

  // Covered by the status bar, as designed.
  Label3 = MakeLabel(c, "Label3", 24, 408, QString::fromUtf8(kSerialPortCaption), SongFont(16));
  Label6 = MakeLabel(c, "Label6", 312, 408, QString::fromUtf8(kCountCaption), SongFont(16));
  for (QLabel *label : {Label3, Label6})
    label->setProperty(kDesignedText, QVariant::fromValue(base::Message(label->text())));

  StatusBar1 = new TStatusBar(c, {50, 537});
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setGeometry(0, 398, 811, 34);
  StatusBar1->setFont(SongFont(19));
  const QColor statusBack(0x3C, 0x3C, 0x3C);
  SetColors(StatusBar1, Qt::white, &statusBack);
  for (int i = 0; i < 2; ++i)
    SetColors(StatusBar1->Panel(i), Qt::white, &statusBack);
  StatusBar1->raise();

  // Above the client area: not visible, still in the tab order.
  Edit4 =
      MakeEdit(c, "Edit4", QRect(720, -111, 89, 24), QStringLiteral("0000"), SongFont(16), QStringLiteral("Set count"));
  Edit4->setMaxLength(4);
  SetColors(Edit4, Qt::white, &black);
  RadioGroup3 =
      new TRadioGroup(c, QString::fromUtf8(kDataflashCaption), {QStringLiteral("CODE"), QStringLiteral("EEPROM")}, 2);
  RadioGroup3->setObjectName(QStringLiteral("RadioGroup3"));
  RadioGroup3->setGeometry(432, -100, 137, 41);
  RadioGroup3->setFont(SongFont(12));
  SetColors(RadioGroup3, Qt::blue);
  RadioGroup3->SetItemIndex(0);
  RadioGroup3->setEnabled(false);

  // Wiring.
  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
  connect(Button4, &QPushButton::clicked, this, [this] { Guarded([this] { Button4Click(); }); });
  connect(Button8, &QPushButton::clicked, this, [this] { Guarded([this] { Button8Click(); }); });
  RadioGroup3->OnClick = [this] { Guarded([this] { RadioGroup3Click(); }); };
  connect(ComboBox1, &QComboBox::editTextChanged, this, [this] { Guarded([this] { ComboBox1Change(); }); });
  // Choosing the same port again is no change of text, but it is how the
  // operator asks for a closed (lost, failed) port to be opened again.
  connect(ComboBox1, &QComboBox::activated, this, [this] {
    if (!session_->IsOpen())
      Guarded([this] { ComboBox1Change(); });
  });
  Edit3->installEventFilter(this);
  for (QLineEdit *edit : {Edit4, Edit5}) {
    edit->installEventFilter(this);
    // Typed characters pass the key filter; what is pasted or dropped is held
    // to the same rule here.
    edit->setValidator(new DigitsOnlyValidator(edit, [this] { dialogs_.Beep(); }));
  }
}

void TForm1::CreateMenu() {
  // Texts come from RetranslateUi, in the language in use.
  operationsMenu_ = menuBar()->addMenu(QString());
  VerifyAction = operationsMenu_->addAction(QString());
  VerifyAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
  ReadOutAction = operationsMenu_->addAction(QString());
  ReadOutAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
  EraseProgramVerifyAction = operationsMenu_->addAction(QString());
  EraseProgramVerifyAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
  operationsMenu_->addSeparator();
  TypeSelectAction = operationsMenu_->addAction(QString());
  TypeSelectAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
  operationsMenu_->addSeparator();
  OpenJobAction = operationsMenu_->addAction(QString());
  OpenJobAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+J")));
  SaveJobAction = operationsMenu_->addAction(QString());
  viewMenu_ = menuBar()->addMenu(QString());
  ReadOutViewAction = viewMenu_->addAction(QString());
  ReadOutViewAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")));
  FileBufferViewAction = viewMenu_->addAction(QString());
  FileBufferViewAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
  viewMenu_->addSeparator();
  ProductionRecordsAction = viewMenu_->addAction(QString());
  ProductionRecordsAction->setEnabled(false); // until a store is given
  LineAction = viewMenu_->addAction(QString());
  LineAction->setEnabled(false);

  // Each language by its own name, the same in every language.
  languageMenu_ = menuBar()->addMenu(QString());
  auto *languages = new QActionGroup(this);
  DesignedLanguageAction = languageMenu_->addAction(QStringLiteral("中文"));
  EnglishLanguageAction = languageMenu_->addAction(QStringLiteral("English"));
  for (QAction *action : {DesignedLanguageAction, EnglishLanguageAction}) {
    action->setCheckable(true);
    languages->addAction(action);
  }
  connect(DesignedLanguageAction, &QAction::triggered, this,
          [this] { Guarded([this] { ChooseLanguage(base::Language::Designed); }); });
  connect(EnglishLanguageAction, &QAction::triggered, this,
          [this] { Guarded([this] { ChooseLanguage(base::Language::English); }); });

  helpMenu_ = menuBar()->addMenu(QString());
  AboutAction = helpMenu_->addAction(QString());
  connect(AboutAction, &QAction::triggered, this, [this] {
    dialogs_.ShowAbout(this, QCoreApplication::translate("Window", "Kavrin Programer\nVersion %1\n\n"
                                                                   "Drives the PAC52XX flash programmer box over a "
                                                                   "serial line (38400 baud, 8N1).")
                                 .arg(QString::fromUtf8(base::ProgramVersion())));
  });

  connect(VerifyAction, &QAction::triggered, this, [this] { Guarded([this] { Button5Click(); }); });
  connect(ReadOutAction, &QAction::triggered, this, [this] { Guarded([this] { Button7Click(); }); });
  connect(EraseProgramVerifyAction, &QAction::triggered, this, [this] { Guarded([this] { Button6Click(); }); });
  connect(ReadOutViewAction, &QAction::triggered, this, [this] { Guarded([this] { Label8Click(); }); });
  connect(FileBufferViewAction, &QAction::triggered, this, [this] { Guarded([this] { Edit3Click(); }); });
  connect(OpenJobAction, &QAction::triggered, this, [this] { Guarded([this] { OpenJobFromMenu(); }); });
  connect(SaveJobAction, &QAction::triggered, this, [this] { Guarded([this] { SaveJob(); }); });
  connect(ProductionRecordsAction, &QAction::triggered, this, [this] { Guarded([this] { ShowProductionRecords(); }); });
  connect(LineAction, &QAction::triggered, this, [this] { Guarded([this] { ShowLine(); }); });
  connect(TypeSelectAction, &QAction::triggered, this, [this] {
    if (Button1->isEnabled())
      Guarded([this] { Button1Click(); });
  });
  // "Type Select" is offered exactly when its button is enabled.
  TypeSelectAction->setEnabled(Button1->isEnabled());
  Button1->installEventFilter(this);
}

void TForm1::SetTabOrder() {
  std::vector<QWidget *> order = {Button1, Button2,   RadioGroup1, RadioGroup2, Edit1,       Edit2,
                                  Edit3,   ComboBox1, Button8,     Edit4,       RadioGroup3, Edit5};
  for (auto *box : CheckBoxes)
    order.push_back(box);
  order.push_back(Button3);
  order.push_back(Button4);
  // A radio group takes part through its buttons.
  std::vector<QWidget *> chain;
  for (QWidget *w : order) {
    if (auto *group = qobject_cast<TRadioGroup *>(w)) {
      for (int i = 0; i < group->Count(); ++i)
        chain.push_back(group->Button(i));
    } else {
      chain.push_back(w);
    }
  }
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    QWidget::setTabOrder(chain[i], chain[i + 1]);
}

void TForm1::RetranslateUi() {
  for (QLabel *label : client_->findChildren<QLabel *>())
    if (const QVariant designed = label->property(kDesignedText); designed.isValid())
      label->setText(session::Shown(designed.value<base::Message>()));
  // Labels size themselves to their text; the others keep their designed size.
  Label3->adjustSize();
  Label6->adjustSize();
  RadioGroup3->setTitle(session::ShownText(QString::fromUtf8(kDataflashCaption)));
  RadioGroup3->setAccessibleName(RadioGroup3->title()); // what a screen reader says, hidden or not

  operationsMenu_->setTitle(QCoreApplication::translate("Window", "&Operations"));
  VerifyAction->setText(QCoreApplication::translate("Window", "&Verify"));
  ReadOutAction->setText(QCoreApplication::translate("Window", "&Read out"));
  EraseProgramVerifyAction->setText(QCoreApplication::translate("Window", "Erase + &program + verify"));
  TypeSelectAction->setText(QCoreApplication::translate("Window", "&Type Select..."));
  OpenJobAction->setText(QCoreApplication::translate("Window", "&Open job..."));
  SaveJobAction->setText(QCoreApplication::translate("Window", "&Save job..."));
  viewMenu_->setTitle(QCoreApplication::translate("Window", "&View"));
  ReadOutViewAction->setText(QCoreApplication::translate("Window", "&Read-out view"));
  FileBufferViewAction->setText(QCoreApplication::translate("Window", "&File buffer view"));
  ProductionRecordsAction->setText(QCoreApplication::translate("Window", "&Production records..."));
  LineAction->setText(QCoreApplication::translate("Window", "&Line..."));
  languageMenu_->setTitle(QCoreApplication::translate("Window", "&Language"));
  helpMenu_->setTitle(QCoreApplication::translate("Window", "&Help"));
  AboutAction->setText(QCoreApplication::translate("Window", "&About Kavrin Programer"));
  DesignedLanguageAction->setChecked(base::CurrentLanguage() == base::Language::Designed);
  EnglishLanguageAction->setChecked(base::CurrentLanguage() == base::Language::English);
}

void TForm1::ShowDesigned(QLabel *label, const base::Message &designed) {
  label->setProperty(kDesignedText, QVariant::fromValue(designed));
  label->setText(session::Shown(designed));
}

void TForm1::changeEvent(QEvent *event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::LanguageChange)
    RetranslateUi();
}

void TForm1::ChooseLanguage(base::Language language) {
  // The window changes at once; the choice is kept for the next start even
  // when the system's locale says otherwise.
  base::UseLanguage(language);
  RetranslateUi();
  SettingsFile(SettingsPath()).WriteString(kUiSection, kLanguageKey, base::LanguageName(language));
}

void TForm1::FormCreate() {
  Label7->setText(QStringLiteral("0 %"));
  // Centre by the window's outer size; no clamping to the screen.
  const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect();
  const QSize outer = frameGeometry().size();
  move((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
  StatusBar1->SetPanelWidth(0, width() / 2);
  FormCreatePortSteps();
  // The designed window has no control that would ever enable "Type Select";
  // the chip choice is what enables the load, so it is offered from the start.
  Button1->setEnabled(true);
}

void TForm1::FormClose() { session_->ClosePort(); }

void TForm1::closeEvent(QCloseEvent *event) {
  FormClose();
  event->accept();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress && (watched == Edit4 || watched == Edit5)) {
    auto *key = static_cast<QKeyEvent *>(event);
    const QString text = key->text();
    // Tab moves the focus and Delete (which carries the text 0x7F on X11)
    // edits: neither reaches the box as a character. Keys with Ctrl are
    // shortcuts; a paste among them is judged by the validator.
    const bool editingKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
                            key->key() == Qt::Key_Delete || (text.size() == 1 && text[0] == QChar(0x7F));
    if (text.size() == 1 && !editingKey && !key->modifiers().testFlag(Qt::ControlModifier)) {
      const bool pass = watched == Edit4 ? Edit4KeyPress(text[0]) : Edit5KeyPress(text[0]);
      return !pass;
    }
  } else if (event->type() == QEvent::MouseButtonRelease && watched == Edit3) {
    auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() == Qt::LeftButton && Edit3->rect().contains(mouse->position().toPoint()))
      Guarded([this] { Edit3Click(); });
  } else if (event->type() == QEvent::EnabledChange && watched == Button1) {
    TypeSelectAction->setEnabled(Button1->isEnabled());
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::RefreshPortList() {
  static constexpr int kFixedItems = 9; // COM1..COM9
  // Neither the text nor the port changes: the list is only brought up to date.
  const QSignalBlocker block(ComboBox1);
  const QString text = ComboBox1->currentText();
  while (ComboBox1->count() > kFixedItems)
    ComboBox1->removeItem(kFixedItems);
  for (const serial::SerialDeviceInfo &info : serial::ListSerialPorts(portRoots_, serial::PortCheck::Quiet)) {
    if (info.access == serial::PortAccess::Missing)
      continue;
    QStringList tip{info.name};
    if (info.device != info.name)
      tip << QStringLiteral("device: ") + info.device;
    if (!info.driver.isEmpty())
      tip << QStringLiteral("driver: ") + info.driver;
    if (!info.UsbId().isEmpty())
      tip << QStringLiteral("USB %1%2%3")
                 .arg(info.UsbId(), info.serial.isEmpty() ? QString() : QStringLiteral(", serial ") + info.serial,
                      info.manufacturer.isEmpty() ? QString() : QStringLiteral(", ") + info.manufacturer);
    tip << QStringLiteral("access: ") + serial::PortAccessText(info);
    ComboBox1->addItem(info.name);
    ComboBox1->setItemData(ComboBox1->count() - 1, tip.join(QLatin1Char('\n')), Qt::ToolTipRole);
  }
  ComboBox1->setEditText(text);
  // The list is wider than the box, so whole names can be read.
  ComboBox1->view()->setMinimumWidth(ComboBox1->view()->sizeHintForColumn(0) + 24);
}

} // namespace app
