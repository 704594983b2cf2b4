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

template <typename T> std::optional<T> Parse(JobCommand command, const QStringList &args, int &status) {
  return OptionsOrStatus<T>(ParseJobOptions(command, args), JobCommandName(command), status);
}

int RunCreate(const QStringList &args, const CliContext &context) {
  constexpr JobCommand command = JobCommand::Create;
  int status = 0;
  const std::optional<JobCreateOptions> options = Parse<JobCreateOptions>(command, args, status);
  if (!options)
    return status;
  const JobCreateOptions &o = *options;
  const LoadSettings &load = o.load;
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
      load.firmware.file, load.firmware.rawBinary ? image::FirmwareFormat::RawBinary : image::FirmwareFormat::ByContent,
      load.firmware.base);
  if (!firmware.Accepted()) {
    Complain(QStringLiteral("kavrin-cli job create: refused: ") + firmware.refusal + QLatin1Char('\n'));
    return ExitCode(ResultClass::FileRefused);
  }
  made.name = o.name;
  made.firmware = job::FirmwareReference(load.firmware.file, o.out);
  made.rawBinary = load.firmware.rawBinary;
  made.base = load.firmware.base;
  made.firmwareSha256 = firmware.sha256;
  made.imageChecksum = firmware.checksumCaption;
  made.operation = o.verify ? job::Operation::LoadVerify : job::Operation::Load;
  made.mode = load.mode;
  made.supply = load.supply;
  made.count = load.count;
  made.sectorMask = load.sectorMask;
  made.timeoutSeconds = o.timeoutSeconds;
  made.retries = o.retries;
  made.lotSize = o.lotSize;
  made.ports = o.ports;
  if (load.serialGiven) {
    made.serial = load.serialPlan;
    numbering::ListFile list;
    if (!load.serialPlan.listFile.isEmpty()) {
      made.serial->listFile = job::FirmwareReference(load.serialPlan.listFile, o.out);
      list = numbering::ReadList(load.serialPlan.listFile);
      if (!list.refusal.isEmpty())
        return UsageError(JobCommandName(command),
                          QStringLiteral("--serial-list: ") + list.RefusalNaming(Quoted(load.serialPlan.listFile)));
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
  const std::optional<JobShowOptions> options = Parse<JobShowOptions>(JobCommand::Show, args, status);
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
    const QStringList help = {QStringLiteral("--help")};
    Print(ParseJobOptions(JobCommand::Create, help).helpText + QLatin1Char('\n') +
          ParseJobOptions(JobCommand::Show, help).helpText);
    return 0;
  }
  Complain((sub.isEmpty()
                ? QStringLiteral("kavrin-cli job: missing the subcommand, create or show\n")
                : QStringLiteral("kavrin-cli job: unknown subcommand \"%1\"; there are create and show\n").arg(sub)) +
           QStringLiteral("Try 'kavrin-cli job --help'.\n"));
  return kExitUsage;
}

} // namespace cli
