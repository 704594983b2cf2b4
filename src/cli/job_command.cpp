#include "cli/job_command.h"

#include "base/install_paths.h"
#include "base/printable.h"
#include "cli/chip_choice.h"
#include "cli/console.h"
#include "cli/hex_writer.h"
#include "cli/options.h"
#include "cli/pin_entry.h"
#include "cli/result_class.h"
#include "job/job_file.h"
#include "job/signature.h"
#include "job/pin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace cli {

namespace {

using base::Quoted;

const QString kCreateUsage =
    QStringLiteral("Usage: kavrin-cli job create --out FILE.kavjob --name NAME --file FILE --lot-size N\n"
                   "                             [options]\n\n"
                   "Writes a production job: the firmware file (named relative to the job file's\n"
                   "folder when it lies there or below, else absolute) with its SHA-256 and image\n"
                   "checksum, and what a run of the job sends. A run refuses the job when the\n"
                   "firmware file has changed. Prints the job, its checksum and how to sign it.\n\n"
                   "  --out FILE.kavjob   the job file to write (a regular file is replaced whole)\n"
                   "  --name NAME         the job's name, as the records and the station show it\n"
                   "  --file FILE         the firmware file\n"
                   "  --format bin        FILE is a raw binary image (else its form is told by its\n"
                   "                      content: Intel HEX, Motorola S-record or ELF)\n"
                   "  --base ADDRESS      where a raw binary begins, hex (default 0000)\n"
                   "  --chip NAME         the chip type, a name from MCUtype.txt (default none)\n"
                   "  --verify            load, then verify (default: load)\n"
                   "  --mode MODE         online or offline (default offline)\n"
                   "  --power POWER       5v or off: the target's supply (default 5v)\n"
                   "  --count N           the count sent with the image, 1 to 6 digits\n"
                   "                      (default 999999)\n"
                   "  --sectors LIST      sectors 1..32 to program, like 1-8,17,32 (default all)\n"
                   "  --timeout SECONDS   give up on a box after SECONDS, 1..86400 (default 120)\n"
                   "  --retries N         attempts more for a unit whose attempt failed, 0..5\n"
                   "                      (default 0)\n"
                   "  --lot-size N        units in a lot, 1..1000000\n"
                   "  --port PORT         a box's serial port (repeat for a gang, up to 16); a run\n"
                   "                      given none takes these\n"
                   "  --pin               protect the job with an engineer PIN: asked for twice on\n"
                   "                      the terminal without echo, or the first line of standard\n"
                   "                      input; kept only as a salted Argon2id hash\n"
                   "\nA serial number of its own in each unit (needs --mode online or --count 1: in\n"
                   "offline mode the box burns one image into every chip):\n"
                   "  --serial-at ADDRESS where the number is written, hex 0000..7FFF\n"
                   "  --serial-format F   le32 or be32 (a 32-bit word), dec:N or hex:N (N ASCII\n"
                   "                      digits, zero-filled)\n"
                   "  --serial-prefix T   ASCII text before the digits of dec:N and hex:N\n"
                   "  --serial-start N    the first number (default 1)\n"
                   "  --serial-step N     from one number to the next (default 1)\n"
                   "  --serial-pool NAME  the records store's pool the numbers are drawn from, shared\n"
                   "                      by every station of the store (default: the job's name)\n"
                   "  --serial-list FILE  values from FILE instead, one a line, each used once: text,\n"
                   "                      or hex: and pairs of hex digits for raw bytes; the job\n"
                   "                      keeps the file's SHA-256, and a run refuses the job once\n"
                   "                      the list has changed\n"
                   "  --serial-overwrite  the field may cover bytes the firmware file fills\n"
                   "  --serial-block N    numbers a station reserves at once, 1..1000 (default 10),\n"
                   "                      so that it works on through a short outage of the store\n"
                   "  --serial-keep-failed  a unit that finally fails hands its number to the next\n"
                   "                      unit (default: the number is given up)\n"
                   "  --help              show this text\n");

const QString kShowUsage =
    QStringLiteral("Usage: kavrin-cli job show FILE\n\n"
                   "Opens the job file FILE as a run would, its firmware file included, and prints\n"
                   "it; or why it is refused (exit status 3).\n\n"
                   "Released by signature: once a trusted key is installed (a minisign public key\n"
                   "file, *.pub, in /etc/kavrin-programmer/trusted-keys/, or in trusted-keys/ beside\n"
                   "the executables of a portable install), a job opens only when FILE.minisig is a\n"
                   "signature of FILE by one of them and neither FILE nor the signature's trusted\n"
                   "comment changed since; \"Released:\" names the trusted comment and the key.\n"
                   "Refused: an unsigned job, a job changed after signing (any byte), a signature by\n"
                   "another key, a malformed signature file, a changed trusted comment, a *.pub\n"
                   "entry that is no readable key file, a trusted-keys folder or key file that\n"
                   "others than its owner may write. With no trusted key installed no signature is\n"
                   "asked for (\"Signature: none (no trusted key installed)\").\n"
                   "  make a key pair     minisign -G -p engineer.pub -s engineer.key\n"
                   "  sign a job          minisign -Sm motor.kavjob -s engineer.key \\\n"
                   "                        -t \"released by Wang Li for lot 12\"\n"
                   "  install the key     copy engineer.pub into the trusted-keys folder\n"
                   "  retire a key        remove its file from that folder\n\n"
                   "  --help              show this text\n");

std::optional<Options> Parse(JobCommand command, const QStringList &args, int &status) {
  return OptionsOrStatus(ParseJobOptions(command, args), JobCommandName(command),
                         command == JobCommand::Create ? kCreateUsage : kShowUsage, status);
}

int RunCreate(const QStringList &args, const CliContext &context) {
  constexpr JobCommand command = JobCommand::Create;
  int status = 0;
  const std::optional<Options> options = Parse(command, args, status);
  if (!options)
    return status;
  const Options &o = *options;
  if (!o.out.endsWith(job::kSuffix))
    return UsageError(JobCommandName(command),
                      QStringLiteral("--out: a job file's name ends in %1, got %2").arg(job::kSuffix, Quoted(o.out)));
  const QFileInfo folder(QFileInfo(o.out).absolutePath());
  if (!folder.isDir())
    return UsageError(JobCommandName(command),
                      QStringLiteral("--out: no folder \"%1\"").arg(QDir::toNativeSeparators(folder.filePath())));
  if (const QString why = OutRefusal(o.out); !why.isEmpty())
    return UsageError(JobCommandName(command), QStringLiteral("--out: \"%1\": %2").arg(o.out, why));
  if (o.ports.size() > job::kMostPorts)
    return UsageError(JobCommandName(command),
                      QStringLiteral("--port: a job names at most %1 ports").arg(job::kMostPorts));

  job::Job made;
  if (!o.chip.isEmpty()) {
    const chip::ChipListText list = chip::ReadChipListFile(FindChipList(context.programDir));
    if (!list.error.isEmpty())
      return UsageError(JobCommandName(command), QStringLiteral("--chip: cannot read the chip list: ") + list.error);
    const ChipLookup lookup = LookUpChip(list.text, o.chip, chip::DataflashUse::Code, false);
    if (!lookup.chip)
      return UsageError(JobCommandName(command), lookup.error);
    made.chip = lookup.chip->record.ChipName.trimmed();
  }
  const image::FirmwareFile firmware = image::ReadFirmware(
      o.file, o.rawBinary ? image::FirmwareFormat::RawBinary : image::FirmwareFormat::ByContent, o.base);
  if (!firmware.Accepted()) {
    Complain(QStringLiteral("kavrin-cli job create: refused: ") + firmware.refusal + QLatin1Char('\n'));
    return ExitCode(ResultClass::FileRefused);
  }
  made.name = o.jobName;
  made.firmware = job::FirmwareReference(o.file, o.out);
  made.rawBinary = o.rawBinary;
  made.base = o.base;
  made.firmwareSha256 = firmware.sha256;
  made.imageChecksum = firmware.checksumCaption;
  made.operation = o.verify ? job::Operation::LoadVerify : job::Operation::Load;
  made.mode = o.mode;
  made.supply = o.supply;
  made.count = o.count;
  made.sectorMask = o.sectorMask;
  made.timeoutSeconds = o.timeoutSeconds;
  made.retries = o.retries;
  made.lotSize = o.lotSize;
  made.ports = o.ports;
  if (o.serialGiven) {
    made.serial = o.serialPlan;
    numbering::ListFile list;
    if (!o.serialPlan.listFile.isEmpty()) {
      made.serial->listFile = job::FirmwareReference(o.serialPlan.listFile, o.out);
      list = numbering::ReadList(o.serialPlan.listFile);
      if (!list.refusal.isEmpty())
        return UsageError(JobCommandName(command),
                          QStringLiteral("--serial-list: ") + list.RefusalNaming(Quoted(o.serialPlan.listFile)));
      made.serial->listFileSha256 = list.fileSha256;
    }
    if (const QString why = job::PlanRefusal(made, firmware, list); !why.isEmpty())
      return UsageError(JobCommandName(command), QStringLiteral("--serial-at: ") + why);
  }

  // Asked for last, so that nothing else can still go wrong once it is typed.
  if (o.pin) {
    PinEntry entry = ReadPin();
    if (entry.error.isEmpty())
      entry.error = job::PinRefusal(entry.pin);
    if (!entry.error.isEmpty()) {
      job::Wipe(entry.pin);
      return UsageError(JobCommandName(command), QStringLiteral("--pin: ") + entry.error);
    }
    QString error;
    made.pinHash = job::HashPin(entry.pin, &error);
    job::Wipe(entry.pin);
    if (made.pinHash.isEmpty()) {
      Complain(QStringLiteral("kavrin-cli job create: ") + error + QLatin1Char('\n'));
      return 1;
    }
  }
  if (const QString error = job::WriteJob(made, o.out); !error.isEmpty()) {
    Complain(QStringLiteral("kavrin-cli job create: ") + error + QLatin1Char('\n'));
    return 1;
  }
  // A job just written is signed by nobody yet: a signature made before is of the job it replaced.
  const QString out = QDir::toNativeSeparators(o.out);
  const QString sign = QStringLiteral("minisign -Sm %1 -s engineer.key -t \"released by ...\"").arg(out);
  const QString signature =
      QFileInfo::exists(o.out + job::kSignatureSuffix)
          ? QStringLiteral("%1%2 is of the job this one replaced: sign it again (%3)").arg(out, job::kSignatureSuffix, sign)
          : QStringLiteral("none: a station with a trusted key opens it only once it is signed (%1)").arg(sign);
  Print(QStringLiteral("Job: %1\nWritten: %2\nFirmware: %3\n%4\nSignature: %5\n")
            .arg(made.name, out, QDir::toNativeSeparators(made.firmware), made.imageChecksum, signature));
  return 0;
}

int RunShow(const QStringList &args, const CliContext &context) {
  int status = 0;
  const std::optional<Options> options = Parse(JobCommand::Show, args, status);
  if (!options)
    return status;
  const job::OpenedJob opened =
      job::OpenJob(options->file, base::ResolveInstallPaths(context.programDir).TrustedKeysFolder);
  if (!opened.job) {
    Complain(QStringLiteral("kavrin-cli job show: refused: \"%1\": %2\n").arg(options->file, opened.refusal));
    return ExitCode(ResultClass::FileRefused);
  }
  const job::Job &j = *opened.job;
  const auto line = [](const char *label, const QString &value) {
    return QLatin1String(label) + QStringLiteral(": ") + value + QLatin1Char('\n');
  };
  Print(line("Job", j.name) +
        (opened.release.checked ? line("Released", job::ReleaseText(opened.release) + QStringLiteral(", trusted"))
                                : line("Signature", QStringLiteral("none (no trusted key installed)"))) +
        line("Firmware",
             j.firmware + QStringLiteral(" (") + QDir::toNativeSeparators(opened.firmwarePath) + QLatin1Char(')')) +
        line("Format", image::FormatText(opened.firmware.format, j.base)) + line("SHA-256", j.firmwareSha256) +
        j.imageChecksum + QLatin1Char('\n') + line("Chip", j.chip.isEmpty() ? QStringLiteral("none") : j.chip) +
        line("Operation", job::OperationText(j.operation)) + line("Mode", base::ModeName(j.mode)) +
        line("Power", base::SupplyName(j.supply)) + line("Count", j.count) +
        line("Sectors", job::SectorListText(j.sectorMask)) +
        line("Time-out", QStringLiteral("%1 s").arg(j.timeoutSeconds)) + line("Retries", QString::number(j.retries)) +
        line("Lot size", QString::number(j.lotSize)) +
        line("Ports", j.ports.isEmpty() ? QStringLiteral("none (given when the job is run)")
                                        : j.ports.join(QStringLiteral(", "))) +
        line("PIN", j.pinHash.isEmpty() ? QStringLiteral("none") : QStringLiteral("set")) +
        (j.serial ? job::PlanLines(*j.serial).join(QLatin1Char('\n')) + QLatin1Char('\n') : QString()));
  return 0;
}

} // namespace

int RunJob(const QStringList &args, const CliContext &context) {
  const QString sub = args.isEmpty() ? QString() : args.front();
  if (sub == QLatin1String("create"))
    return RunCreate(args.mid(1), context);
  if (sub == QLatin1String("show"))
    return RunShow(args.mid(1), context);
  if (sub == QLatin1String("--help") || sub == QLatin1String("-h") || sub == QLatin1String("help")) {
    Print(kCreateUsage + QLatin1Char('\n') + kShowUsage);
    return 0;
  }
  Complain((sub.isEmpty()
                ? QStringLiteral("kavrin-cli job: missing the subcommand, create or show\n")
                : QStringLiteral("kavrin-cli job: unknown subcommand \"%1\"; there are create and show\n").arg(sub)) +
           QStringLiteral("Try 'kavrin-cli job --help'.\n"));
  return kExitUsage;
}

} // namespace cli
