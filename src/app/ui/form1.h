#pragma once
// TForm1, the main window. The designed client area (811 x 432) holds every
// control at its designed place; a menu bar above it reaches the operations the
// design gives no control. Handlers carry their control's name; each reads its
// controls, runs the operation through the window's BoxSession (which owns the
// port Comm1 and the clocks Timer1 and Timer2) or the pure logic of a
// subsystem, and shows what comes back:
//   form1.cpp, form1_port.cpp   start-up, close, port selection, key filters
//   form1_operations.cpp        set, verify, read-out, erase-program-verify,
//                               reply handling, clocks, read-out view
//   form1_load.cpp              load, file buffer view
//   form1_chip.cpp              chip type list, dataflash use, sectors
// Everything runs on the GUI thread; handlers never wait for the box.

#include "app/shared_state.h"
#include "base/language.h"
#include "base/timer.h"

#include "records/record.h"
#include "records/store_location.h"
#include "serial/serial_devices.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QTimer;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class BoxSession;
struct Attempt;
class Dialogs;
struct InstallPaths;
class SerialLayer;
class TComm;
class TForm2;
class TForm3;
class TForm4;
class TRadioGroup;
class TStatusBar;

class TForm1 : public QMainWindow {
  Q_OBJECT
public:
  static constexpr int kClientWidth = 811;
  static constexpr int kClientHeight = 432;
  static inline const QString kCaption = QStringLiteral("FOR PAC52XX--Brontel");

  // Creates the window; FormCreate runs before the constructor returns.
  TForm1(SharedState &state, Dialogs &dialogs, std::shared_ptr<SerialLayer> serialLayer, const InstallPaths &paths);
  ~TForm1() override;

  // The secondary windows, created after the main window.
  void AttachForms(TForm2 *form2, TForm3 *form3, TForm4 *form4);

  // The designed client area (central widget).
  QWidget *ClientArea() const { return client_; }

  // --- Handlers -------------------------------------------------------------
  // Application shell
  void FormCreate();
  void FormClose();
  void ComboBox1Change();
  // Returns false when the character is discarded.
  bool Edit4KeyPress(QChar key);
  bool Edit5KeyPress(QChar key);
  // Programmer protocol
  void Button8Click();
  void Button5Click();
  void Button7Click();
  void Button6Click();
  void Comm1ReceiveData(TComm *sender, const uint8_t *buffer, uint16_t length);
  // The serial threads gave up: the device went away (adapter pulled, box gone).
  void Comm1RequestHangup();
  void Timer1Timer();
  void Timer2Timer();
  void Label8Click();
  // Firmware image
  void Button2Click();
  void Edit3Click();
  // Chip configuration
  void Button1Click();
  // The line double-clicked in the chip type list.
  void ChipLineChosen(const QString &line);
  void RadioGroup3Click();
  void Button3Click();
  void Button4Click();

  // Runs a handler under the program's error handling (error box, program goes on).
  template <typename F> void Guarded(F &&handler);

  // --- Controls (object names as designed) -----------------------------------
  TRadioGroup *RadioGroup1 = nullptr;
  TRadioGroup *RadioGroup2 = nullptr;
  TRadioGroup *RadioGroup3 = nullptr;
  QLabel *Label1 = nullptr;
  QLabel *Label2 = nullptr;
  QLabel *Label3 = nullptr;
  QLabel *Label4 = nullptr;
  QLabel *Label5 = nullptr;
  QLabel *Label6 = nullptr;
  QLabel *Label7 = nullptr;
  QLabel *Label8 = nullptr;
  QLabel *Label9 = nullptr;
  QLabel *Label11 = nullptr;
  QLineEdit *Edit1 = nullptr;
  QLineEdit *Edit2 = nullptr;
  QLineEdit *Edit3 = nullptr;
  QLineEdit *Edit4 = nullptr;
  QLineEdit *Edit5 = nullptr;
  QPushButton *Button1 = nullptr;
  QPushButton *Button2 = nullptr;
  QPushButton *Button3 = nullptr;
  QPushButton *Button4 = nullptr;
  QPushButton *Button8 = nullptr;
  std::array<QCheckBox *, 32> CheckBoxes{}; // CheckBox1 .. CheckBox32
  QCheckBox *CheckBox(int n) const { return CheckBoxes.at(size_t(n - 1)); }
  QComboBox *ComboBox1 = nullptr;
  TStatusBar *StatusBar1 = nullptr;
  TTimer *Timer1 = nullptr;
  TTimer *Timer2 = nullptr;
  TComm *Comm1 = nullptr;

