// Production records from the window: the store's warnings in the status bar,
// the records window and the line at a glance.
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/line_window.h"
#include "app/ui/records_window.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace app {

namespace {
const QString kRecordsWaiting =
    QStringLiteral(QT_TRANSLATE_NOOP("Window", "注意：生产记录暂时无法写入数据库，已暂存本机"));
} // namespace

void TForm1::SetRecordsStore(const records::StoreLocation &store) {
  recordsStore_ = store;
  ProductionRecordsAction->setEnabled(true);
  LineAction->setEnabled(true);
}

void TForm1::RecordsWarning(const QString &detail) {
  // Like the notice of a load, it gives way to the port's state at the next load.
  StatusBar1->SetPanelText(1, kRecordsWaiting, detail);
  qWarning().noquote() << "kavrin-programmer: records:" << detail;
}

void TForm1::RecordsRecovered() {
  if (StatusBar1->PanelText(1) == kRecordsWaiting)
    ShowPortStatus(portStatus_, portDetail_);
}

void TForm1::ShowProductionRecords() {
  if (!recordsStore_)
    return;
  RecordsWindow window(*recordsStore_, dialogs_, this);
  window.setWindowFlag(Qt::Window);
  dialogs_.ShowModal(&window);
}

LineWindow *TForm1::ShowLine() {
  if (!recordsStore_)
    return nullptr;
  if (!line_)
    line_ = std::make_unique<LineWindow>(*recordsStore_, dialogs_, LineWindow::AmberMinutes(SettingsPath()), clock_);
  line_->show();
  line_->raise();
  line_->activateWindow();
  return line_.get();
}

} // namespace app
