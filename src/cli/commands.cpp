#include "cli/commands.h"
#include "base/install_paths.h"
#include "base/printable.h"
#include "base/version.h"
#include "cli/chip_choice.h"
#include "cli/console.h"
#include "cli/event_sink.h"
#include "cli/hex_writer.h"
#include "cli/interrupt_watcher.h"
#include "cli/job_command.h"
#include "cli/json_line.h"
#include "cli/options.h"
#include "cli/result_class.h"
#include "cli/run_sessions.h"
#include "cli/summary_text.h"
#include "cli/text_table.h"
#include "image/firmware_file.h"
#include "job/job_file.h"
#include "records/query.h"
#include "records/yield.h"
#include "serial/serial_devices.h"
#include "session/operator_name.h"
#include "session/operator_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <array>

namespace cli {

namespace {

// `text` filled into lines of at most 80 characters, the first begun with
// `first` and the others with `indent`.
QString Filled(const QString &first, const QString &indent, const QString &text) {
  QString out, line = first;
  bool begun = false;
  for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (!begun) {
      line += word;
    } else if (line.size() + 1 + word.size() <= 80) {
      line += QLatin1Char(' ') + word;
    } else {
      out += line + QLatin1Char('\n');
      line = indent + word;
    }
    begun = true;
  }
  return out + line + QLatin1Char('\n');
}

using base::Printable;

// The command's option set T (as ParseOptions gives it for the command).
template <typename T> std::optional<T> Parse(Command command, const QStringList &args, int &status) {
  const ParseResult parsed = ParseOptions(command, args);
  const std::optional<T> options = OptionsOrStatus<T>(parsed, CommandName(command), status);
  if (options)
    base::UseLanguage(parsed.language.value_or(base::SystemLanguage()));
  return options;
}

image::FirmwareFormat FirmwareFormatOf(const FirmwareChoice &firmware) {
  return firmware.rawBinary ? image::FirmwareFormat::RawBinary : image::FirmwareFormat::ByContent;
}

int RunCheckFile(const QStringList &args, const CliContext &) {
  int status = 0;
  const std::optional<CheckFileOptions> options = Parse<CheckFileOptions>(Command::CheckFile, args, status);
  if (!options)
    return status;
  const FirmwareChoice &file = options->firmware;
  const image::FirmwareFile firmware = image::ReadFirmware(file.file, FirmwareFormatOf(file), file.base);
  if (!firmware.Accepted()) {
    Complain(QStringLiteral("kavrin-cli check-file: refused: ") + session::ShownText(firmware.refusal) +
             QLatin1Char('\n'));
    return ExitCode(ResultClass::FileRefused);
  }
  QString description;
  if (!firmware.description.isEmpty())
    description = QStringLiteral("Description: ") + firmware.description + QLatin1Char('\n');
  Print(firmware.checksumCaption + QLatin1Char('\n') + QStringLiteral("Data: ") + image::RangesText(firmware.ranges) +
        QLatin1Char('\n') + QStringLiteral("Left out: %1 bytes beyond 0000-7FFF\n").arg(firmware.leftOut) +
        QStringLiteral("Format: ") + image::FormatText(firmware.format, file.base) + QLatin1Char('\n') + description);
  if (!firmware.leftOutNotice.isEmpty())
    Complain(session::ShownText(firmware.leftOutNotice) + QLatin1Char('\n'));
  return 0;
}

QString PortJsonLine(const serial::SerialDeviceInfo &info) {
  JsonLine line;
  line.Add("name", info.name).Add("device", info.device).Add("driver", info.driver);
  if (info.UsbId().isEmpty())
    line.AddNull("usb");
  else
    line.Add("usb", info.UsbId());
  line.Add("serial", info.serial).Add("manufacturer", info.manufacturer).Add("product", info.product);
  line.Add("access", serial::PortAccessName(info.access)).Add("reason", info.reason);
  return QString::fromUtf8(line.Text());
}

QString PortTable(const std::vector<serial::SerialDeviceInfo> &ports) {
  TextTable table({QStringLiteral("PORT"), QStringLiteral("DEVICE"), QStringLiteral("DRIVER"), QStringLiteral("USB"),
                   QStringLiteral("SERIAL"), QStringLiteral("PRODUCT"), QStringLiteral("ACCESS")});
  for (const serial::SerialDeviceInfo &p : ports) {
    const QString product = QStringList{p.manufacturer, p.product}.join(QLatin1Char(' ')).trimmed();
    QStringList row = {p.name, p.name == p.device ? QStringLiteral("-") : p.device, p.driver, p.UsbId(), p.serial,
                       product, serial::PortAccessText(p)};
    for (QString &cell : row)
      if (cell.isEmpty())
        cell = QStringLiteral("-");
    table.Add(row);
  }
  return table.Text();
}

int RunPorts(const QStringList &args, const CliContext &) {
  int status = 0;
  const std::optional<PortsOptions> options = Parse<PortsOptions>(Command::Ports, args, status);
  if (!options)
    return status;
  const std::vector<serial::SerialDeviceInfo> ports = serial::ListSerialPorts();
  if (ports.empty()) {
    Complain(QStringLiteral("kavrin-cli ports: no serial ports found\n"));
    return 0;
  }
  if (options->json) {
    for (const serial::SerialDeviceInfo &port : ports)
      WriteStdout(PortJsonLine(port).toUtf8());
  } else {
    Print(PortTable(ports));
  }
  return 0;
}

// A load whose file is refused: every box ends file-refused, no port is opened.
int RefuseFile(const SessionPlan &plan) {
  const std::unique_ptr<EventSink> sink = MakeEventSink(plan.Boxes().json);
  for (const QString &port : plan.Boxes().ports) {
    sink->Message(port, plan.firmware.refusal);
    sink->Result(port, ResultInfo{ResultClass::FileRefused, 0.0, std::nullopt, std::nullopt, {}});
  }
  sink->Finish();
  RecordRefusedFile(plan);
  return ExitCode(ResultClass::FileRefused);
}

QString RecordsTable(const std::vector<records::Record> &rows) {
  QString text = QStringLiteral("%1  %2  %3  %4  %5  %6\n")
                     .arg(QStringLiteral("id").rightJustified(6), QStringLiteral("finished (UTC)").leftJustified(24),
                          QStringLiteral("station").leftJustified(20), QStringLiteral("operation").leftJustified(20),
                          QStringLiteral("result").leftJustified(16), QStringLiteral("file / message"));
  for (const records::Record &r : rows) {
    const QString message = session::ShownText(r.message);
    const QString what =
        r.filePath.isEmpty() ? message : QFileInfo(r.filePath).fileName() + QStringLiteral("  ") + message;
    text += QStringLiteral("%1  %2  %3  %4  %5  %6\n")
                .arg(QString::number(r.id).rightJustified(6), records::TimeText(r.finishedAt).leftJustified(24),
                     Printable(r.station).leftJustified(20), Printable(r.operation).leftJustified(20),
                     Printable(r.result).leftJustified(16), Printable(what));
  }
  return text;
}

int RunRecords(const QStringList &args, const CliContext &) {
  int status = 0;
  const std::optional<RecordsOptions> options = Parse<RecordsOptions>(Command::Records, args, status);
  if (!options)
    return status;
  QString error;
  const std::optional<records::StoreLocation> where = records::ParseStoreUrl(options->recordsUrl, &error);
  if (!where)
    return UsageError(CommandName(Command::Records), QStringLiteral("--records: ") + error);
  if (where->kind == records::StoreLocation::Kind::Off)
    return UsageError(CommandName(Command::Records),
                      QStringLiteral("--records: records are off, there is nothing to read"));
  // Most likely a mistyped path; reading never makes a store.
  if (where->kind == records::StoreLocation::Kind::Sqlite && !QFileInfo::exists(where->sqlitePath))
    return UsageError(CommandName(Command::Records),
                      QStringLiteral("--records: there is no records store %1").arg(where->sqlitePath));
  // A FIFO or a device would hold the read up for ever.
  if (where->kind == records::StoreLocation::Kind::Sqlite)
    if (const QString refusal = records::StoreFileRefusal(where->sqlitePath); !refusal.isEmpty())
      return UsageError(CommandName(Command::Records), QStringLiteral("--records: ") + refusal);
  // A store on read-only media is still read; the operator hears how.
  if (const QString note = records::ReadingNote(*where); !note.isEmpty())
    Complain(QStringLiteral("kavrin-cli records: note: %1\n").arg(Printable(note)));
  records::Filter filter;
  filter.since = options->since;
  filter.until = options->until;
  filter.result = options->result;
  filter.job = options->job;
  filter.serial = options->serial;
  filter.operatorName = options->operatorName;
  const auto unread = [&](const QString &why) {
    Complain(QStringLiteral("kavrin-cli records: cannot read %1: %2\n").arg(where->Describe(), why));
    return 1;
  };
  if (options->summary) {
    const records::SummaryPer per = options->per == QLatin1String("hour")      ? records::SummaryPer::Hour
                                    : options->per == QLatin1String("station") ? records::SummaryPer::Station
                                    : options->per == QLatin1String("operator") ? records::SummaryPer::Operator
                                                                                : records::SummaryPer::Day;
    std::vector<records::UnitSummary> rows;
    if (!records::SummarizeUnits(*where, filter, per, &rows, &error))
      return unread(error);
    if (options->format == QLatin1String("json"))
      WriteStdout(UnitSummaryJson(rows, per));
    else if (options->format == QLatin1String("csv"))
      WriteStdout(UnitSummaryCsv(rows, per).toUtf8());
    else
      Print(UnitSummaryTable(rows, per));
    return 0;
  }
  std::vector<records::Record> table;
  QString csv;
  QTextStream csvOut(&csv);
  if (options->format == QLatin1String("csv"))
    records::WriteCsvHeader(csvOut);
  const bool read = records::ForEach(
      *where, filter,
      [&](const records::Record &r) {
        if (options->format == QLatin1String("json")) {
          // The designed message, for scripts to match, and its English beside it.
          const QString english = session::EnglishText(r.message);
          WriteStdout(records::ToJson(r, &english) + '\n');
        } else if (options->format == QLatin1String("csv")) {
          records::WriteCsvRow(r, csvOut);
          csvOut.flush();
          WriteStdout(csv.toUtf8());
          csv.clear();
        } else {
          table.push_back(r);
        }
        return true;
      },
      &error);
  if (!read)
    return unread(error);
  if (options->format == QLatin1String("csv") && !csv.isEmpty())
    WriteStdout(csv.toUtf8());
  if (options->format == QLatin1String("table"))
    Print(RecordsTable(table));
  return 0;
}

int RunSessionCommand(Command command, const SessionPlan::CommandOptions &options, const CliContext &context) {
  SessionPlan plan;
  plan.command = command;
  plan.options = options;
  const BoxOptions &boxes = plan.Boxes();
  // Before anything else: a port that cannot open for want of descriptors
  // would end the run as if the box were missing.
  if (const QString why = PortLimitRefusal(boxes.ports.size()); !why.isEmpty())
    return UsageError(CommandName(command), QStringLiteral("--port: ") + why);
  if (command == Command::Load)
    plan.operatorName = plan.Load().operatorName;
  if (plan.operatorName.isEmpty())
    plan.operatorName = session::LoginName();

  QString storeError;
  const std::optional<records::StoreLocation> store = RecordStore(boxes, &storeError);
  if (!store)
    return UsageError(CommandName(command), QStringLiteral("--records: ") + storeError);
  plan.records = *store;

  if (command == Command::Load) {
    const LoadSettings &load = plan.Load().load;
    plan.firmware = image::ReadFirmware(load.firmware.file, FirmwareFormatOf(load.firmware), load.firmware.base);
    if (!plan.firmware.Accepted())
      return RefuseFile(plan);
    if (load.serialGiven) {
      const QString list = load.serialPlan.listFile;
      if (!list.isEmpty()) {
        plan.serialList = numbering::ReadList(list);
        if (!plan.serialList.refusal.isEmpty())
          return UsageError(CommandName(command),
                            QStringLiteral("--serial-list: ") + plan.serialList.RefusalNaming(base::Quoted(list)));
      }
      // The checks a job with this plan would get; the mode and count were checked with the options.
      job::Job asJob;
      asJob.serial = load.serialPlan;
      asJob.mode = base::BoxMode::Online;
      if (const QString why = job::PlanRefusal(asJob, plan.firmware, plan.serialList); !why.isEmpty())
        return UsageError(CommandName(command), QStringLiteral("--serial-at: ") + why);
    }
  }
  if (command == Command::ReadOut) {
    const QString listPath = FindChipList(context.programDir);
    const chip::ChipListText list = chip::ReadChipListFile(listPath);
    if (!list.error.isEmpty())
      return UsageError(CommandName(command), QStringLiteral("--chip: cannot read the chip list: ") + list.error);
    const ReadOutOptions &readOut = plan.ReadOut();
    const ChipLookup lookup = LookUpChip(list.text, readOut.chip, readOut.dataflash, readOut.dataflashGiven);
    if (!lookup.chip)
      return UsageError(CommandName(command), lookup.error);
    plan.chip = lookup.chip;
    // Found now rather than after minutes of reading.
    const QFileInfo folder(QFileInfo(readOut.out).absolutePath());
    if (!folder.isDir())
      return UsageError(CommandName(command),
                        QStringLiteral("--out: no folder \"%1\"").arg(QDir::toNativeSeparators(folder.filePath())));
    if (const QString why = OutRefusal(readOut.out); !why.isEmpty())
      return UsageError(CommandName(command), QStringLiteral("--out: \"%1\": %2").arg(readOut.out, why));
  }

  const std::unique_ptr<EventSink> sink = MakeEventSink(boxes.json);
  InterruptWatcher interrupts;
  if (!interrupts.Installed())
    Complain(QStringLiteral("kavrin-cli: Ctrl+C will end at once (%1)\n").arg(interrupts.Error()));
  return RunSessions(plan, *sink, interrupts);
}

// Units of a job: the job's checks first, then every box with the engine's production run.
int RunJobCommand(const QStringList &args, const CliContext &context) {
  int status = 0;
  const std::optional<RunOptions> options = Parse<RunOptions>(Command::Run, args, status);
  if (!options)
    return status;
  JobPlan plan;
  plan.job = job::OpenJob(options->jobFile, base::ResolveInstallPaths(context.programDir).TrustedKeysFolder);
  if (!plan.job.job || !plan.job.refusal.isEmpty()) {
    Complain(QStringLiteral("kavrin-cli run: refused: \"%1\": %2\n").arg(options->jobFile, plan.job.refusal));
    return ExitCode(ResultClass::FileRefused);
  }
  // No one is at a scanner here: every unit would fail for want of its code.
  if (plan.job.job->serial && plan.job.job->serial->Source() == numbering::SerialSource::Barcode) {
    Complain(QStringLiteral("kavrin-cli run: \"%1\": a barcode job runs in the window's production view, where the "
                            "operator scans each unit\n")
                 .arg(options->jobFile));
    return kExitUsage;
  }
  plan.options = *options;
  if (plan.options.operatorName.isEmpty())
    plan.options.operatorName = session::LoginName();
  if (plan.options.ports.isEmpty())
    plan.options.ports = plan.job.job->ports;
  if (plan.options.ports.isEmpty())
    return UsageError(CommandName(Command::Run),
                      QStringLiteral("--port: the job names no ports, so give one --port per box"));
  if (plan.options.ports.size() > job::kMostPorts)
    return UsageError(CommandName(Command::Run), QStringLiteral("--port: %1 ports given; a run drives at most %2 boxes")
                                                     .arg(plan.options.ports.size())
                                                     .arg(job::kMostPorts));
  if (const QString why = PortLimitRefusal(plan.options.ports.size()); !why.isEmpty())
    return UsageError(CommandName(Command::Run), QStringLiteral("--port: ") + why);
  QString storeError;
  const std::optional<records::StoreLocation> store = RecordStore(*options, &storeError);
  if (!store)
    return UsageError(CommandName(Command::Run), QStringLiteral("--records: ") + storeError);
  plan.records = *store;
  if (plan.job.job->serial && plan.records.kind == records::StoreLocation::Kind::Off)
    return UsageError(CommandName(Command::Run),
                      QStringLiteral("--no-records: not with a job that has a serial-number plan, whose numbers come "
                                     "from the records store"));
  const std::unique_ptr<EventSink> sink = MakeEventSink(options->json);
  InterruptWatcher interrupts;
  if (!interrupts.Installed())
    Complain(QStringLiteral("kavrin-cli: Ctrl+C will end at once (%1)\n").arg(interrupts.Error()));
  return RunJobUnits(plan, *sink, interrupts);
}

template <Command command, typename T> int RunSession(const QStringList &args, const CliContext &context) {
  int status = 0;
  const std::optional<T> options = Parse<T>(command, args, status);
  return options ? RunSessionCommand(command, *options, context) : status;
}

constexpr std::array kCommands = {
    CommandEntry{QLatin1StringView("load"), QLatin1StringView("send a firmware file to the boxes"),
                 RunSession<Command::Load, LoadOptions>},
    CommandEntry{QLatin1StringView("verify"), QLatin1StringView("have the boxes verify their chips"),
                 RunSession<Command::Verify, BoxOptions>},
    CommandEntry{QLatin1StringView("erase-program-verify"),
                 QLatin1StringView("have the boxes erase, program and verify their chips"),
                 RunSession<Command::EraseProgramVerify, BoxOptions>},
    CommandEntry{QLatin1StringView("set"), QLatin1StringView("set the boxes' mode, target supply and count"),
                 RunSession<Command::Set, SetOptions>},
    CommandEntry{QLatin1StringView("read-out"), QLatin1StringView("read a chip out into a file"),
                 RunSession<Command::ReadOut, ReadOutOptions>},
    CommandEntry{QLatin1StringView("check-file"), QLatin1StringView("check a firmware file without a box"),
                 RunCheckFile},
    CommandEntry{QLatin1StringView("ports"), QLatin1StringView("list the serial ports and their access"), RunPorts},
    CommandEntry{QLatin1StringView("records"), QLatin1StringView("print the production records or their yield"),
                 RunRecords},
    CommandEntry{QLatin1StringView("job"), QLatin1StringView("create or show a production job file"), RunJob},
    CommandEntry{QLatin1StringView("run"), QLatin1StringView("program the units of a production job"), RunJobCommand},
};

} // namespace

