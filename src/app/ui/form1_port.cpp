// Port selection, the settings file and the digit-only key filters.
#include "app/settings_file.h"
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "serial/comm.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace {
QString PortSettingsText(const QString &portName) {
  return QStringLiteral("    ") + portName + QStringLiteral("  8  N  1 ,  38400");
}
const QString kOpenedAtStart = QStringLiteral("Open serial port successfully");
const QString kOpenedOnChange = QStringLiteral("Openserial port  successfully");
const QString kOpenFailed = QStringLiteral("Open serial port fails, re-select the serial port ");
} // namespace

void TForm1::ApplyLineSettings(const QString &portName) {
  Comm1->SetCommName(portName);
  Comm1->SetBaudRate(38400);
  Comm1->SetByteSize(TByteSize::_8);
  Comm1->SetParity(TParity::None);
  Comm1->SetStopBits(TStopBits::_1);
}

void TForm1::FormCreatePortSteps() {
  // The settings path was resolved when the window was constructed.
  const QString portName = SettingsFile(SettingsPath()).ReadString(kPortSection, kPortKey, kDefaultPortName);
  {
    const QSignalBlocker block(ComboBox1); // setting the text is not a change by the operator
    ComboBox1->setEditText(portName);
  }
  // Comm1's designed settings besides the line settings.
  Comm1->SetDtrControl(TDtrControl::DtrDisable);
  Comm1->SetRtsControl(TRtsControl::RtsDisable);
  Comm1->SetOutx_XonXoffFlow(false);
  Comm1->SetInx_XonXoffFlow(false);
  Comm1->SetReadIntervalTimeout(100);
  ApplyLineSettings(portName);
  StatusBar1->SetPanelText(0, PortSettingsText(portName));
  try {
    Comm1->OpenPort();
    StatusBar1->SetPanelText(1, kOpenedAtStart);
  } catch (const Exception &) {
    StatusBar1->SetPanelText(1, kOpenFailed);
  }
}

void TForm1::ComboBox1Change() {
  Comm1->ClosePort();
  const QString portName = ComboBox1->currentText();
  ApplyLineSettings(portName);
  StatusBar1->SetPanelText(0, PortSettingsText(portName));
  SettingsFile(SettingsPath()).WriteString(kPortSection, kPortKey, portName);
  try {
    Comm1->OpenPort();
    StatusBar1->SetPanelText(1, kOpenedOnChange);
  } catch (const Exception &) {
    StatusBar1->SetPanelText(1, kOpenFailed);
  }
}

namespace {
bool IsDigitKey(QChar key) {
  return key == QChar(8) || key == QChar(13) || (key >= QLatin1Char('0') && key <= QLatin1Char('9'));
}
} // namespace

bool TForm1::Edit4KeyPress(QChar key) {
  if (IsDigitKey(key))
    return true;
  dialogs_.Beep();
  return false;
}

bool TForm1::Edit5KeyPress(QChar key) { return Edit4KeyPress(key); }
