#include "app/ui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
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

} // namespace app
