#pragma once
// ProductionRun: the units (boards) of one production job, programmed on up
// to 16 boxes, each on its own port, with the job's bounded retries, a
// production record for every attempt and the lot's counters. The window's
// production view and the command line's `run --job` both drive one; neither
// repeats what it does.
//
// Threads: a run lives on the thread that made it, which must run a Qt event
// loop; its calls, signals and the provider's callbacks happen there. The
// lot's counters are read from the record store on a worker thread and reach
// the run's thread by a queued call, so the calling thread never waits on
// the database. Nothing here blocks or busy-waits.
//
// Ownership: the run owns one BoxSession per port (made at construction; a
// port is opened when an attempt finds it closed and stays open until the
// run's end; a lost port is watched for its return) and the packed images. The Recorder, the clock and the
// UnitDataProvider are the caller's and must outlive the run.
//
// Units and attempts: a box programs one unit at a time. A unit gets a fresh
// identifier (unit_uid, 32 hex digits) when it starts and keeps it, and its
// data, through all its attempts. One attempt is the job's operation whole:
// a set with the job's mode and supply, the load, and for a load-then-verify
// job the verify after a good load. Each of those steps is its own
// production record carrying the job's name, the lot, the unit_uid and the
// attempt's number (1 for the first), so the unit's last record says how it
// ended (records/yield.h counts units so).
//
// States of a box (UnitState), changed only as follows:
//   Ready  at creation; and after Stop ended a unit (neither passed nor failed).
//   Busy   Start/StartAll from Ready, Pass or Fail (a new unit: with a
//          provider, attempt 0 while its data is awaited, then attempt 1), or
//          the next attempt after Retry; percent runs 0..100 over the whole
//          attempt (a load-then-verify job: the load 0..50, the verify 50..100).
//   Retry  an attempt ended with no answer, a box failure, or the port lost,
//          and the job allows more attempts; shown "RETRY k/n": retry k of
//          the job's n retries comes next.
//          The next attempt starts kRetryPauseMs later by the run's clock; after a
//          lost port, once the port is back (PortReturned), or the unit fails
//          when it is not back within the job's time-out.
//   Pass   the attempt's last step ended ok.
//   Fail   any other end, or a retryable one with no attempt left. A verify
//          mismatch, a read-protected chip, a port that does not open and a
//          refusal by the UnitDataProvider are never retried.
// UnitChanged is emitted on every change of a status (state, percent,
// attempt); UnitEnded once when a unit reaches Pass or Fail, or is stopped.
//
// Time-outs: every step has the job's time-out (seconds without an ending
// answer, then NoAnswer). Time comes from the base::Clock given (tests move a
// ManualClock).
//
// The lot: a run counts the units of one job and one lot. The front end names
// the lot (a lot the operator typed, `--lot`); without one it is
// DefaultLot(job name, today's local date). Counters start from the records
// of that job and lot (records::CountLot on the store given), so they survive a
// restart, and are kept up to date as units end here; Counters().loaded is
// false until the store has answered (a store that could not be read, with
// Counters().error, is asked again as units end). With a PostgreSQL store,
// records still in the local spool are not counted until forwarded.
//
// Unit data: with a UnitDataProvider set, the run asks it for each unit's
// data before the unit's first attempt and packs that unit's own image from
// the job's image with the patches written in; without one, the job's image
// is packed once and shared by every box.

#include "base/clock.h"
#include "job/job_file.h"
#include "protocol/outcome.h"
#include "records/store_location.h"
#include "session/box_session.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace serial {
class SerialLayer;
}

namespace records {
class Recorder;
}

namespace session {

enum class UnitState : uint8_t { Ready, Busy, Retry, Pass, Fail };

// "READY", "BUSY", "RETRY", "PASS", "FAIL".
QString UnitStateWord(UnitState state);

// What a front end shows of one box.
struct UnitStatus {
  int box = 0; // 1-based, in the order of the run's ports
  QString port;
  UnitState state = UnitState::Ready;
  int percent = 0;  // Busy: 0..100 over the attempt
  int attempt = 0;  // k: the attempt running or last run, 1-based; 0 before the first unit
  int attempts = 1; // n: 1 + the job's retries
  // How the unit's last attempt ended (Ok until one ended otherwise) and why,
  // as the designed text (what records keep), as shown in the language in
  // use (session/operator_text.h ShownText) and in English.
  protocol::Outcome outcome = protocol::Outcome::Ok;
  QString reason;
  QString reasonShown;
  QString reasonEnglish;
  QString unitUid;        // empty before the first unit
  QString serial;         // the unit's serial number text from its UnitData; empty without one
  double unitSeconds = 0; // Pass/Fail: from the unit's start to its end, by the run's clock

