// Operations on the box, what the session reports, and the read-out view.
// Each handler translates its controls into a request (mode, supply, count,
// chip) and hands it to the window's box session; what the session reports is
// shown by the slots wired in ConnectSession.
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "base/convert.h"
#include "session/attempt_records.h"
#include "session/box_session.h"
#include "session/operator_text.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace app {

void TForm1::ConnectSession() {
  connect(session_, &session::BoxSession::Progress, this,
          [this](uint32_t percent) { Label7->setText(session::ProgressText(percent)); });
  connect(session_, &session::BoxSession::Elapsed, this,
          [this](uint32_t seconds, uint32_t tenths) { ShowDesigned(Label9, session::ElapsedText(seconds, tenths)); });
  connect(session_, &session::BoxSession::ReadOutLines, this, [this](const QStringList &lines) {
    if (form3_)
      form3_->AppendLines(lines);
  });
  connect(session_, &session::BoxSession::AttemptEnded, this, [this](const session::Attempt &attempt) {
    // Recorded before it is shown: a message box may wait for the operator.
    if (attempts_)
      attempts_->Add(attempt);
    // A refused file was shown by the load itself, in its own box.
    if (attempt.end.outcome != session::Outcome::FileRefused)
      ShowEnd(attempt.end);
  });
  connect(session_, &session::BoxSession::LateReply, this, [this](const session::OperationEnd &end) { ShowEnd(end); });
  connect(session_, &session::BoxSession::PortLost, this, [this](const QString &detail) { PortLost(detail); });
  connect(session_, &session::BoxSession::PortReturned, this, [this] { PortReturned(); });
  connect(session_, &session::BoxSession::Error, this,
          [this](const QString &message) { dialogs_.ShowError(this, message); });
  // The success text of a transfer follows "Model Select" as it is when the reply arrives.
  for (int i = 0; i < RadioGroup1->Count(); ++i)
    connect(RadioGroup1->Button(i), &QRadioButton::toggled, this,
            [this] { session_->SetOnline(ChosenMode() == base::BoxMode::Online); });
}

void TForm1::ShowEnd(const session::OperationEnd &end) {
  // The views point at the cell that differs; the message stays as it is.
  if (end.mismatch) {
    if (form4_)
      form4_->HighlightAddress(end.mismatch->address);
    if (form3_)
      form3_->HighlightAddress(end.mismatch->address);
  }
  if (!end.message.IsEmpty())
    dialogs_.ShowMessage(this, session::Shown(end.message));
}

session::OperationRequest TForm1::RequestFor(session::BoxOperation operation) const {
  session::OperationRequest request;
  request.operation = operation;
  request.chip = state_;
  request.imageSize = state_.ImageSize;
  if (operation == session::BoxOperation::Set || operation == session::BoxOperation::Load) {
    request.mode = ChosenMode();
    request.supply = ChosenSupply();
  }
  return request;
}

base::BoxMode TForm1::ChosenMode() const {
  return RadioGroup1->ItemIndex() == 0 ? base::BoxMode::Online : base::BoxMode::Offline;
}

base::BoxSupply TForm1::ChosenSupply() const {
  switch (RadioGroup2->ItemIndex()) {
  case 0:
    return base::BoxSupply::FiveVolts;
  case 1:
    return base::BoxSupply::NoOutput;
  default:
    return base::BoxSupply::Unchosen;
  }
}

void TForm1::Button8Click() {
  Edit3->clear();
  Button2->setText(ChosenMode() == base::BoxMode::Online ? QStringLiteral("Program") : QStringLiteral("load"));
  session::OperationRequest request = RequestFor(session::BoxOperation::Set);
  // A count that is not a number ends the operation here, before anything is sent.
  request.count = base::StrToInt(Edit4->text());
  // The designed set waits for its answer without limit.
  session_->Start(request);
}

void TForm1::Button5Click() { session_->Start(RequestFor(session::BoxOperation::Verify)); }

void TForm1::Button7Click() {
  if (form3_)
    form3_->Memo1->clear();
  // A load sets ImageSize to 32 KiB whatever the chip; the chip's own size is what the box is asked for.
  session_->Start(RequestFor(session::BoxOperation::ReadOut));
}

void TForm1::Button6Click() { session_->Start(RequestFor(session::BoxOperation::EraseProgramVerify)); }

void TForm1::Label8Click() {
  if (form3_)
    dialogs_.ShowModal(form3_);
}

} // namespace app
