#pragma once
// ProductionRun: the units (boards) of one production job, programmed on up
// to 16 boxes, each on its own port, with the job's bounded retries and the
// lot's counters. Each unit is a UnitRun (session/unit_run.h), which takes
// it from its start to its one verdict and writes its row and records; the
// run keeps the lot, decides retries and counts. The window's production
// view and the command line's `run --job` and `load` drive one; none repeats
// what it does.
//
// Threads: a run lives on the thread that made it, which must run a Qt event
// loop; its calls, signals and the provider's callbacks happen there. The
// store is read and written on the Recorder's StoreWorker, whose answers reach
// the run's thread through Replies, so the calling thread never waits on the
// database. Nothing here blocks or busy-waits.
//
// Ownership: the run owns one BoxSession per port (made at construction; a
// port is opened when a unit finds it closed and stays open until the run's
// end; a lost port is watched for its return), each box's last UnitRun and
// the packed image. The Recorder, the clock and the UnitDataProvider are the
// caller's and must outlive the run.
//
// Units and attempts: a box programs one unit at a time. A unit gets a fresh
// identifier (unit_uid, 32 hex digits) when it starts and keeps it, and its
// data, through all its attempts. One attempt is the job's operation whole:
// a set with the job's mode and supply, the load, and for a load-then-verify
// job the verify after a good load; each step is its own production record
// of the unit's attempt (1 for the first). The unit's row in the store holds
// its verdict (records/unit_row.h). The unit's row and records name the
// operator named when it started, and the job file's SHA-256 and release.
//
// States of a box (UnitState), changed only as follows:
//   Ready  at creation; after Stop ended a unit (neither passed nor failed);
//          when a unit did not start because its lot was complete; and when
//          the station could not give it its data (outcome FileRefused: the
//          store away), a fault of the station that counts no failed board.
//   Busy   Start/StartAll from any other state (a new unit: attempt 0 while
//          its data and its place are awaited, then attempt 1), or the next
//          attempt after Retry; percent runs 0..100 over the whole attempt (a
//          load-then-verify job: the load 0..50, the verify 50..100).
//   Retry  an attempt ended with no answer, a box failure, or the port lost,
//          and the job allows more attempts; shown "RETRY k/n": retry k of
//          the job's n retries comes next.
//          The next attempt starts kRetryPauseMs later by the run's clock; after a
//          lost port, once the port is back (PortReturned), or the unit fails
//          when it is not back within the job's time-out.
//   Pass   the attempt's last step ended ok and the unit's end is recorded.
//   Fail   any other end, or a retryable one with no attempt left. A verify
//          mismatch, a read-protected chip, a port that does not open and a
//          refusal by the UnitDataProvider are never retried.
//   NotRecorded  the store refused one of the unit's writes: no pass. The
//          run then starts no unit (StartRefusal) until a write succeeds
//          again, which it tries every kRefreshMs by its clock.
// UnitChanged is emitted on every change of a status (state, percent,
// attempt); UnitEnded once when a unit ends (any state but Busy and Retry).
//
// Time-outs: every step has the job's time-out (seconds without an ending
// answer, then NoAnswer). Time comes from the base::Clock given (tests move a
// ManualClock).
//
// The lot: a run counts the units of one job and one lot, every station's,
// from the store (records/unit_store.h), so they survive a restart and agree
// on every station: at the start, when a unit of this run ends, and every
// kRefreshMs while the run idles (SQLite), or when the server says any
// station's unit of the lot ended (PostgreSQL, and every kRefreshMs while
// the count is not current). The front end names the lot (a lot the operator
// typed, `--lot`); without one it is DefaultLot(job name, today's local
// date). A unit takes a place in the lot as it starts; when the lot's places
// are held (RunCounters::Full) Start starts nothing. Without a Recorder the
// counters count this run's units.
//
// Unit data: with a UnitDataProvider set, each unit asks it for its data and
// packs its own image from the job's image with the patches written in;
// without one, the job's image is packed once and shared by every box.
//
// A load of no job (`kavrin-cli load`, LoadOrder): the same run, each box's
// unit taking one attempt of no lot. It claims no station, counts no lot and
// needs no operator; its counters hold this run's units. The run packs the
// image from the firmware it is given, as it does a job's.

#include "base/clock.h"
#include "job/job_file.h"
#include "protocol/outcome.h"
#include "records/store_location.h"
#include "session/box_session.h"
#include "session/unit_data.h"
#include "session/unit_status.h"

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

