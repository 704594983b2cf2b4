// The load: announce, file choice, reading, and the hand-over of the firmware
// to the window's box session, which packs it, starts the transfer and
// answers the box's block requests; and the file buffer view.
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/form4.h"
#include "base/exception.h"
#include "chip/sectors.h"
#include "image/firmware_file.h"
#include "image/file_view.h"
#include "session/box_session.h"
#include "session/operator_text.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace app {

namespace {

const QString kReopenFailedAfterError =
    QStringLiteral(QT_TRANSLATE_NOOP("Window", "打 开 串 口 失 败,请 重 新 选 择 串 口 "));

// The file name without its folder, either separator.
QString FileNameOf(const QString &path) {
  const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  return path.mid(slash + 1);
}

} // namespace

void TForm1::Button2Click() {
  // A notice about the previous load's file does not belong to this one.
  if (StatusBar1->PanelText(1) != portStatus_)
    ShowPortStatus(portStatus_, portDetail_);
  // The box learns of the transfer before the file is chosen, also when the dialog is then cancelled.
  session::OperationRequest request = RequestFor(session::BoxOperation::Load);
  request.count = int32_t(Edit5->text().toUInt());
  session_->Start(request);
  state_.ImageSize = image::kLoadImageSize;
  // A job names the file of the load that was accepted last; this load replaces it.
  loaded_.reset();

  // A block request arriving meanwhile is answered from the previous load.
  const std::optional<ChosenFile> chosen = dialogs_.GetOpenFileName(this);
  if (!chosen) {
    session_->EndAttempt({session::Outcome::Cancelled, QString(), std::nullopt});
    session_->ClosePort();
    Edit1->clear();
    Edit2->clear();
    Edit3->clear();
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    TryOpenPort(QString(), session::kOpenFailedText);
    // Choosing the chip again is what enables the load, so its button stays usable.
    Button1->setEnabled(true);
    return;
  }
  const QString path = chosen->path;

  // A file that cannot be read ends the load here, with its error box.
  Edit3->setText(QStringLiteral(".\\..\\") + FileNameOf(path));
  Edit3->setToolTip(path);
  const image::FirmwareFile firmware = image::ReadFirmware(path, chosen->rawBinary ? image::FirmwareFormat::RawBinary
                                                                                   : image::FirmwareFormat::ByContent);
  if (!firmware.fileRead) {
    session_->EndAttempt({session::Outcome::FileRefused, firmware.refusal, std::nullopt}, {path, {}});
    throw base::EFOpenError(firmware.refusal);
  }
  const session::LoadSource source{path, firmware.sha256};

  if (form4_)
    form4_->Memo1->clear();
  // The image below ImageSize is the file's; above it, only what the file put
  // there replaces what the table held.
  for (uint32_t a = 0; a < image::kImageTextEntries; ++a)
    if (a < state_.ImageSize || firmware.image.given[a])
      state_.ImageText[a] = firmware.image.Entry(a);
  if (!firmware.Accepted()) {
    session_->EndAttempt({session::Outcome::FileRefused, firmware.refusal, std::nullopt}, source);
    dialogs_.ShowMessage(this, session::ShownText(firmware.refusal));
    session_->ClosePort();
    Edit3->clear();
    Button1->setEnabled(false);
    TryOpenPort(QString(), kReopenFailedAfterError);
    Button1->setEnabled(true);
    return;
  }
  // Data beyond the image is not sent; the operator is told how much.
  if (!firmware.leftOutNotice.isEmpty())
    StatusBar1->SetPanelText(1, firmware.leftOutNotice);

  // The sectors and N as they stand now, after the dialog.
  state_.ChipStart = QStringLiteral("0000");
  std::array<bool, chip::kSectorCount> checked{};
  for (int n = 1; n <= chip::kSectorCount; ++n)
    checked[size_t(n - 1)] = CheckBox(n)->isChecked();
  const std::shared_ptr<const session::LoadImage> image =
      session_->HandOver(firmware, source, Edit5->text().toUInt(), chip::SectorMask(checked));
  Label11->setText(image->checksumCaption);
  loaded_ = LoadedFile{path, chosen->rawBinary, firmware.sha256, firmware.checksumCaption};

  if (form4_)
    form4_->ShowImage(image::BaseName(path), image::DumpLines(state_.ImageText, state_.ImageSize, state_.ChipStart));
}

void TForm1::Edit3Click() {
  if (form4_)
    dialogs_.ShowModal(form4_);
}

} // namespace app
