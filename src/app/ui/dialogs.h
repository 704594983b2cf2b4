#pragma once
// Every modal interaction of the program goes through Dialogs, so that tests can
// drive the whole window with a recording implementation and never block in a
// modal loop. QtDialogs is the real one: message boxes titled
// "Kavrin Programer", the file open and save dialogs, modal windows and the beep.

#include "base/clock.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <utility>

#include <QByteArray>

class QWidget;

namespace app {

inline const QString kApplicationTitle = QStringLiteral("Kavrin Programer");

// The firmware file the operator chose, and whether the raw binary filter was
// the one chosen (the file's bytes then load from 0000 as they are).
struct ChosenFile {
  ChosenFile(QString path, bool rawBinary = false) : path(std::move(path)), rawBinary(rawBinary) {}
  QString path;
  bool rawBinary = false;
};

// What "Save job..." asks the engineer beyond the window's settings. An empty
// PIN makes a job without one; the PIN is wiped by whoever takes it.
struct JobDetails {
  QString name;
  int retries = 0;
  int lotSize = 1;
  QByteArray pin;
};

class Dialogs {
public:
  virtual ~Dialogs() = default;
  // A modal message box with an OK button (the box's verdicts).
  virtual void ShowMessage(QWidget *parent, const QString &text) = 0;
  // The error box: error icon, OK button.
  virtual void ShowError(QWidget *parent, const QString &text) = 0;
  // The firmware file dialog: every file offered, its form told by its
  // content, or the raw binary filter; nullopt when cancelled.
  virtual std::optional<ChosenFile> GetOpenFileName(QWidget *parent) = 0;
  // The file save dialog, starting at `suggested`; nullopt when cancelled.
  virtual std::optional<QString> GetSaveFileName(QWidget *parent, const QString &suggested) = 0;
  // Shows a window modally; returns when it is closed.
  virtual void ShowModal(QWidget *window) = 0;
  // The system's message beep.
  virtual void Beep() = 0;
  // The About box: the program's name, version and what it is for.
  virtual void ShowAbout(QWidget *parent, const QString &text) = 0;
  // The production questions; one that is not answered is cancelled, so a
  // Dialogs made before jobs existed refuses them all.
  // The job file dialog (*.kavjob); nullopt when cancelled.
  virtual std::optional<QString> GetJobFileName(QWidget *) { return std::nullopt; }
  // The save dialog for a job file, starting at `suggested`; nullopt when cancelled.
  virtual std::optional<QString> GetJobSaveName(QWidget *, const QString &) { return std::nullopt; }
  // Name, retries, lot size and optional PIN of a job to save, starting from
  // `suggested`; nullopt when cancelled.
  virtual std::optional<JobDetails> AskJobDetails(QWidget *, const JobDetails &) { return std::nullopt; }
  // The engineer PIN, typed unseen; nullopt when cancelled. Until `tryAtMs`
  // on `clock` a countdown shows and no PIN can be given.
  virtual std::optional<QByteArray> AskPin(QWidget *, const QString &, base::Clock &, int64_t) { return std::nullopt; }
};

class QtDialogs : public Dialogs {
public:
  void ShowMessage(QWidget *parent, const QString &text) override;
  void ShowError(QWidget *parent, const QString &text) override;
  std::optional<ChosenFile> GetOpenFileName(QWidget *parent) override;
  std::optional<QString> GetSaveFileName(QWidget *parent, const QString &suggested) override;
  void ShowModal(QWidget *window) override;
  void Beep() override;
  void ShowAbout(QWidget *parent, const QString &text) override;
  std::optional<QString> GetJobFileName(QWidget *parent) override;
  std::optional<QString> GetJobSaveName(QWidget *parent, const QString &suggested) override;
  std::optional<JobDetails> AskJobDetails(QWidget *parent, const JobDetails &suggested) override;
  std::optional<QByteArray> AskPin(QWidget *parent, const QString &prompt, base::Clock &clock,
                                   int64_t tryAtMs) override;
};

} // namespace app
