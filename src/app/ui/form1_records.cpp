// Production records from the window: what the window adds to each attempt's
// record, the store's warnings in the status bar, and the records window.
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "records/ui/records_window.h"
#include "serial/serial_devices.h"
#include "session/attempt_records.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace {
const QString kRecordsWaiting =
    QStringLiteral(QT_TRANSLATE_NOOP("Window", "注意：生产记录暂时无法写入数据库，已暂存本机"));
} // namespace

records::Record TForm1::AttemptRecordOf(const Attempt &attempt) const {
  records::Record d;
  d.station = ComboBox1->currentText();
  d.portPath = StablePortPath(d.station);
  d.chip = state_.ChipName.trimmed();
  d.dataflash = state_.DataflashCode;
  switch (attempt.operation) {
  case BoxOperation::Set:
    d.mode = ModeName(RadioGroup1->ItemIndex());
    d.power = PowerName(RadioGroup2->ItemIndex());
    d.count = Edit4->text().toLongLong();
    break;
  case BoxOperation::Load:
    d.mode = ModeName(RadioGroup1->ItemIndex());
    d.power = PowerName(RadioGroup2->ItemIndex());
    d.count = Edit5->text().toLongLong();
    d.filePath = loadFile_.path;
    d.fileSha256 = loadFile_.sha256;
    d.imageChecksum = loadFile_.checksum;
    d.sectors = loadFile_.sectors;
    break;
  default:
    break;
  }
  return d;
}

void TForm1::SetRecordsStore(const records::StoreLocation &store) {
  recordsStore_ = store;
  ProductionRecordsAction->setEnabled(true);
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
