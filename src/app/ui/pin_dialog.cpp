#include "app/ui/pin_dialog.h"

#include "app/ui/dialogs.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

namespace {
constexpr int64_t kSecondMs = 1000;
}

PinDialog::PinDialog(QWidget *parent, const QString &prompt, base::Clock &clock, int64_t tryAtMs)
    : QDialog(parent), clock_(clock), tryAtMs_(tryAtMs), tick_(clock.MakeAlarm([this] { Tick(); })) {
  setWindowTitle(kApplicationTitle);
  auto *layout = new QVBoxLayout(this);
  auto *label = new QLabel(prompt, this);
  layout->addWidget(label);
  field_ = new QLineEdit(this);
  field_->setEchoMode(QLineEdit::Password);
  field_->setAccessibleName(prompt);
  label->setBuddy(field_);
  layout->addWidget(field_);
  countdown_ = new QLabel(this);
  countdown_->setObjectName(QStringLiteral("PinCountdown"));
  countdown_->setAccessibleName(QCoreApplication::translate("Production", "密码等待"));
  layout->addWidget(countdown_);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (ok_->isEnabled()) // Enter reaches the default button even while it waits
      accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  field_->setFocus();
  Tick();
}

PinDialog::~PinDialog() { field_->clear(); }

QByteArray PinDialog::Pin() const { return field_->text().toUtf8(); }

void PinDialog::Tick() {
  const int64_t left = tryAtMs_ - clock_.NowMs();
  ok_->setEnabled(left <= 0);
  if (left <= 0) {
    countdown_->clear();
    countdown_->setAccessibleDescription(QString());
    countdown_->hide();
    return;
  }
  const QString text =
      QCoreApplication::translate("Production", "请等待 %1 秒后再试。").arg((left + kSecondMs - 1) / kSecondMs);
  countdown_->setText(text);
  countdown_->setAccessibleDescription(text);
  countdown_->show();
  // Again when the shown second runs out.
  tick_->Arm(int((left - 1) % kSecondMs + 1), false);
}

} // namespace app
