#include "app/ui/dialogs.h"

#include "app/ui/pin_dialog.h"

#include "job/job_file.h"
#include "job/pin.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

namespace app {

void QtDialogs::ShowMessage(QWidget *parent, const QString &text) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent);
  box.setAccessibleName(kApplicationTitle);
  box.setAccessibleDescription(text);
  box.exec();
}

void QtDialogs::ShowAbout(QWidget *parent, const QString &text) {
  QMessageBox::about(parent, QCoreApplication::translate("Window", "About %1").arg(kApplicationTitle), text);
}

void QtDialogs::ShowError(QWidget *parent, const QString &text) {
  QMessageBox box(QMessageBox::Critical, kApplicationTitle, text, QMessageBox::Ok, parent);
  box.setAccessibleName(kApplicationTitle);
  box.setAccessibleDescription(text);
  box.exec();
}

std::optional<ChosenFile> QtDialogs::GetOpenFileName(QWidget *parent) {
  // Every file stays on offer by default: the form is read from the content.
  const QString byContent = QStringLiteral("Intel HEX, S-record or ELF (*)");
  const QString rawBinary = QStringLiteral("Raw binary from 0000 (*.bin)");
  QString chosenFilter;
  const QString name = QFileDialog::getOpenFileName(parent, QString(), QString(),
                                                    byContent + QStringLiteral(";;") + rawBinary, &chosenFilter);
  if (name.isEmpty())
    return std::nullopt;
  return ChosenFile(name, chosenFilter == rawBinary);
}

std::optional<QString> QtDialogs::GetSaveFileName(QWidget *parent, const QString &suggested) {
  const QString name = QFileDialog::getSaveFileName(
      parent, QString(), suggested, QCoreApplication::translate("Records", "CSV files (*.csv);;All files (*)"));
  if (name.isEmpty())
    return std::nullopt;
  return name;
}

void QtDialogs::ShowModal(QWidget *window) {
  // Window-modal loop that ends when the window is hidden or closed.
  QPointer<QWidget> guard(window);
  window->setWindowModality(Qt::ApplicationModal);
  window->show();
  window->raise();
  window->activateWindow();
  QEventLoop loop;
  struct HideWatcher : QObject {
    QEventLoop *loop;
    bool eventFilter(QObject *, QEvent *e) override {
      if (e->type() == QEvent::Hide || e->type() == QEvent::Close)
        loop->quit();
      return false;
    }
  } watcher;
  watcher.loop = &loop;
  window->installEventFilter(&watcher);
  loop.exec();
  if (guard) {
    guard->removeEventFilter(&watcher);
    guard->setWindowModality(Qt::NonModal);
  }
}

void QtDialogs::Beep() { QApplication::beep(); }

std::optional<QString> QtDialogs::GetJobFileName(QWidget *parent) {
  const QString name = QFileDialog::getOpenFileName(parent, QString(), QString(),
                                                    QCoreApplication::translate("Window", "Job files (*.kavjob)"));
  if (name.isEmpty())
    return std::nullopt;
  return name;
}

std::optional<QString> QtDialogs::GetJobSaveName(QWidget *parent, const QString &suggested) {
  const QString name = QFileDialog::getSaveFileName(parent, QString(), suggested,
                                                    QCoreApplication::translate("Window", "Job files (*.kavjob)"));
  if (name.isEmpty())
    return std::nullopt;
  return name;
}

std::optional<JobDetails> QtDialogs::AskJobDetails(QWidget *parent, const JobDetails &suggested) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QCoreApplication::translate("Window", "Save job"));
  auto *form = new QFormLayout(&dialog);
  auto *name = new QLineEdit(suggested.name, &dialog);
  auto *retries = new QSpinBox(&dialog);
  retries->setRange(0, job::kMostRetries);
  retries->setValue(suggested.retries);
  auto *lotSize = new QSpinBox(&dialog);
  lotSize->setRange(1, job::kMostLotSize);
  lotSize->setValue(suggested.lotSize);
  auto *pin = new QLineEdit(&dialog);
  auto *pinAgain = new QLineEdit(&dialog);
  for (QLineEdit *edit : {pin, pinAgain}) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(job::kMostPinCharacters);
  }
  form->addRow(QCoreApplication::translate("Window", "Job name:"), name);
  form->addRow(QCoreApplication::translate("Window", "Retries:"), retries);
  form->addRow(QCoreApplication::translate("Window", "Lot size:"), lotSize);
  form->addRow(QCoreApplication::translate("Window", "Engineer PIN (empty: none):"), pin);
  form->addRow(QCoreApplication::translate("Window", "PIN again:"), pinAgain);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  // The two PINs must agree before the job can be saved.
  const auto check = [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(pin->text() == pinAgain->text()); };
  QObject::connect(pin, &QLineEdit::textChanged, &dialog, check);
  QObject::connect(pinAgain, &QLineEdit::textChanged, &dialog, check);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  JobDetails details{name->text(), retries->value(), lotSize->value(), pin->text().toUtf8()};
  pin->clear();
  pinAgain->clear();
  if (!accepted) {
    job::Wipe(details.pin);
    return std::nullopt;
  }
  return details;
}

std::optional<QByteArray> QtDialogs::AskPin(QWidget *parent, const QString &prompt, base::Clock &clock,
                                            int64_t tryAtMs) {
  PinDialog dialog(parent, prompt, clock, tryAtMs);
  if (dialog.exec() != QDialog::Accepted)
    return std::nullopt;
  return dialog.Pin();
}

} // namespace app
