// Production jobs from the window: "Save job..." writes the window's settings
// and the file loaded last into a job file; opening a job hands the box over
// to the production view until the view is left.
#include "app/production/production_window.h"
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "chip/sectors.h"
#include "job/job_file.h"
#include "job/pin.h"
#include "session/box_session.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

namespace app {

void TForm1::SaveJob() {
  if (!loaded_) {
    dialogs_.ShowMessage(
        this, QCoreApplication::translate("Window", "Load the firmware file first: a job names the file it programs."));
    return;
  }
  JobDetails suggested;
  suggested.name = QFileInfo(loaded_->path).completeBaseName();
  std::optional<JobDetails> details = dialogs_.AskJobDetails(this, suggested);
  if (!details)
    return;

  job::Job made;
  made.name = details->name;
  made.rawBinary = loaded_->rawBinary;
  made.firmwareSha256 = loaded_->sha256;
  made.imageChecksum = loaded_->checksumCaption;
  made.chip = state_.ChipName.trimmed();
  made.mode = ChosenMode();
  made.supply = ChosenSupply();
  made.count = Edit5->text();
  std::array<bool, chip::kSectorCount> checked{};
  for (int n = 1; n <= chip::kSectorCount; ++n)
    checked[size_t(n - 1)] = CheckBox(n)->isChecked();
  made.sectorMask = chip::SectorMask(checked);
  // Named as it will be when the job file lies beside it, until the file is chosen.
  made.firmware = QFileInfo(loaded_->path).fileName();
  made.retries = details->retries;
  made.lotSize = details->lotSize;

  QString refusal;
  if (!job::IsJobName(made.name))
    refusal = QCoreApplication::translate("Window", "The job's name must be %1.").arg(job::JobNameForm());
  else if (!details->pin.isEmpty())
    refusal = job::PinRefusal(details->pin);
  if (refusal.isEmpty() && !details->pin.isEmpty()) {
    made.pinHash = job::HashPin(details->pin, &refusal);
  }
  job::Wipe(details->pin);
  // Everything a job must hold, the window's settings included, is judged as
  // opening the job would judge it: a job that could not be opened is not written.
  if (refusal.isEmpty())
    refusal = job::ParseJob(job::JobText(made)).refusal;
  if (!refusal.isEmpty()) {
    dialogs_.ShowError(this, refusal);
    return;
  }

  const QString folder = QFileInfo(loaded_->path).absolutePath();
  std::optional<QString> path = dialogs_.GetJobSaveName(this, folder + QLatin1Char('/') + made.name + job::kSuffix);
  if (!path)
    return;
  if (!path->endsWith(job::kSuffix))
    *path += job::kSuffix;
  made.firmware = job::FirmwareReference(loaded_->path, *path);
  if (const QString error = job::WriteJob(made, *path); !error.isEmpty()) {
    dialogs_.ShowError(this, error);
    return;
  }
  dialogs_.ShowMessage(this, QCoreApplication::translate("Window", "Job saved: %1").arg(*path));
}

void TForm1::OpenJobFromMenu() {
  if (const std::optional<QString> path = dialogs_.GetJobFileName(this))
    OpenJob(*path);
}

bool TForm1::OpenJob(const QString &path, const QStringList &ports) {
  job::OpenedJob opened = job::OpenJob(path, trustedKeysFolder_);
  if (!opened.job) {
    dialogs_.ShowError(this, QCoreApplication::translate("Window", "The job %1 cannot be opened: %2")
                                 .arg(QFileInfo(path).fileName(), opened.refusal));
    return false;
  }
  const QStringList boxes = ports.isEmpty() ? opened.job->ports : ports;
  if (boxes.isEmpty() || boxes.size() > job::kMostPorts) {
    dialogs_.ShowError(this, QCoreApplication::translate("Window", "The job %1 needs 1 to %2 ports, got %3.")
                                 .arg(QFileInfo(path).fileName())
                                 .arg(job::kMostPorts)
                                 .arg(boxes.size()));
    return false;
  }
  // The boxes' ports are the view's while it is open; this window's port is given up.
  session_->Stop(session::Outcome::Interrupted);
  session_->ClosePort();
  session::RunOptions options;
  options.layer = serialLayer_;
  production_ = std::make_unique<ProductionWindow>(opened, boxes, dialogs_, settingsPath_, clock_,
                                                   recordsStore_ ? recorder_ : nullptr, options);
  connect(production_.get(), &ProductionWindow::Left, this, [this] { ProductionClosed(); });
  production_->show();
  hide();
  return true;
}

void TForm1::ProductionClosed() {
  // Shown before the view goes, so that the program never has no window and ends.
  show();
  ReopenPortAfterProduction();
  // The view is still in its close handler.
  production_.release()->deleteLater();
}

} // namespace app