std::span<const CommandEntry> Commands() { return kCommands; }

bool Proceeds(const ParseResult &parsed, const QString &command, int &status) {
  status = parsed.Ok() || parsed.help ? 0 : UsageError(command, parsed.error);
  if (parsed.help)
    Print(parsed.helpText);
  return parsed.Ok();
}

QString UsageText() {
  QString text = QStringLiteral("Usage: kavrin-cli COMMAND [options]\n\n"
                                "Drives PAC52XX programmer boxes over serial lines, one box per --port.\n\n"
                                "Commands:\n");
  for (const CommandEntry &entry : Commands())
    text += QStringLiteral("  ") + QString(entry.name).leftJustified(22) + QString(entry.summary) + QLatin1Char('\n');
  text += QStringLiteral("\n'kavrin-cli COMMAND --help' describes a command.\n\n");
  std::vector<std::pair<int, QString>> statuses = {{kExitGangFailed, QStringLiteral("not every box of several ok")},
                                                   {kExitUsage, QStringLiteral("usage error")}};
  for (const base::ResultClassRow &row : base::ResultClasses())
    if (row.exitWords)
      statuses.emplace_back(row.exitStatus, QString::fromLatin1(row.exitWords));
  std::sort(statuses.begin(), statuses.end());
  QStringList told;
  for (const auto &[status, words] : statuses)
    told << QString::number(status) + QLatin1Char(' ') + words;
  return text + Filled({}, {}, QStringLiteral("Exit status: ") + told.join(QStringLiteral("; ")) + QLatin1Char('.'));
}

