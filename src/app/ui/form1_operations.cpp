// Operations on the box, the reply handler, the clocks and the read-out view.
// Each handler reads its controls and runs the operation through the window's
// box session; what the session reports is shown by the slots wired in
// ConnectSession.
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "protocol/clocks.h"
#include "protocol/frames.h"
#include "protocol/operator_text.h"
#include "image/ui/form4.h"
#include "protocol/ui/form3.h"
#include "serial/comm.h"
#include "session/box_session.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

void TForm1::ConnectSession() {
  connect(session_, &BoxSession::Progress, this, [this](uint32_t percent) { Label7->setText(ProgressText(percent)); });
  connect(session_, &BoxSession::Elapsed, this,
          [this](uint32_t seconds, uint32_t tenths) { ShowDesigned(Label9, ElapsedText(seconds, tenths)); });
  connect(session_, &BoxSession::ReadOutLines, this, [this](const QStringList &lines) {
    if (form3_)
      form3_->AppendLines(lines);
  });
  connect(session_, &BoxSession::Ended, this, [this](const OperationEnd &end) {
    // The views point at the cell that differs; the message stays as it is.
    if (end.mismatch) {
      if (form4_)
        form4_->HighlightAddress(end.mismatch->address);
      if (form3_)
        form3_->HighlightAddress(end.mismatch->address);
    }
    if (!end.message.isEmpty())
      dialogs_.ShowMessage(this, ShownText(end.message));
  });
  connect(session_, &BoxSession::PortLost, this, [this](const QString &detail) { PortLost(detail); });
  // The window runs the session's steps as its own handlers, under its error handling.
  Comm1->OnReceiveData = [this](TComm *sender, const uint8_t *buffer, uint16_t length) {
    Guarded([&] { Comm1ReceiveData(sender, buffer, length); });
  };
  Comm1->OnRequestHangup = [this](TComm *) { Guarded([this] { Comm1RequestHangup(); }); };
  Timer1->OnTimer = [this] { Guarded([this] { Timer1Timer(); }); };
  Timer2->OnTimer = [this] { Guarded([this] { Timer2Timer(); }); };
}

void TForm1::Button8Click() {
  Edit3->clear();
  const int mode = RadioGroup1->ItemIndex();
  Button2->setText(mode == 0 ? QStringLiteral("Program") : QStringLiteral("load"));
  session_->Set(mode, RadioGroup2->ItemIndex(), Edit4->text());
}

void TForm1::Button5Click() { session_->Verify(ParseChipNumbers(state_)); }

void TForm1::Button7Click() {
  if (form3_)
    form3_->Memo1->clear();
  // A load sets ImageSize to 32 KiB whatever the chip; the chip's own size is what the box sends.
  session_->ReadOut(ParseChipNumbers(state_), ReadOutSize(state_.ChipSizeK, state_.ImageSize));
}

void TForm1::Button6Click() { session_->EraseProgramVerify(ParseChipNumbers(state_)); }

void TForm1::Comm1ReceiveData(TComm *, const uint8_t *buffer, uint16_t length) {
  // The success text of a transfer follows "Model Select" as it is when the reply arrives.
  session_->SetOnline(RadioGroup1->ItemIndex() == 0);
  session_->ReceiveData(buffer, length);
}

void TForm1::Timer1Timer() { session_->ProgressTick(); }

void TForm1::Timer2Timer() { session_->ElapsedTick(); }

void TForm1::Label8Click() {
  if (form3_)
    dialogs_.ShowModal(form3_);
}
