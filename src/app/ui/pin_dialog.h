#pragma once
// The engineer PIN, typed unseen. While wrong PINs keep the next try waiting
// (job/pin_backoff.h), a countdown under the field says how long, and OK (and
// Enter) do nothing until it has run out. The countdown runs on the clock it
// is given (the program's base::Clock), so a test moves it; it lives on the
// GUI thread and ends with the dialog.

#include "base/clock.h"

#include <QByteArray>
#include <QDialog>
#include <cstdint>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class PinDialog : public QDialog {
  Q_OBJECT
public:
  // The next try may be made at `tryAtMs` on `clock` (at once when past).
  PinDialog(QWidget *parent, const QString &prompt, base::Clock &clock, int64_t tryAtMs);
  ~PinDialog() override;

  QByteArray Pin() const; // what was typed, UTF-8
  QLineEdit *Field() const { return field_; }
  QLabel *Countdown() const { return countdown_; }
  QPushButton *OkButton() const { return ok_; }

private:
  void Tick();

  base::Clock &clock_;
  const int64_t tryAtMs_;
  std::unique_ptr<base::Alarm> tick_;
  QLineEdit *field_ = nullptr;
  QLabel *countdown_ = nullptr;
  QPushButton *ok_ = nullptr;
};

} // namespace app
