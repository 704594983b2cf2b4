#pragma once
// TForm1, the main window. The designed client area (811 x 432) holds every
// control at its designed place; a menu bar above it reaches the operations the
// design gives no control. Handlers carry their control's name; each reads its
// controls, translates them into a request to the window's BoxSession (which
// owns the port, the clocks and the operation) or runs the pure logic of a
// subsystem, and shows what comes back:
//   form1.cpp, form1_port.cpp   start-up, close, port selection, key filters
//   form1_operations.cpp        set, verify, read-out, erase-program-verify,
//                               what the session reports, read-out view
//   form1_load.cpp              load, file buffer view
//   form1_chip.cpp              chip type list, dataflash use, sectors
//   form1_job.cpp               "Save job...", opening a job in the production view
// Everything runs on the GUI thread; handlers never wait for the box.

#include "app/shared_state.h"
#include "base/box_choices.h"
#include "base/clock.h"
#include "base/language.h"

#include "chip/chip_list.h"
#include "records/record.h"
#include "records/store_location.h"
#include "serial/serial_devices.h"
#include "session/operation_request.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
namespace base {
struct InstallPaths;
}
namespace records {
class Recorder;
}
namespace serial {
class SerialLayer;
}
namespace session {
class AttemptRecords;
class BoxSession;
} // namespace session

namespace app {

class Dialogs;
class LineWindow;
class ProductionWindow;
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

  // Creates the window; FormCreate runs before the constructor returns. The
  // session's clocks take their time from `clock`.
  TForm1(SharedState &state, Dialogs &dialogs, std::shared_ptr<serial::SerialLayer> serialLayer,
         const base::InstallPaths &paths, base::Clock &clock = base::SystemClock());
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

  // Menu entries for the operations the designed window has no control for.
  QAction *VerifyAction = nullptr;
  QAction *ReadOutAction = nullptr;
  QAction *EraseProgramVerifyAction = nullptr;
  QAction *ReadOutViewAction = nullptr;
  QAction *FileBufferViewAction = nullptr;
  QAction *ProductionRecordsAction = nullptr;
  QAction *LineAction = nullptr;
  QAction *AboutAction = nullptr;
  QAction *TypeSelectAction = nullptr;
  QAction *SaveJobAction = nullptr;
  QAction *OpenJobAction = nullptr;
  // Language: the designed texts or English, kept in sysset.ini ([ui] language).
  QAction *DesignedLanguageAction = nullptr;
  QAction *EnglishLanguageAction = nullptr;
  void ChooseLanguage(base::Language language);

  // --- Production jobs -----------------------------------------------------------
  // Writes a job from the window's settings and the file loaded last, with
  // the name, retries, lot size and PIN the engineer gives.
  void SaveJob();
  // Asks for a job file and opens it.
  void OpenJobFromMenu();
  // Opens the job at `path` in the production view on `ports` (the job's own
  // when empty), in place of this window. A refused job is shown in an error
  // box with its reason and this window stays. False when refused.
  bool OpenJob(const QString &path, const QStringList &ports = {});
  // The production view while a job is open, else null.
  ProductionWindow *Production() const { return production_.get(); }

  SharedState &State() { return state_; }
  session::BoxSession &Session() { return *session_; }

  // --- Production records ------------------------------------------------------
  // Where each attempt is recorded as it ends, before its message is shown.
  void RecordAttemptsIn(session::AttemptRecords *records) { attempts_ = records; }
  // Where a production run records its units (null: nowhere).
  void RecordUnitsIn(records::Recorder *recorder) { recorder_ = recorder; }
  // The store the records window reads ("View > Production records").
  void SetRecordsStore(const records::StoreLocation &store);
  // The store cannot take records (they wait on this PC), or takes them again.
  void RecordsWarning(const QString &detail);
  void RecordsRecovered();
  void ShowProductionRecords();
  // The line at a glance ("View > Line..."), modeless, made on first use.
  LineWindow *ShowLine();

  // Where the port list looks for serial devices (a test folder instead of /dev and /sys).
  void SetPortListRoots(const serial::PortListRoots &roots) { portRoots_ = roots; }
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
  // Sets a label to a message, shown in the operator's language.
  void ShowDesigned(QLabel *label, const base::Message &designed);
  // Panel 1 as the port's state; a later notice there is replaced by it again
  // when the next load starts. `detail` says why an open failed.
  void ShowPortStatus(const QString &text, const QString &detail = {});
  // Opens the port and reports the outcome in panel 1 (`opened` on success,
  // `failed` otherwise, with the reason as detail and on standard error).
  void TryOpenPort(const QString &opened, const QString &failed);
  void FormCreatePortSteps();
  QString SettingsPath() const { return settingsPath_; }
  QString ChipListPath() const { return chipListPath_; }

  // Shows what the session reports.
  void ConnectSession();
  // The message of an operation's end, and the views pointed at a mismatch.
  void ShowEnd(const session::OperationEnd &end);
  // The port closed because its device went away; the session watches for its return.
  void PortLost(const QString &detail);
  void PortReturned();
  // A request with what every operation records: the chip as chosen.
  session::OperationRequest RequestFor(session::BoxOperation operation) const;
  // The radio choices in the engine's words. No mode item counts as offline,
  // as the box takes it; no supply item sends none; no dataflash item applies none.
  base::BoxMode ChosenMode() const;
  base::BoxSupply ChosenSupply() const;
  std::optional<chip::DataflashUse> ChosenDataflashUse() const;
  // COM1..COM9, then the serial devices attached now, by-id names first, each
  // with what is known of it (driver, USB ids, serial number, access) as tooltip.
  void RefreshPortList();

  SharedState &state_;
  Dialogs &dialogs_;
  session::BoxSession *session_ = nullptr;
  const QString settingsPath_;
  const QString chipListPath_;
  const QString trustedKeysFolder_; // whose keys release the jobs opened here
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
  serial::PortListRoots portRoots_;
  std::optional<records::StoreLocation> recordsStore_;
  std::unique_ptr<LineWindow> line_;
  session::AttemptRecords *attempts_ = nullptr;
  // The file the last accepted load read, for "Save job...".
  struct LoadedFile {
    QString path;
    bool rawBinary = false;
    QString sha256;
    QString checksumCaption;
  };
  std::optional<LoadedFile> loaded_;
  std::unique_ptr<ProductionWindow> production_;
  // The production view closed: this window and its port come back.
  void ProductionClosed();
  void ReopenPortAfterProduction();
  base::Clock &clock_;
  // The serial layer the production view's boxes use, as this window's session does.
  std::shared_ptr<serial::SerialLayer> serialLayer_;
  records::Recorder *recorder_ = nullptr;
};

} // namespace app

#include "app/ui/guard.h"

namespace app {

template <typename F> void TForm1::Guarded(F &&handler) { RunGuarded(dialogs_, this, std::forward<F>(handler)); }

} // namespace app
