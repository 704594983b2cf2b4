#pragma once
// The options of kavrin-cli's commands: the arguments after the command name
// parsed into the command's own option set (LoadOptions for load, ...), its
// help text for --help, or a message that names the faulty option and value.
//
// How it works: each parse builds a CLI11 application that holds the command
// as its subcommand ("job create" as job's), and states the command's rules as
// data: which options it takes and needs, which exclude each other, and a
// check for every value, each filling a field of the command's option set.
// Every error is CLI11's error object: its own for a missing option or two
// that exclude each other, the option's check's for a bad value, a second
// value or a value given to a flag. The help is CLI11's formatter laying out
// each option's description under the command's usage. A command that drives
// boxes builds on BoxOptions, a load's settings are LoadSettings (job create
// takes them too). A number is taken only as its help writes it (decimal,
// or hex where the help says hex) and within its range: CLI11's own number
// conversion takes signs, blanks, octal and "0x" alike. Pure apart from asking
// the system which device each --port names. Options come in any order, as
// "--opt value" or "--opt=value"; "--" ends the options; --help anywhere before
// it wins over every fault on the line.

#include "base/box_choices.h"
#include "base/language.h"
#include "chip/chip_list.h"
#include "cli/sector_list.h"
#include "numbering/serial_plan.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <variant>

namespace cli {

enum class Command { Load, Verify, EraseProgramVerify, Set, ReadOut, CheckFile, Ports, Records, Run };

// The command's name on the command line, and its operation name in events.
QString CommandName(Command command);

// The subcommands of `kavrin-cli job`.
enum class JobCommand { Create, Show };
QString JobCommandName(JobCommand command); // "job create", "job show"

inline constexpr int kDefaultTimeoutSeconds = 120;
inline constexpr int kMaxTimeoutSeconds = 86400;
inline const QString kDefaultLoadCount = QStringLiteral("999999");
inline constexpr uint32_t kAllSectors = 0xFFFFFFFFu;

// Where a command that drives boxes finds them, how long it waits, how it
// reports and where it records: verify's and erase-program-verify's options,
// and the base of every other such command's.
struct BoxOptions {
  QStringList ports; // as given, in order, no device twice (under any name)
  int timeoutSeconds = kDefaultTimeoutSeconds;
  bool json = false;
  bool fastReplies = false; // take whole reply frames without waiting for the silence after them
  QString recordsUrl;       // production records: where (empty: the default store)
  bool noRecords = false;   // or none at all
};

// A firmware file and how to read it: --format bin reads it as a raw binary from --base on.
struct FirmwareChoice {
  QString file;
  bool rawBinary = false;
  uint32_t base = 0;
};

// What a load sends: load's options and job create's.
struct LoadSettings {
  FirmwareChoice firmware; // --file, --format, --base
  // Unset, the window's start-up choices; a load may then leave the box's mode and supply as they are.
  base::BoxMode mode = base::BoxMode::Offline;
  base::BoxSupply supply = base::BoxSupply::FiveVolts;
  bool modeGiven = false;
  bool powerGiven = false;
  QString count = kDefaultLoadCount; // the count N of block 0, 1 to 6 digits
  uint32_t sectorMask = kAllSectors; // bit s-1 for sector s
  numbering::SerialPlan serialPlan;       // the --serial-* options, when --serial-at was given
  bool serialGiven = false;
};

struct LoadOptions : BoxOptions {
  LoadSettings load;
  QString operatorName; // who runs the units (empty: the login name)
};

struct SetOptions : BoxOptions {
  base::BoxMode mode = base::BoxMode::Offline;
  base::BoxSupply supply = base::BoxSupply::FiveVolts;
  int count = 0; // 0..9999
};

struct ReadOutOptions : BoxOptions {
  QString chip;
  chip::DataflashUse dataflash = chip::DataflashUse::Code;
  bool dataflashGiven = false;
  QString out;
};

struct CheckFileOptions {
  FirmwareChoice firmware; // FILE, --format, --base
};

struct PortsOptions {
  bool json = false;
};

// The records finished within [since, until), of one result, job, serial
// number and operator, each record or their figures, in a format.
struct RecordsOptions {
  QString recordsUrl; // empty: the default store
  std::optional<QDateTime> since, until;
  QString result;
  QString job;
  QString serial;
  QString operatorName;
  QString format = QStringLiteral("table"); // table, csv or json (--json too)
  bool summary = false;                     // per job and day rather than each record
  QString per = QStringLiteral("day");      // --summary: per day, hour, station or operator
};

// run: the job says what a load sends and how long to wait; only where and how much is the operator's.
struct RunOptions : BoxOptions {
  QString jobFile;
  QString lot;   // the lot the units count in (empty: the job's name and today's date)
  int units = 0; // how many (0: one per box)
  QString operatorName;
};

struct JobCreateOptions {
  QString out;  // the job file
  QString name; // the job's name
  LoadSettings load;
  QString chip;
  int timeoutSeconds = kDefaultTimeoutSeconds;
  QStringList ports;   // a run's default ports
  bool verify = false; // load, then verify
  int retries = 0;     // after a failed attempt
  int lotSize = 0;     // units per lot
  bool pin = false;    // ask for the engineer PIN
};

struct JobShowOptions {
  QString file;
};

struct ParseResult {
  // The command's options; none on a usage error (error names the option:
  // "--count: expects ...") and for --help (helpText is the command's help).
  std::variant<std::monostate, LoadOptions, BoxOptions, SetOptions, ReadOutOptions, CheckFileOptions, PortsOptions,
               RecordsOptions, RunOptions, JobCreateOptions, JobShowOptions>
      options;
  QString error;
  bool help = false;
  QString helpText;
  std::optional<base::Language> language; // --lang: of the human lines; unset, the system locale's

  bool Ok() const { return options.index() != 0; }
  template <typename T> const T &Get() const { return std::get<T>(options); }
};

// Verify and erase-program-verify give BoxOptions; every other command its own.
ParseResult ParseOptions(Command command, const QStringList &args);
ParseResult ParseJobOptions(JobCommand command, const QStringList &args);

} // namespace cli
