// Port selection, the settings file and the digit-only key filters.
#include "app/settings_file.h"
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "base/exception.h"
#include "serial/serial_layer.h"
#include "session/box_session.h"

#include <QComboBox>
#include <QDebug>
#include <QPushButton>
#include <QSignalBlocker>

namespace app {

namespace {
QString PortSettingsText(const QString &portName) {
  return QStringLiteral("    ") + portName + QStringLiteral("  8  N  1 ,  38400");
}
const QString kOpenedAtStart = QStringLiteral("Open serial port successfully");
const QString kOpenedOnChange = QStringLiteral("Openserial port  successfully");
} // namespace


void TForm1::FormCreatePortSteps() {
  // The settings path was resolved when the window was constructed.
  const QString portName = SettingsFile(SettingsPath()).ReadString(kPortSection, kPortKey, kDefaultPortName);
  {
    const QSignalBlocker block(ComboBox1); // setting the text is not a change by the operator
    ComboBox1->setEditText(portName);
  }
  session_->SetPortName(portName);
  StatusBar1->SetPanelText(0, PortSettingsText(portName));
  TryOpenPort(kOpenedAtStart, session::kOpenFailedText);
}

void TForm1::ShowPortStatus(const QString &text, const QString &detail) {
  portStatus_ = text;
  portDetail_ = detail;
  StatusBar1->SetPanelText(1, text, detail);
}

void TForm1::TryOpenPort(const QString &opened, const QString &failed) {
  try {
    session_->Reopen();
    if (!opened.isEmpty())
      ShowPortStatus(opened);
  } catch (const base::Exception &e) {
    // The panel keeps its designed words; why, and what to do, go beside them.
    ShowPortStatus(failed, e.Reason());
    qWarning().noquote() << "kavrin-programmer: cannot open serial port" << session_->PortName() << "-" << e.Message()
                         << (e.Reason().isEmpty() ? QString() : QStringLiteral("(") + e.Reason() + QLatin1Char(')'));
  }
}

void TForm1::ComboBox1Change() {
  // Another port ends the session's watch for a lost one; the same one, still gone, keeps it.
  session_->ClosePort();
  const QString portName = ComboBox1->currentText();
  session_->SetPortName(portName);
  StatusBar1->SetPanelText(0, PortSettingsText(portName));
  SettingsFile(SettingsPath()).WriteString(kPortSection, kPortKey, portName);
  TryOpenPort(kOpenedOnChange, session::kOpenFailedText);
}

void TForm1::ReopenPortAfterProduction() { TryOpenPort(kOpenedOnChange, session::kOpenFailedText); }

void TForm1::PortLost(const QString &detail) {
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  const QString text = detail + QStringLiteral(" (") + serial::OpenFailureHint(serial::OpenFailure::Kind::Missing) +
                       QStringLiteral(", then choose the port again)");
  ShowPortStatus(session::kOpenFailedText, text);
  qWarning().noquote() << "kavrin-programmer:" << text;
}

void TForm1::PortReturned() {
  ShowPortStatus(kOpenedOnChange);
  qWarning().noquote() << "kavrin-programmer:" << session_->PortName() << "is back and open again";
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

} // namespace app