  // "READY", "BUSY 42%", "RETRY 1/3" (retry k = attempt of n = attempts - 1), "PASS", "FAIL".
  QString StateText() const;
  bool operator==(const UnitStatus &) const = default;
};

// The lot's figures: units of this job and lot that passed and failed, from
// the records and then this run.
struct RunCounters {
  qint64 passed = 0;
  qint64 failed = 0;
  int lotSize = 0;            // the job's
  double meanUnitSeconds = 0; // mean time of the units ended in this run; 0 before any
  bool loaded = false;        // the store's counts have arrived (or there is no store)
  QString error;              // why the store could not be read, with its reason; counts start at 0 then
  // passed / (passed + failed) in percent; negative when there is no unit.
  double YieldPercent() const;
  bool operator==(const RunCounters &) const = default;
};

// Bytes to write into the 32 KiB image at `address` (0000-7FFF) before it is
// packed; the block sums and the checksum are computed over the patched image.
struct ImagePatch {
  uint32_t address = 0;
  QByteArray bytes;
  bool operator==(const ImagePatch &) const = default;
};

// One unit's own data, or why the unit must not be programmed.
struct UnitData {
  QString serial; // shown and recorded as the unit's serial number text
  std::vector<ImagePatch> patches;
  QString refusal; // not empty: the unit fails with this text (a designed or English text), no attempt made
};

// Which unit the data is asked for.
struct UnitRequest {
  int box = 0;
  QString port;
  QString unitUid;
  QString jobName;
  QString lot;
};

// Hands out each unit's data, e.g. a serial number drawn from a shared store.
// Called on the run's thread; may answer at once or later.
class UnitDataProvider {
public:
  virtual ~UnitDataProvider() = default;
  // Asked once per unit, before its first attempt. `done` must be called
  // exactly once, on the run's thread; called after the unit was stopped or
  // the run destroyed, it does nothing.
  virtual void Provide(const UnitRequest &unit, std::function<void(UnitData)> done) = 0;
  // The unit asked for ended (Pass, Fail, or stopped: state Ready) with its
  // data; a provider may give up or keep what it handed out.
  virtual void UnitEnded(const UnitStatus &unit) { (void)unit; }
};

// "<job name> 2026-12-08": the lot of a run the front end names none for.
QString DefaultLot(const QString &jobName, const QDate &day);

// What a front end sets beside the job and ports.
struct RunOptions {
  QString lot;                                 // empty: DefaultLot(job's name, today)
  records::StoreLocation store;                // where the lot's counters are read; Off: they start at 0
  QString frontEnd = QStringLiteral("window"); // records::kFrontEnds
  bool fastReplies = false;                    // BoxSession::SetFastReplies on every box
  std::shared_ptr<serial::SerialLayer> layer;  // null: the platform's serial ports
};

class ProductionRun : public QObject {
  Q_OBJECT
public:
  static constexpr int kMostBoxes = job::kMostPorts;
  static constexpr int kRetryPauseMs = 500;

  // `opened` must be accepted (no refusal, job and firmware present); `ports`
  // holds 1..kMostBoxes names (the front end has applied the job's ports).
  // Counters begin to be read at once.
  ProductionRun(const job::OpenedJob &opened, const QStringList &ports, base::Clock &clock, records::Recorder *recorder,
                RunOptions options, QObject *parent = nullptr);
  ~ProductionRun() override; // stops every box and closes the ports

  // Not owned; set before the first unit starts (null: the shared image).
  void SetUnitDataProvider(UnitDataProvider *provider);

  // Starts a new unit on every box that is not Busy or in Retry.
  void StartAll();
  // Starts a new unit on box `box` (1-based); false when it is Busy, in Retry
  // or no box of the run.
  bool Start(int box);
  // Ends every unit in progress as Interrupted: back to Ready, counted neither way.
  void Stop();

  const job::Job &Job() const;
  QString Lot() const;
  QString ImageChecksum() const; // the job's image checksum caption
  // The checksum caption of the image box `box`'s unit loads (its own, with
  // its data written in), the job's until the unit's data has arrived.
  QString UnitChecksum(int box) const;
  // What was written into the box's unit's image; empty before its data
  // arrived and for a unit without data. Kept after the unit's end.
  const std::vector<ImagePatch> &UnitPatches(int box) const;
  const image::FirmwareFile &Firmware() const; // the job's, as read
  int BoxCount() const;
  const std::vector<UnitStatus> &Units() const; // by box - 1
  const UnitStatus &Unit(int box) const;        // 1-based, must be a box of the run
  const RunCounters &Counters() const;
  bool Busy() const; // some box is Busy or in Retry
  // The box's session, for a front end that shows more of it (its port).
  BoxSession &Session(int box);

signals:
  void UnitChanged(const session::UnitStatus &status);
  void UnitEnded(const session::UnitStatus &status);
  void CountersChanged(const session::RunCounters &counters);
  // One step of an attempt (set, load, verify) ended and was recorded;
  // `status` is the box's status after it.
  void StepEnded(const session::UnitStatus &status, const Attempt &step);
  // A notice of a session's (BoxSession::Error) with its box.
  void Notice(int box, const QString &text);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace session
