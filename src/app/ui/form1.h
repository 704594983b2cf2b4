#pragma once
// TForm1, the main window. The designed client area (811 x 432) holds every
// control at its designed place; a menu bar above it reaches the operations the
// design gives no control. Handlers carry their control's name and are defined
// in the subsystem that owns them:
//   app/ui/form1.cpp, form1_port.cpp     start-up, close, port selection, key filters
//   protocol/ui/form1_operations.cpp     set, verify, read-out, erase-program-verify,
//                                        reply handling, clocks, read-out view
//   image/ui/form1_load.cpp              load, file buffer view
//   chip/ui/form1_chip.cpp               chip type list, dataflash use, sectors
// Everything runs on the GUI thread; handlers never wait for the box.

#include "app/shared_state.h"
#include "base/timer.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
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
  void Timer1Timer();
  void Timer2Timer();
  void Label8Click();
  // Firmware image
  void Button2Click();
  void Edit3Click();
  // Chip configuration
  void Button1Click();
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
  QAction *TypeSelectAction = nullptr;

  SharedState &State() { return state_; }
  Dialogs &DialogsRef() { return dialogs_; }
  TForm2 *Form2() const { return form2_; }
  TForm3 *Form3() const { return form3_; }
  TForm4 *Form4() const { return form4_; }

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateControls();
  void CreateMenu();
  void SetTabOrder();
  void ApplyLineSettings(const QString &portName);
  void FormCreatePortSteps();
  QString SettingsPath() const { return settingsPath_; }
  QString ChipListPath() const { return chipListPath_; }

  // Protocol helpers (protocol/ui/form1_operations.cpp).
  void StartClocks(int progressIntervalMs);
  void StopClocks();
  void ShowFullProgress();

  SharedState &state_;
  Dialogs &dialogs_;
  const QString settingsPath_;
  const QString chipListPath_;
  QWidget *client_ = nullptr;
  TForm2 *form2_ = nullptr;
  TForm3 *form3_ = nullptr;
  TForm4 *form4_ = nullptr;

  // A read-out data block split across bursts is gathered here until whole.
  std::vector<uint8_t> readOutPending_;
};

#include "app/ui/guard.h"

template <typename F> void TForm1::Guarded(F &&handler) { RunGuarded(dialogs_, this, std::forward<F>(handler)); }