namespace {

// The bytes of an argument that is not text, shown: non-ASCII and control
// bytes as \xHH.
QString Escaped(const QByteArray &raw) {
  QString shown;
  for (const char c : raw) {
    const uchar b = uchar(c);
    if (b >= 0x20 && b < 0x7F)
      shown += QLatin1Char(c);
    else
      shown += QStringLiteral("\\x") + QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0'));
  }
  return shown;
}

} // namespace

int RunCli(int argc, char **argv, const CliContext &context) {
  QStringList args;
  for (int i = 1; i < argc; ++i) {
    const QByteArray raw(argv[i]);
    const QString text = QString::fromLocal8Bit(raw);
    // A name that does not convert back to its own bytes would open or write
    // another file than the one given (or none), so it is refused here.
    if (text.toLocal8Bit() != raw) {
      Complain(QStringLiteral("kavrin-cli: \"%1\" is not UTF-8 text, so no file or port of that name can be opened "
                              "or written exactly: rename it, or give a link to it with a UTF-8 name\n")
                   .arg(Escaped(raw)));
      return kExitUsage;
    }
    args << text;
  }
  return RunCli(args, context);
}

int RunCli(const QStringList &args, const CliContext &context) {
  if (args.isEmpty()) {
    Complain(UsageText());
    return kExitUsage;
  }
  const QString &first = args.front();
  if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
    Print(UsageText());
    return 0;
  }
  if (first == QLatin1String("--version")) {
    Print(QString::fromStdString(base::VersionLine("kavrin-cli")) + QLatin1Char('\n'));
    return 0;
  }
  for (const CommandEntry &entry : Commands())
    if (first == entry.name)
      return entry.run(args.mid(1), context);
  Complain(QStringLiteral("kavrin-cli: unknown command \"%1\"\n\n").arg(first) + UsageText());
  return kExitUsage;
}

} // namespace cli
