#pragma once
// The options of kavrin-cli's commands: the arguments after the command name
// parsed into Options, or a message that names the faulty option and value.
//
// How it works: each parse builds a CLI11 application that holds the command
// as its subcommand ("job create" as job's), and states the command's rules as
// data: which options it takes and needs, which exclude each other, and a
// check for every value. A number is taken only as its help writes it (decimal,
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

struct Options {
  QStringList ports; // as given, in order, no device twice (under any name)
  QString file;      // load's --file, check-file's argument, run's --job
  // load, check-file: --format bin reads the file as a raw binary from --base on.
  bool rawBinary = false;
  uint32_t base = 0;
  // Unset options keep the window's start-up choices.
  base::BoxMode mode = base::BoxMode::Offline;
  base::BoxSupply supply = base::BoxSupply::FiveVolts;
  bool modeGiven = false; // a load may leave the box's mode and supply as they are
  bool powerGiven = false;
  QString count = kDefaultLoadCount; // load: count N of block 0, 1 to 6 digits
  int setCount = 0;                  // set: 0..9999
  uint32_t sectorMask = kAllSectors; // bit s-1 for sector s
  int timeoutSeconds = kDefaultTimeoutSeconds;
  bool json = false;
  bool fastReplies = false; // take whole reply frames without waiting for the silence after them
  QString chip;
  chip::DataflashUse dataflash = chip::DataflashUse::Code;
  bool dataflashGiven = false;
  QString out;
  QString recordsUrl;      // production records: where (empty: the default store)
  bool noRecords = false;  // or none at all
  // The records command: finished within [since, until), of one result, in a format.
  std::optional<QDateTime> since, until;
  QString result;
  QString format = QStringLiteral("table"); // table, csv or json (--json too)
  bool summary = false;                     // records: per job and day rather than each record
  QString per = QStringLiteral("day"); // records --summary: per day, hour, station or operator
  QString jobName; // records: --job, only that job's records; job create: --name
  // run: the lot the units count in (empty: the job's name and today's date), and how many (0: one per box).
  QString lot;
  int units = 0;
  // job create: load, then verify; retries after a failed attempt; units per lot; ask for the PIN.
  bool verify = false;
  int retries = 0, lotSize = 0;
  bool pin = false;
  // job create and load: the --serial-* options, when --serial-at was given.
  numbering::SerialPlan serialPlan;
  bool serialGiven = false;
  QString serial;       // records: only the records of the unit with this serial number
  QString operatorName; // load and run: who runs the units (empty: the login name); records: only theirs
  std::optional<base::Language> language; // --lang: of the human lines; unset, the system locale's
  bool help = false;
};

struct ParseResult {
  std::optional<Options> options; // empty on a usage error
  QString error;                  // names the option: "--count: expects ..."
};

ParseResult ParseOptions(Command command, const QStringList &args);
// job create takes load's options for what a load sends.
ParseResult ParseJobOptions(JobCommand command, const QStringList &args);

} // namespace cli
