#include "session/unit_run.h"

#include "base/exception.h"
#include "records/recorder.h"
#include "records/serial_pool.h"
#include "numbering/serial_plan.h"

#include <QPointer>
#include <QUuid>

namespace session {

namespace {

QString Verdict(UnitState state) {
  switch (state) {
  case UnitState::Pass:
    return records::kVerdictPassed;
  case UnitState::Fail:
    return records::kVerdictFailed;
  default:
    return records::kVerdictInterrupted;
  }
}

} // namespace

QString UnitStateWord(UnitState state) {
  switch (state) {
  case UnitState::Ready:
    return QStringLiteral("READY");
  case UnitState::Busy:
    return QStringLiteral("BUSY");
  case UnitState::Retry:
    return QStringLiteral("RETRY");
  case UnitState::Pass:
    return QStringLiteral("PASS");
  case UnitState::Fail:
    return QStringLiteral("FAIL");
  case UnitState::NotRecorded:
    return QStringLiteral("NOT RECORDED");
  }
  return {};
}

QString UnitStatus::StateText() const {
  switch (state) {
  case UnitState::Busy:
    return QStringLiteral("BUSY %1%").arg(percent);
  case UnitState::Retry:
    return QStringLiteral("RETRY %1/%2").arg(attempt).arg(attempts - 1);
  default:
    return UnitStateWord(state);
  }
}

UnitRun::UnitRun(std::shared_ptr<const UnitPlan> plan, BoxSession &session, const UnitStatus &status,
                 base::Clock &clock, records::Recorder *recorder, UnitDataProvider *provider, QObject *parent)
    : QObject(parent), plan_(std::move(plan)), session_(session), clock_(clock), recorder_(recorder),
      provider_(provider) {
  status_.box = status.box;
  status_.port = status.port;
  status_.attempts = status.attempts;
  status_.unitUid = QUuid::createUuid().toString(QUuid::Id128);
  connect(&session_, &BoxSession::Progress, this, [this](uint32_t p) { Progressed(int(p)); });
  connect(&session_, &BoxSession::AttemptEnded, this, [this](const session::Attempt &a) { StepDone(a); });
  connect(&session_, &BoxSession::PortLost, this, [this](const QString &detail) { status_.detail = detail; });
}

UnitRun::~UnitRun() = default;

UnitRequest UnitRun::AskedFor() const {
  return {status_.box, status_.port, status_.unitUid, plan_->jobName, plan_->lot};
}

records::UnitRow UnitRun::Row() const {
  records::UnitRow u;
  u.unitUid = status_.unitUid;
  u.jobName = plan_->jobName;
  u.jobSha256 = plan_->jobSha256;
  u.operatorName = plan_->operatorName;
  u.lot = plan_->lot;
  u.station = plan_->station;
  u.port = status_.port;
  u.serial = status_.serial;
  u.startedAt = startedAt_;
  return u;
}

OperationRequest UnitRun::Request(BoxOperation operation) const {
  switch (operation) {
  case BoxOperation::Set:
    return plan_->set.value_or(OperationRequest{});
  case BoxOperation::Verify:
    return plan_->verify.value_or(OperationRequest{});
  default: {
    OperationRequest load = plan_->load;
    load.image = image_;
    return load;
  }
  }
}

void UnitRun::Begin() {
  status_.state = UnitState::Busy;
  startedMs_ = clock_.NowMs();
  startedAt_ = QDateTime::currentDateTimeUtc();
  emit Changed(status_);
  if (!session_.IsOpen()) {
    try {
      session_.OpenPort(status_.port);
    } catch (const base::Exception &e) {
      status_.attempt = 1;
      status_.detail = e.Reason().isEmpty() ? e.Message() : e.Reason();
      // The unit shows the window's words; the system's reason goes with the notice.
      emit Notice(e.Message(), e.Reason());
      // Its record names the image it would have loaded, as far as it is known.
      OperationRequest load = Request(BoxOperation::Load);
      load.image = plan_->sharedImage;
      EndUnstarted(protocol::Outcome::PortUnavailable, base::Message::Verbatim(kOpenFailedText),
                   {load, status_.port, plan_->source, startedAt_,
                    QDateTime::currentDateTimeUtc(), {protocol::Outcome::PortUnavailable, kOpenFailedText, std::nullopt},
                    0});
      return;
    }
  }
  if (!provider_) {
    DataArrived({});
    return;
  }
  step_ = Step::Asking;
  asked_ = true;
  const QPointer<UnitRun> self(this);
  provider_->Provide(AskedFor(), [self](UnitData data) {
    if (self && self->step_ == Step::Asking)
      self->DataArrived(std::move(data));
  });
}

void UnitRun::DataArrived(UnitData data) {
  step_ = Step::None;
  if (stopping_) {
    if (asked_ && provider_)
      provider_->Unused(AskedFor());
    Done(UnitState::Ready);
    return;
  }
  status_.serial = data.serial;
  number_ = data.number;
  patches_ = data.patches;
  QString refusal = data.refusal;
  if (refusal.isEmpty() && patches_.empty()) {
    image_ = plan_->sharedImage;
  } else if (refusal.isEmpty()) {
    std::vector<uint8_t> bytes = *plan_->image;
    for (const ImagePatch &patch : patches_) {
      if (qint64(patch.address) + patch.bytes.size() > qint64(bytes.size())) {
        refusal = QStringLiteral("the unit's data at %1 (%2 bytes) does not fit in the image")
                      .arg(patch.address, 4, 16, QLatin1Char('0'))
                      .arg(patch.bytes.size());
        break;
      }
      numbering::Patch(bytes, patch.address, patch.bytes);
    }
    if (refusal.isEmpty()) {
      // The unit's bytes are data the box must ask for too.
      std::vector<image::AddressRange> filled = plan_->filled;
      for (const ImagePatch &patch : patches_)
        if (!patch.bytes.isEmpty())
          filled.push_back({patch.address, patch.address + uint32_t(patch.bytes.size()) - 1});
      image_ = PackLoadImage(bytes, plan_->source, plan_->count, plan_->sectors, filled);
    }
  }
  if (!refusal.isEmpty()) {
    if (number_ && provider_)
      provider_->Unused(AskedFor());
    number_.reset();
    asked_ = false;
    status_.attempt = 1; // what the unit was refused is its attempt
    const QDateTime now = QDateTime::currentDateTimeUtc();
    EndUnstarted(protocol::Outcome::FileRefused, base::Message::Kept(refusal),
                 {Request(BoxOperation::Load), status_.port, plan_->source, now, now,
                  {protocol::Outcome::FileRefused, refusal, std::nullopt}, 0},
                 data.stationFault ? UnitState::Ready : UnitState::Fail);
    return;
  }
  if (!recorder_) {
    StartAnswered(true, true, {});
    return;
  }
  records::UnitOp op;
  op.kind = records::UnitOp::Kind::Start;
  op.lotSize = plan_->lotSize;
  op.unit = Row();
  // Each attempt's steps at their time-out, and the pauses between.
  op.unit.holdsUntil = startedAt_.addSecs(qint64(plan_->attempts) * (3LL * plan_->timeoutSeconds + 5) + 60);
  if (number_)
    op.numbers.push_back(*number_);
  step_ = Step::Starting;
  recorder_->WriteUnit(op, replies_.Port(), [this](records::Recorder::UnitAnswer a) {
    StartAnswered(a.durable, a.placed, a.error);
  });
}

void UnitRun::StartAnswered(bool durable, bool placed, const QString &error) {
  step_ = Step::None;
  if (!durable || !placed) {
    // Its number was never allocated: the next unit takes it.
    if (asked_ && provider_)
      provider_->Unused(AskedFor());
    asked_ = false;
    if (!durable) {
      status_.reason = base::Message::Verbatim(error);
      Done(UnitState::NotRecorded);
      return;
    }
    status_.reason = base::Message::Verbatim(QStringLiteral("lot complete"));
    status_.outcome = protocol::Outcome::Interrupted;
    emit LotFull(); // before its end, so that a listener knows the end is no unit's
    Done(UnitState::Ready);
    return;
  }
  started_ = true;
  if (stopping_) {
    Finish(UnitState::Ready, protocol::Outcome::Interrupted, base::Message::Verbatim(kStoppedText));
    return;
  }
  emit Started();
}

void UnitRun::Attempt() {
  if (ended_ || finishing_)
    return;
  ++status_.attempt;
  status_.state = UnitState::Busy;
  status_.percent = 0;
  status_.detail.clear();
  shownPercent_ = 0;
  emit Changed(status_);
  if (!session_.IsOpen()) {
    const QDateTime started = QDateTime::currentDateTimeUtc();
    try {
      session_.OpenPort(status_.port);
    } catch (const base::Exception &e) {
      status_.detail = e.Reason().isEmpty() ? e.Message() : e.Reason();
      const session::Attempt a{Request(BoxOperation::Load),
                               status_.port,
                               plan_->source,
                               started,
                               QDateTime::currentDateTimeUtc(),
                               {protocol::Outcome::PortUnavailable, kOpenFailedText, std::nullopt},
                               0};
      Record(a);
      emit StepEnded(status_, a);
      emit Notice(e.Message(), e.Reason());
      emit AttemptEnded(a.end);
      return;
    }
  }
  RunStep(plan_->set ? Step::Setting : Step::Loading);
}

void UnitRun::RunStep(Step step) {
  step_ = step;
  switch (step) {
  case Step::Setting:
    session_.Start(Request(BoxOperation::Set));
    break;
  case Step::Loading:
    session_.Start(Request(BoxOperation::Load));
    break;
  case Step::Verifying:
    session_.Start(Request(BoxOperation::Verify));
    break;
  default:
    break;
  }
}

void UnitRun::Progressed(int percent) {
  int shown;
  switch (step_) {
  case Step::Loading:
    shown = plan_->verify ? percent / 2 : percent;
    break;
  case Step::Verifying:
    shown = 50 + percent / 2;
    break;
  default:
    return;
  }
  if (shown == shownPercent_)
    return;
  shownPercent_ = shown;
  status_.percent = shown;
  emit Changed(status_);
}

void UnitRun::StepDone(const session::Attempt &a) {
  const Step step = std::exchange(step_, Step::None);
  if (step != Step::Setting && step != Step::Loading && step != Step::Verifying) {
    step_ = step;
    return; // an attempt this unit did not start
  }
  Record(a);
  emit StepEnded(status_, a);
  if (stopping_) {
    Finish(UnitState::Ready, protocol::Outcome::Interrupted, base::Message::Verbatim(kStoppedText));
    return;
  }
  if (a.end.outcome == protocol::Outcome::Ok) {
    if (step == Step::Setting) {
      RunStep(Step::Loading);
      return;
    }
    if (step == Step::Loading && plan_->verify) {
      RunStep(Step::Verifying);
      return;
    }
  }
  emit AttemptEnded(a.end);
}

void UnitRun::Record(const session::Attempt &a) {
  if (!recorder_)
    return;
  records::Record r = MakeRecord(a, plan_->frontEnd);
  r.jobName = plan_->jobName;
  r.lot = plan_->lot;
  r.unitUid = status_.unitUid;
  r.serial = status_.serial;
  r.attempt = status_.attempt;
  r.operatorName = plan_->operatorName;
  r.jobSha256 = plan_->jobSha256;
  r.jobRelease = plan_->jobRelease;
  recorder_->WriteStep(r, replies_.Port(),
                       [this](records::Recorder::UnitAnswer answer) { Track(answer.durable, answer.error); });
}

void UnitRun::Track(bool durable, const QString &error) {
  if (!durable && storeError_.isEmpty())
    storeError_ = error;
}

void UnitRun::Stop() {
  if (ended_ || finishing_)
    return;
  stopping_ = true;
  switch (step_) {
  case Step::Asking:
    DataArrived({}); // ends it unstarted; the provider's late answer finds nothing waiting
    return;
  case Step::Starting:
    return; // its start is being written: the end follows the answer
  case Step::Setting:
  case Step::Loading:
  case Step::Verifying:
    if (session_.InProgress()) {
      session_.Stop(protocol::Outcome::Interrupted);
      return; // the step's end, recorded, finishes it
    }
    break;
  case Step::None:
    break;
  }
  if (started_)
    Finish(UnitState::Ready, protocol::Outcome::Interrupted, base::Message::Verbatim(kStoppedText));
  else
    Done(UnitState::Ready);
}

void UnitRun::EndUnstarted(protocol::Outcome outcome, const base::Message &reason, const session::Attempt &a,
                           UnitState state) {
  started_ = true; // its end makes its row whole
  Record(a);
  emit StepEnded(status_, a);
  Finish(state, outcome, reason);
}

void UnitRun::Finish(UnitState state, protocol::Outcome outcome, const base::Message &reason) {
  if (ended_ || finishing_)
    return;
  finishing_ = true;
  step_ = Step::None;
  finalState_ = state;
  status_.outcome = outcome;
  status_.reason = reason;
  UnitStatus ending = status_;
  ending.state = state;
  std::optional<records::NumberChange> number;
  if (asked_ && provider_)
    number = provider_->Ended(ending);
  if (!recorder_) {
    Done(state);
    return;
  }
  records::UnitOp op;
  op.kind = records::UnitOp::Kind::End;
  op.unit = Row();
  op.unit.endedAt = QDateTime::currentDateTimeUtc();
  op.unit.verdict = Verdict(state);
  // A station's fault keeps its class beside the verdict that counts it nowhere.
  op.unit.result = state == UnitState::Ready && outcome != protocol::Outcome::FileRefused
                       ? QStringLiteral("interrupted")
                       : protocol::OutcomeName(outcome);
  op.unit.attempts = status_.attempt;
  if (number)
    op.numbers.push_back(*number);
  recorder_->WriteUnit(op, replies_.Port(), [this](records::Recorder::UnitAnswer a) {
    Track(a.durable, a.error);
    if (!storeError_.isEmpty()) {
      status_.reason = base::Message::Verbatim(storeError_);
      Done(UnitState::NotRecorded);
      return;
    }
    Done(finalState_);
  });
}

void UnitRun::Done(UnitState state) {
  if (ended_)
    return;
  ended_ = true;
  finishing_ = false;
  step_ = Step::None;
  status_.state = state;
  status_.unitSeconds = double(clock_.NowMs() - startedMs_) / 1000.0;
  if (state == UnitState::Pass)
    status_.percent = 100;
  if (state == UnitState::Ready && status_.outcome == protocol::Outcome::Ok) {
    status_.outcome = protocol::Outcome::Interrupted;
    status_.reason = base::Message::Verbatim(kStoppedText);
  }
  const UnitStatus ended = status_; // a listener may end this object
  emit Changed(ended);
  emit Ended(ended);
}

} // namespace session
