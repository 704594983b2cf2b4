#pragma once
// The hand-over from the command line to the box sessions. Everything the
// sessions need has been read and checked by then: the options, the firmware
// of a load (accepted), the chip of a read-out; no port has been touched.

#include "cli/chip_choice.h"
#include "cli/event_sink.h"
#include "cli/interrupt_watcher.h"
#include "cli/options.h"
#include "image/firmware_file.h"
#include "job/job_file.h"
#include "records/store_location.h"
#include "numbering/serial_plan.h"

#include <optional>
#include <variant>

namespace cli {

struct SessionPlan {
  Command command = Command::Verify; // load, verify, erase-program-verify, set or read-out
  // The command's options: BoxOptions for verify and erase-program-verify.
  using CommandOptions = std::variant<BoxOptions, LoadOptions, SetOptions, ReadOutOptions>;
  CommandOptions options;
  QString operatorName; // who runs the units: load's --operator, else the login name
  // load: the accepted image; its leftOutNotice (when not empty) is the text
  // the window shows in its status bar.
  image::FirmwareFile firmware;
  // read-out: the chosen chip; its bytes go to ReadOut().out through SaveReadOut.
  std::optional<ChipTarget> chip;
  // Where every attempt is recorded (Off: nowhere), and the serial numbers drawn.
  records::StoreLocation records;
  // load with --serial-list: the list, read.
  numbering::ListFile serialList;

  const BoxOptions &Boxes() const {
    return std::visit([](const auto &o) -> const BoxOptions & { return o; }, options);
  }
  const LoadOptions &Load() const { return std::get<LoadOptions>(options); }
  const SetOptions &Set() const { return std::get<SetOptions>(options); }
  const ReadOutOptions &ReadOut() const { return std::get<ReadOutOptions>(options); }
};

// The record store the options name: --no-records, --records URL, or the
// default store. nullopt and *error for a URL that is not one.
std::optional<records::StoreLocation> RecordStore(const BoxOptions &options, QString *error);

// Descriptors one open port holds: the device, its close signal, and the
// completion and queue signals of its receive and transmit threads.
inline constexpr int kDescriptorsPerPort = 6;

// Why `ports` ports cannot be open at once in this process, empty when they
// can: each holds kDescriptorsPerPort descriptors, and the open-files limit
// (raised to its hard limit first) less those open now and a margin for the
// records store and the event loop must hold them all.
QString PortLimitRefusal(qsizetype ports);

// Records the end of a load whose file was refused, on every port of the plan.
void RecordRefusedFile(const SessionPlan &plan);

// Runs one session per port of the plan at once on the running event loop (a
// load: one unit per box of the engine's production run, of no job or lot),
// reports them to `sink` (Finish after the last result), stops every session
// when `interrupts` fires, and returns the exit status (RunExitCode of the
// results; 130 after an interrupt).
int RunSessions(const SessionPlan &plan, EventSink &sink, InterruptWatcher &interrupts);

// A job run: the job opened and accepted, the boxes' ports (1..16: those
// given, else the job's), the lot and how many units (options.lot,
// options.units), where the attempts are recorded.
struct JobPlan {
  job::OpenedJob job;
  RunOptions options; // ports: those given, else the job's; operatorName: given, else the login name
  records::StoreLocation records;
};

// Programs options.units units (one per box when 0) of the job, each box
// taking the next unit as soon as its last one ended, until that many have
// ended or a box's port did not open (that box takes no more). Reports every
// unit's attempts to `sink` as a load's, tagged with the unit, then the lot's
// counters read back from the records; stops every box when `interrupts`
// fires; returns RunExitCode of the units' results.
int RunJobUnits(const JobPlan &plan, EventSink &sink, InterruptWatcher &interrupts);

} // namespace cli
