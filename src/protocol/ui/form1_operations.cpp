// Operations on the box, the reply handler, the clocks and the read-out view.
// Thin wrappers: the frames, the reply decisions and the clock steps are plain
// logic in protocol/; these apply them to the controls, timers and serial line.
#include "base/exception.h"
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "protocol/clocks.h"
#include "protocol/frames.h"
#include "protocol/reply.h"
#include "protocol/ui/form3.h"
#include "serial/comm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

void Send(TComm *comm, const Frame &frame) {
  // A refused send is silent: the time-out reports the missing answer.
  comm->SendData(frame.data(), uint16_t(frame.size()));
}

} // namespace

void TForm1::Button8Click() {
  Edit3->clear();
  const int mode = RadioGroup1->ItemIndex();
  Button2->setText(mode == 0 ? QStringLiteral("Program") : QStringLiteral("load"));
  // A count that is not a number ends the operation here, before anything is sent.
  const Frame frame = SetCmd(mode, RadioGroup2->ItemIndex(), Edit4->text());
  state_.CurrentCommand = kCommandSet;
  Send(Comm1, frame);
}

void TForm1::Button5Click() {
  state_.CurrentCommand = kCommandVerify;
  Send(Comm1, CheckCmd());
  StartClocks(VerifyInterval(state_.ChipStart, state_.ChipEnd));
}

void TForm1::Button7Click() {
  if (form3_)
    form3_->Memo1->clear();
  state_.StartHigh = StartHighOf(state_.ChipStart);
  // A load sets ImageSize to 32 KiB whatever the chip; the chip's own size is what the box sends.
  const Frame frame =
      ReadCmd(state_.ChipStart, ReadOutSize(state_.ChipSizeK, state_.ImageSize), state_.DataflashCode);
  state_.CurrentCommand = kCommandReadOut;
  state_.ReadBlockCount = 0;
  readOutPending_.clear();
  Send(Comm1, frame);
  StartClocks(ReadOutInterval(state_.ChipStart, state_.ChipEnd));
}

void TForm1::Button6Click() {
  state_.CurrentCommand = kCommandEraseProgramVerify;
  Send(Comm1, EPCCmd());
  StartClocks(EraseProgramVerifyInterval(state_.ChipStart, state_.ChipEnd));
}

void TForm1::Comm1ReceiveData(TComm *, const uint8_t *buffer, uint16_t length) {
  const bool online = RadioGroup1->ItemIndex() == 0;
  const ReplyActions actions = HandleReply(state_, readOutPending_, online, buffer, length);
  if (actions.stopClocks)
    StopClocks();
  if (actions.showFullProgress)
    ShowFullProgress();
  if (!actions.readOutLines.isEmpty() && form3_)
    form3_->AppendLines(actions.readOutLines);
  if (actions.message)
    dialogs_.ShowMessage(this, *actions.message);
  if (actions.sendBlock) {
    // Header, data and block sum of slot n; the name, count and sectors go only with block 0.
    const uint8_t *slot = state_.ImageBlocks.data() + size_t(*actions.sendBlock) * kBlockSlotSize;
    Comm1->SendData(slot, uint16_t(kRequestedBlockSize));
  }
  if (actions.conversionError)
    throw EConvertError(*actions.conversionError);
}

void TForm1::Timer1Timer() {
  if (!ProgressStep(state_.ProgressPercent)) {
    Timer1->SetEnabled(false);
    return;
  }
  Label7->setText(ProgressText(state_.ProgressPercent));
}

void TForm1::Timer2Timer() {
  const bool timedOut = ElapsedStep(state_);
  Label9->setText(ElapsedText(state_.ElapsedSeconds, state_.ElapsedTenths));
  if (timedOut) {
    // Timer1 runs on to 98 % and CurrentCommand stays: a late reply is still acted upon.
    Timer2->SetEnabled(false);
    dialogs_.ShowMessage(this, kTimeOutMessage);
  }
}

void TForm1::Label8Click() {
  if (form3_)
    dialogs_.ShowModal(form3_);
}

void TForm1::StartClocks(int progressIntervalMs) {
  state_.ElapsedTicks = 0;
  state_.ProgressPercent = 0;
  Label7->setText(ProgressText(0));
  Timer1->SetInterval(progressIntervalMs);
  Timer1->SetEnabled(true);
  Timer2->SetEnabled(true);
}

void TForm1::StopClocks() {
  Timer1->SetEnabled(false);
  Timer2->SetEnabled(false);
}

void TForm1::ShowFullProgress() {
  state_.ProgressPercent = 100;
  Label7->setText(ProgressText(100));
}
