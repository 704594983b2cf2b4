#pragma once
// UnitRun: one unit (one board) on one box, from its start to its one
// verdict, written once for every front end: the production view,
// `kavrin-cli run --job` and `kavrin-cli load`, each through ProductionRun.
//
// Begin: opens the box's port when it is closed (one that does not open ends
// the unit failed, port-unavailable, before it takes a number or a place in
// its lot); asks the UnitDataProvider for the unit's data (a refusal ends it
// failed, file-refused; a refusal that is the station's fault, the store away,
// ends it Ready with outcome FileRefused, verdict interrupted); packs the unit's own image with its data written
// in; writes the unit's start (its row without a verdict, its number
// allocated, a place in its lot) and waits for the store's answer: no place
// left ends it not started (Ready, LotFull), a store that refuses the write
// ends it NotRecorded before the box is touched. Then Started.
// Attempt: the steps, each its own production record of the unit's attempt:
// the set (when the plan has one), the load, the verify (when it has one);
// the first step not ok, or the last one, ends the attempt (AttemptEnded).
// Whether another attempt follows is the caller's: Attempt again, or Finish.
// Finish: writes the unit's end (its verdict, its number's new state) and
// waits for the answer: Ended with Pass, Fail or Ready (stopped) when it is
// durable, NotRecorded when it is not, or when any of the unit's records
// was not (records/recorder.h). Stop: the step under way ends interrupted
// (its record written), then Finish as stopped.
//
// Threads: lives on the thread of its BoxSession (an event loop); answers of
// the store and the provider arrive there. Ownership: the session, the
// clock, the Recorder (null: records off, every write is durable) and the
// provider are the caller's and outlive the unit. Time: the unit's seconds
// by the clock given; a step's time-out is the session's.

#include "base/clock.h"
#include "records/replies.h"
#include "records/unit_row.h"
#include "session/box_session.h"
#include "session/unit_data.h"
#include "session/unit_status.h"

#include <QObject>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace records {
class Recorder;
}

namespace session {

// What every unit of a run shares.
struct UnitPlan {
  QString jobName; // empty: a load of no job
  QString jobSha256;
  QString jobRelease;   // the trusted comment that released the job; empty when none was asked for
  QString operatorName; // who runs the units (session/operator_name.h)
  QString lot;
  int lotSize = 0; // 0: the unit takes no place in a lot
  QString station; // the run's name within its host (records/serial_pool.h)
  QString frontEnd = QStringLiteral("window");
  int attempts = 1;        // the most a unit may take, for the time its place is held
  int timeoutSeconds = 120; // a step's
  std::optional<OperationRequest> set; // each attempt's first step
  OperationRequest load;               // its image is the unit's own or `sharedImage`
  std::optional<OperationRequest> verify;
  // The image a unit's data is written into (a byte per address), and what
  // its packing needs.
  std::shared_ptr<const std::vector<uint8_t>> image;
  LoadSource source;
  uint32_t count = 0;
  uint32_t sectors = 0xFFFFFFFFu;
  std::vector<image::AddressRange> filled;      // what the file gave (a unit's data adds its own)
  std::shared_ptr<const LoadImage> sharedImage; // a unit without data loads this
};

class UnitRun : public QObject {
  Q_OBJECT
public:
  // `status` carries the box, port and attempts of the unit; the rest is its own.
  UnitRun(std::shared_ptr<const UnitPlan> plan, BoxSession &session, const UnitStatus &status, base::Clock &clock,
          records::Recorder *recorder, UnitDataProvider *provider, QObject *parent = nullptr);
  ~UnitRun() override;

  void Begin();
  // The next attempt; after Started, or after an AttemptEnded.
  void Attempt();
  // Ends the unit: `state` Pass, Fail or Ready (stopped, with Interrupted).
  void Finish(UnitState state, protocol::Outcome outcome, const base::Message &reason);
  // Ends whatever is under way as stopped by the operator.
  void Stop();

  const UnitStatus &Status() const { return status_; }
  bool IsOver() const { return ended_; }
  bool Finishing() const { return finishing_; }
  // The image the unit loads (its own when its data patched it), null before it is packed.
  const std::shared_ptr<const LoadImage> &Image() const { return image_; }
  const std::vector<ImagePatch> &Patches() const { return patches_; }

signals:
  void Changed(const session::UnitStatus &status);
  // One step ended and its record was asked for.
  void StepEnded(const session::UnitStatus &status, const session::Attempt &step);
  void Started();
  void AttemptEnded(const session::OperationEnd &end);
  // Not started: the lot had no place left. The unit is Ready, nothing of it is written.
  void LotFull();
  void Ended(const session::UnitStatus &status);
  // A port did not open: the error's message and the system's reason.
  void Notice(const QString &message, const QString &reason);

private:
  enum class Step : uint8_t { None, Asking, Starting, Setting, Loading, Verifying };
  void DataArrived(UnitData data);
  void StartAnswered(bool durable, bool placed, const QString &error);
  void RunStep(Step step);
  void StepDone(const session::Attempt &a);
  void Progressed(int percent);
  void Record(const session::Attempt &a);
  // A unit that ends before it started: its one record, then its end
  // (`state` Ready for a fault of the station's rather than the board's).
  void EndUnstarted(protocol::Outcome outcome, const base::Message &reason, const session::Attempt &a,
                    UnitState state = UnitState::Fail);
  void Done(UnitState state);
  OperationRequest Request(BoxOperation operation) const;
  // The unit's row as far as its start knows it.
  records::UnitRow Row() const;
  void Track(bool durable, const QString &error);
  UnitRequest AskedFor() const;

  const std::shared_ptr<const UnitPlan> plan_;
  BoxSession &session_;
  base::Clock &clock_;
  records::Recorder *const recorder_;
  UnitDataProvider *const provider_;
  UnitStatus status_;
  Step step_ = Step::None;
  bool asked_ = false;   // the provider gave data this unit may hand back or end
  bool started_ = false; // its start is written
  bool stopping_ = false;
  bool finishing_ = false;
  bool ended_ = false;
  int shownPercent_ = 0;
  int64_t startedMs_ = 0;
  QDateTime startedAt_;
  std::optional<records::NumberChange> number_;
  QString storeError_; // the first write of the unit the store refused
  std::shared_ptr<const LoadImage> image_;
  std::vector<ImagePatch> patches_;
  UnitState finalState_ = UnitState::Ready;
  records::Replies replies_; // last: goes first
};

} // namespace session