  // Menu entries for the operations the designed window has no control for.
  QAction *VerifyAction = nullptr;
  QAction *ReadOutAction = nullptr;
  QAction *EraseProgramVerifyAction = nullptr;
  QAction *ReadOutViewAction = nullptr;
  QAction *FileBufferViewAction = nullptr;
  QAction *ProductionRecordsAction = nullptr;
  QAction *AboutAction = nullptr;
  QAction *TypeSelectAction = nullptr;
  // Language: the designed texts or English, kept in sysset.ini ([ui] language).
  QAction *DesignedLanguageAction = nullptr;
  QAction *EnglishLanguageAction = nullptr;
  void ChooseLanguage(Language language);

  SharedState &State() { return state_; }
  BoxSession &Session() { return *session_; }

  // --- Production records ------------------------------------------------------
  // What the window knows of an attempt beyond the session: for its record.
  records::Record AttemptRecordOf(const Attempt &attempt) const;
  // The store the records window reads ("View > Production records").
  void SetRecordsStore(const records::StoreLocation &store);
  // The store cannot take records (they wait on this PC), or takes them again.
  void RecordsWarning(const QString &detail);
  void RecordsRecovered();
  void ShowProductionRecords();

  // Where the port list looks for serial devices (a test folder instead of /dev and /sys).
  void SetPortListRoots(const PortListRoots &roots) { portRoots_ = roots; }
  Dialogs &DialogsRef() { return dialogs_; }
  TForm2 *Form2() const { return form2_; }
  TForm3 *Form3() const { return form3_; }
  TForm4 *Form4() const { return form4_; }

protected:
  void closeEvent(QCloseEvent *event) override;
  void changeEvent(QEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateControls();
  void CreateMenu();
  void SetTabOrder();
  // Shows every text in the language in use: the designed texts of the
  // controls (kept as they were set, see ShowDesigned) and the menus.
  void RetranslateUi();
  // Sets a label to a designed text, shown in the operator's language.
  void ShowDesigned(QLabel *label, const QString &designed);
  // Panel 1 as the port's state; a later notice there is replaced by it again
  // when the next load starts. `detail` says why an open failed.
  void ShowPortStatus(const QString &text, const QString &detail = {});
  // Opens the port and reports the outcome in panel 1 (`opened` on success,
  // `failed` otherwise, with the reason as detail and on standard error).
  void TryOpenPort(const QString &opened, const QString &failed);
  void FormCreatePortSteps();
  QString SettingsPath() const { return settingsPath_; }
  QString ChipListPath() const { return chipListPath_; }

  // Shows what the session reports and runs its steps as this window's handlers.
  void ConnectSession();
  // The port closed because its device went away.
  void PortLost(const QString &detail);
  // A second of the watch for a lost port: reopens it once it is back.
  void WatchLostPort();
  // COM1..COM9, then the serial devices attached now, by-id names first, each
  // with what is known of it (driver, USB ids, serial number, access) as tooltip.
  void RefreshPortList();

  SharedState &state_;
  Dialogs &dialogs_;
  BoxSession *session_ = nullptr;
  const QString settingsPath_;
  const QString chipListPath_;
  QWidget *client_ = nullptr;
  TForm2 *form2_ = nullptr;
  TForm3 *form3_ = nullptr;
  TForm4 *form4_ = nullptr;

  QMenu *operationsMenu_ = nullptr;
  QMenu *viewMenu_ = nullptr;
  QMenu *languageMenu_ = nullptr;
  QMenu *helpMenu_ = nullptr;

  QString portStatus_;
  QString portDetail_;
  // While a lost port is gone: tries it once a second, never resumes an operation.
  QTimer *portWatch_ = nullptr;
  PortListRoots portRoots_;
  std::optional<records::StoreLocation> recordsStore_;
  // The file of the load in progress, for its record: path, SHA-256, checksum text, sectors.
  struct LoadedFile {
    QString path, sha256, checksum, sectors;
  } loadFile_;
};

#include "app/ui/guard.h"

template <typename F> void TForm1::Guarded(F &&handler) { RunGuarded(dialogs_, this, std::forward<F>(handler)); }