// The lot's figures, as the store counts every station's units of this job
// and lot.
struct RunCounters {
  qint64 passed = 0;
  qint64 failed = 0;
  qint64 running = 0;         // units under way that hold a place
  int lotSize = 0;            // the job's
  double meanUnitSeconds = 0; // mean time of the units ended in this run; 0 before any
  bool loaded = false;        // the store's counts have arrived (or there is no store)
  bool current = true;        // false: the server is out of reach; its last count and this station's spool
  QString error;              // why the store could not be read, with its reason
  // passed / (passed + failed) in percent; negative when there is no unit.
  double YieldPercent() const;
  // Every place of the lot is held (by passed units and units under way).
  bool Full() const { return lotSize > 0 && passed + running >= lotSize; }
  bool operator==(const RunCounters &) const = default;
};

// "<job name> 2026-12-08": the lot of a run the front end names none for.
QString DefaultLot(const QString &jobName, const QDate &day);

// What a front end sets beside the job and ports.
struct RunOptions {
  QString lot;                                 // empty: DefaultLot(job's name, today)
  QString station;                             // empty: the ports, comma-separated
  QString frontEnd = QStringLiteral("window"); // records::kFrontEnds
  QString operatorName;                        // who runs the units (session/operator_name.h); empty: none yet
  bool fastReplies = false;                    // BoxSession::SetFastReplies on every box
  std::shared_ptr<serial::SerialLayer> layer;  // null: the platform's serial ports
};

// What a load of no job asks of every box: the set (when a mode or supply was
// given), then the load of the firmware, once. The run packs the firmware's
// image with the load's count N and sector mask.
struct LoadOrder {
  image::FirmwareFile firmware; // accepted
  QString firmwarePath;         // as the records name it
  std::optional<OperationRequest> set;
  OperationRequest load; // its image is the run's to pack
  int timeoutSeconds = 120;
};

class ProductionRun : public QObject {
  Q_OBJECT
public:
  static constexpr int kMostBoxes = job::kMostPorts;
  static constexpr int kRetryPauseMs = 500;
  static constexpr int kRefreshMs = 2000;

  // `opened` must be accepted (no refusal, job and firmware present); `ports`
  // holds 1..kMostBoxes names (the front end has applied the job's ports).
  // Counters begin to be read at once, and the station is claimed: what a
  // dead run of it left unfinished is settled (records/unit_row.h
  // UnitOp::Kind::Settle), unless another live process holds it.
  ProductionRun(const job::OpenedJob &opened, const QStringList &ports, base::Clock &clock, records::Recorder *recorder,
                RunOptions options, QObject *parent = nullptr);
  // A load of no job on the boxes of `ports`; options.lot is not used.
  ProductionRun(const LoadOrder &order, const QStringList &ports, base::Clock &clock, records::Recorder *recorder,
                RunOptions options, QObject *parent = nullptr);
  ~ProductionRun() override; // stops every box and closes the ports

  // Not owned; set before the first unit starts (null: the shared image).
  void SetUnitDataProvider(UnitDataProvider *provider);
  // Who runs the units started from now on; a unit under way keeps its
  // operator. While no one is named (empty), no unit starts.
  void SetOperator(const QString &name);
  QString Operator() const;

  // Starts a new unit on every box that is not Busy or in Retry.
  void StartAll();
  // Starts a new unit on box `box` (1-based); false when it is Busy, in Retry,
  // no box of the run, or StartRefusal says why not.
  bool Start(int box);
  // Ends every unit in progress as stopped: back to Ready, counted neither way.
  void Stop();
  // Why Start starts nothing now: another live process runs this station
  // (named by the store's lease), no operator is named, the lot's places
  // are all held, or the store refused the last write (its reason); empty
  // when it starts.
  QString StartRefusal() const;

  // The job; for a load, one of no name, no lot and no retries, whose
  // time-out is the load's.
  const job::Job &Job() const;
  QString Lot() const; // empty for a load
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
  // No count of the store is under way: Counters hold every unit that ended here.
  bool CountsSettled() const;
  bool Busy() const; // some box is Busy or in Retry
  // The box's session, for a front end that shows more of it (its port).
  BoxSession &Session(int box);

signals:
  void UnitChanged(const session::UnitStatus &status);
  void UnitEnded(const session::UnitStatus &status);
  void CountersChanged(const session::RunCounters &counters);
  // One step of an attempt (set, load, verify) ended and its record was
  // asked for; `status` is the box's status after it.
  void StepEnded(const session::UnitStatus &status, const Attempt &step);
  // A notice of a session's (BoxSession::Error, a port that did not open) with its box.
  void Notice(int box, const QString &text);
  // Box `box`'s unit did not start: its lot's places were all held. Told
  // before its UnitEnded (a Ready unit of no row).
  void LotFull(int box);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace session
