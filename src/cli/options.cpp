#include "cli/options.h"

#include "base/printable.h"
#include "cli/when.h"
#include "job/job_file.h"
#include "records/record.h"
#include "serial/serial_devices.h"
#include "session/operator_name.h"

#include <CLI/CLI.hpp>
#include <QRegularExpression>
#include <algorithm>
#include <functional>
#include <memory>

namespace cli {

namespace {

using base::Quoted;
using Store = std::function<void(const QString &)>;

QString Text(const std::string &text) { return QString::fromStdString(text); }

QString Expects(const QString &what, const QString &got) {
  return QStringLiteral("expects ") + what + QStringLiteral(", got ") + Quoted(got);
}

// A check of every value of an option: empty when it passes, else why not.
CLI::Validator Check(std::function<QString(const QString &)> refusal) {
  return CLI::Validator([refusal](std::string &value) { return refusal(Text(value)).toStdString(); }, std::string());
}

bool Digits(const QString &text, qsizetype most) {
  return !text.isEmpty() && text.size() <= most &&
         std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Decimal digits, nothing else: a sign, a blank, an exponent or a base would
// let another number pass for the one meant.
CLI::Validator Whole(uint64_t least, uint64_t most, const char *what = "a whole number") {
  return Check([=](const QString &value) {
    bool ok = Digits(value, 20);
    const uint64_t n = ok ? value.toULongLong(&ok) : 0;
    return ok && n >= least && n <= most
               ? QString()
               : Expects(QStringLiteral("%1 %2..%3").arg(QLatin1String(what)).arg(least).arg(most), value);
  });
}

// 1 to 8 hex digits, "0x" before them or not.
std::optional<uint32_t> Hex(const QString &text) {
  const QString digits = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2) : text;
  static const QRegularExpression hex(QStringLiteral("\\A[0-9A-Fa-f]{1,8}\\z"));
  if (!hex.match(digits).hasMatch())
    return std::nullopt;
  return digits.toUInt(nullptr, 16);
}

CLI::Validator HexUpTo(uint32_t most, const QString &what) {
  return Check([=](const QString &value) {
    const std::optional<uint32_t> n = Hex(value);
    return n && *n <= most ? QString() : Expects(what, value);
  });
}

CLI::Validator OneOf(const QStringList &choices, Qt::CaseSensitivity cs, const QString &what = QString()) {
  return Check([=](const QString &value) {
    return choices.contains(value, cs) ? QString()
                                       : Expects(what.isEmpty() ? choices.join(QStringLiteral(" or ")) : what, value);
  });
}

// A value that is missing, or that is the next option's name.
const CLI::Validator kGiven = Check([](const QString &value) {
  if (value.isEmpty())
    return QStringLiteral("needs a value");
  return value.startsWith(QLatin1String("--")) ? QStringLiteral("needs a value, got the option ") + Quoted(value)
                                               : QString();
});

const CLI::Validator kName =
    Check([](const QString &value) { return job::IsJobName(value) ? QString() : Expects(job::JobNameForm(), value); });

const CLI::Validator kOperator = Check(session::OperatorRefusal);

const CLI::Validator kWhen = Check([](const QString &value) {
  return ParseWhen(value, false) ? QString()
                                 : QStringLiteral("expects a date like 2026-12-07 or a date and time like "
                                                  "2026-12-07T08:30:15, local unless it ends in Z or an offset like "
                                                  "+08:00; got ") +
                                       Quoted(value);
});

// One command's line: its options, their rules, and the fields of the
// command's option set they fill.
class CommandLine {
public:
  explicit CommandLine(const QString &name) {
    app_.set_help_flag(); // the commands print their own help texts
    app_.allow_extras();  // so that a word the command does not know is named before any other fault
    command_ = &app_;
    for (const QString &word : name.split(QLatin1Char(' ')))
      command_ = command_->add_subcommand(word.toStdString());
    words_ = name.split(QLatin1Char(' '));
  }

  // A second value is refused by the option itself, once every value passed
  // its checks, so that the error names the option.
  CLI::Option *Add(const char *name, Store store) {
    auto self = std::make_shared<CLI::Option *>();
    *self = command_->add_option_function<std::string>(name, [self, store](const std::string &v) {
      if ((*self)->count() > 1)
        throw CLI::ValidationError((*self)->get_name(), "given twice");
      store(Text(v));
    });
    return (*self)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
  CLI::Option *Value(const char *name, Store store) { return Add(name, std::move(store))->check(kGiven); }
  CLI::Option *Value(const char *name, QString &to) {
    return Value(name, [&to](const QString &v) { to = v; });
  }
  template <typename T>
  CLI::Option *Number(const char *name, T &to, uint64_t least, uint64_t most, const char *what = "a whole number") {
    return Value(name, [&to](const QString &v) { to = T(v.toULongLong()); })->check(Whole(least, most, what));
  }
  // CLI11 stores "true" for a flag given bare, and whatever follows "=" otherwise.
  CLI::Option *Flag(const char *name, bool &to) {
    return command_->add_flag(name, to)->check(
        Check([](const QString &v) { return v == QLatin1String("true") ? QString() : QStringLiteral("takes no value"); }));
  }
  // Required, which Parse checks: it may also come after "--".
  CLI::Option *Positional(const char *name, QString &to) {
    positionalTo_ = &to;
    return positional_ = Add(name, [&to](const QString &v) { to = v; });
  }

  CLI::Option *Ports(QStringList &to, bool one = false) {
    const auto add = [&to, one](const std::vector<std::string> &ports) {
      if (one && ports.size() > 1)
        throw CLI::ValidationError("--port", "given twice");
      for (const std::string &given : ports) {
        const QString port = Text(given);
        for (const QString &earlier : to)
          if (serial::PortIdentity(earlier) == serial::PortIdentity(port))
            throw CLI::ValidationError("--port",
                                       (Quoted(port) + QStringLiteral(" is given twice, as ") + Quoted(earlier) +
                                        QStringLiteral(" before (two boxes cannot share a port)"))
                                           .toStdString());
        to << port;
      }
    };
    // One value each: a word after it is an argument, not another port.
    return command_->add_option_function<std::vector<std::string>>("--port", add)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(kGiven);
  }
  void Timeout(int &to) { Number("--timeout", to, 1, kMaxTimeoutSeconds, "whole seconds"); }
  CLI::Option *Boxes(BoxOptions &o, bool timeout, bool onePort = false) {
    CLI::Option *ports = Ports(o.ports, onePort);
    if (timeout)
      Timeout(o.timeoutSeconds);
    Flag("--json", o.json);
    Flag("--fast-replies", o.fastReplies);
    noRecords_ = Flag("--no-records", o.noRecords)->excludes(Value("--records", o.recordsUrl));
    return ports;
  }
  void Language() {
    Value("--lang", [this](const QString &v) {
      language_ = base::ParseLanguage(v);
    })->check(Check([](const QString &v) {
      return base::ParseLanguage(v) ? QString() : Expects(QStringLiteral("zh or en"), v);
    }));
  }
  void FirmwareFormat(FirmwareChoice &o) {
    firmware_ = &o;
    Value("--format", [&o](const QString &v) {
      o.rawBinary = v == QLatin1String("bin");
    })->check(OneOf({QStringLiteral("auto"), QStringLiteral("bin")}, Qt::CaseSensitive));
    base_ = Value("--base", [&o](const QString &v) {
              o.base = *Hex(v);
            })->check(HexUpTo(0xFFFFFFFFu, QStringLiteral("a hex address like 0000 or 0x1000")));
  }
  // One of the values by its name (lower-case; given in any letter case).
  template <typename T>
  CLI::Option *Choice(const char *name, const QList<std::pair<QString, T>> &values, T &to, bool &given) {
    QStringList choices;
    for (const auto &value : values)
      choices << value.first;
    return Value(name,
                 [&to, &given, values, choices](const QString &v) {
                   to = values[choices.indexOf(v.toLower())].second;
                   given = true;
                 })
        ->check(OneOf(choices, Qt::CaseInsensitive));
  }
  CLI::Option *Mode(base::BoxMode &mode, bool &given) {
    using base::BoxMode;
    return Choice<BoxMode>(
        "--mode",
        {{base::ModeName(BoxMode::Online), BoxMode::Online}, {base::ModeName(BoxMode::Offline), BoxMode::Offline}},
        mode, given);
  }
  CLI::Option *Power(base::BoxSupply &supply, bool &given) {
    using base::BoxSupply;
    return Choice<BoxSupply>("--power",
                             {{base::SupplyName(BoxSupply::FiveVolts), BoxSupply::FiveVolts},
                              {base::SupplyName(BoxSupply::NoOutput), BoxSupply::NoOutput}},
                             supply, given);
  }
  // What a load sends: load's options and job create's.
  void Load(LoadSettings &o, bool load) {
    settings_ = &o;
    load_ = load;
    Value("--file", o.firmware.file)->required();
    FirmwareFormat(o.firmware);
    Mode(o.mode, o.modeGiven);
    Power(o.supply, o.powerGiven);
    Value("--count", o.count)->check(Check([](const QString &v) {
      return Digits(v, 6) ? QString() : Expects(QStringLiteral("1 to 6 digits"), v);
    }));
    Value("--sectors", [&o](const QString &v) {
      o.sectorMask = *ParseSectorList(v).mask;
    })->check(Check([](const QString &v) { return ParseSectorList(v).error; }));
    unit::SerialPlan &plan = o.serialPlan;
    serialAt_ = Value("--serial-at", [&plan](const QString &v) {
                  plan.address = *Hex(v);
                })->check(HexUpTo(0x7FFF, QStringLiteral("a hex address 0000..7FFF")));
    serialFormat_ = Value("--serial-format", [&plan](const QString &v) {
                      unit::ParseFormat(v, &plan.format, &plan.digits);
                    })->check(Check([](const QString &v) {
      unit::SerialPlan scratch;
      return unit::ParseFormat(v, &scratch.format, &scratch.digits) ? QString() : Expects(unit::FormatForm(), v);
    }));
    CLI::Option *counting[] = {serialFormat_, Value("--serial-prefix", plan.prefix),
                               Number("--serial-start", plan.start, 0, unit::kMostValue),
                               Number("--serial-step", plan.step, 1, unit::kMostValue)};
    serialList_ = Value("--serial-list", plan.listFile);
    CLI::Option *pool = Value("--serial-pool", plan.pool)->check(kName);
    bool &keepFailed = keepFailed_;
    CLI::Option *others[] = {serialList_, pool, Flag("--serial-overwrite", plan.overwrite),
                             Number("--serial-block", plan.blockSize, 1, unit::kMostBlock),
                             Flag("--serial-keep-failed", keepFailed)};
    for (CLI::Option *option : counting)
      option->needs(serialAt_)->excludes(serialList_);
    for (CLI::Option *option : others)
      option->needs(serialAt_);
    if (load) // a load names no job whose name the pool could take, and its numbers come from the store
      serialAt_->needs(pool)->excludes(noRecords_);
  }

  // Parses into `o` (which the options were given), then checks what joins several options.
  template <typename T> ParseResult Parse(const QStringList &args, T &o) {
    ParseResult result;
    const auto end = std::find(args.begin(), args.end(), QLatin1String("--"));
    result.help = std::find_if(args.begin(), end, [](const QString &a) { return a == "--help" || a == "-h"; }) != end;
    if (result.help)
      return result;
    result.error = Refusal(args, end);
    if (!result.error.isEmpty())
      return result;
    result.options = std::move(o);
    result.language = language_;
    return result;
  }

private:
  QString Refusal(const QStringList &args, QStringList::const_iterator end) {
    // CLI11 would read the words after "--" as options again when the command
    // has no positional argument left to fill, so it never sees them.
    const QStringList after(end == args.end() ? end : end + 1, args.end());
    std::vector<std::string> reversed; // as CLI11 takes them: the command's words, then its arguments
    const QStringList line = words_ + QStringList(args.begin(), end);
    for (auto it = line.rbegin(); it != line.rend(); ++it)
      reversed.push_back(it->toStdString());
    QString error;
    try {
      app_.parse(reversed);
    } catch (const CLI::ParseError &e) {
      error = Text(e.what());
    }
    if (const std::vector<std::string> extra = app_.remaining(true); !extra.empty()) {
      const QString word = Text(extra.front());
      error = word.startsWith(QLatin1Char('-')) ? word + QStringLiteral(" is not an option of ") + words_.join(' ')
                                                : QStringLiteral("unexpected argument ") + Quoted(word);
    }
    if (!error.isEmpty())
      return error;
    bool positionalGiven = positional_ && positional_->count() > 0;
    for (const QString &word : after) {
      if (!positional_ || positionalGiven)
        return QStringLiteral("unexpected argument ") + Quoted(word);
      *positionalTo_ = word;
      positionalGiven = true;
    }
    if (positional_ && !positionalGiven)
      return Text(positional_->get_name()) + QStringLiteral(" is required");
    if (base_ && *base_ && !firmware_->rawBinary)
      return QStringLiteral("--base: only with --format bin");
    if (!settings_)
      return {};
    LoadSettings &o = *settings_;
    o.serialPlan.giveUpOnFail = !keepFailed_;
    if (*serialAt_) {
      if (!*serialFormat_ && !*serialList_)
        return QStringLiteral("--serial-format: needed with --serial-at unless --serial-list gives the values");
      if (const QString why = unit::PlanRefusal(o.serialPlan); !why.isEmpty())
        return QStringLiteral("--serial-at: ") + why;
      o.serialGiven = true;
      // A load that leaves the mode as it is may find the box offline.
      const bool offline = !(o.modeGiven && o.mode == base::BoxMode::Online);
      if (const QString why = unit::OfflineRefusal(offline, o.count.toUInt()); load_ && !why.isEmpty())
        return QStringLiteral("--serial-at: ") + why + QStringLiteral("; give --mode online or --count 1");
    }
    return {};
  }

  CLI::App app_;
  CLI::App *command_ = nullptr;
  QStringList words_;
  CLI::Option *base_ = nullptr, *noRecords_ = nullptr, *positional_ = nullptr;
  CLI::Option *serialAt_ = nullptr, *serialFormat_ = nullptr, *serialList_ = nullptr;
  QString *positionalTo_ = nullptr;
  FirmwareChoice *firmware_ = nullptr;
  LoadSettings *settings_ = nullptr;
  bool load_ = false;
  bool keepFailed_ = false;
  std::optional<base::Language> language_;
};

} // namespace

QString CommandName(Command command) {
  static const char *const names[] = {
      "load", "verify", "erase-program-verify", "set", "read-out", "check-file", "ports", "records", "run"};
  return QLatin1String(names[int(command)]);
}

QString JobCommandName(JobCommand command) {
  return command == JobCommand::Create ? QStringLiteral("job create") : QStringLiteral("job show");
}

ParseResult ParseOptions(Command command, const QStringList &args) {
  CommandLine line(CommandName(command));
  line.Language();
  switch (command) {
  case Command::Load: {
    LoadOptions o;
    line.Boxes(o, true)->required();
    line.Load(o.load, true);
    line.Value("--operator", o.operatorName)->check(kOperator);
    return line.Parse(args, o);
  }
  case Command::Verify:
  case Command::EraseProgramVerify: {
    BoxOptions o;
    line.Boxes(o, true)->required();
    return line.Parse(args, o);
  }
  case Command::Set: {
    SetOptions o;
    bool given = false;
    line.Boxes(o, true)->required();
    line.Mode(o.mode, given)->required();
    line.Power(o.supply, given)->required();
    line.Value("--count", [&o](const QString &v) { o.count = v.toInt(); })
        ->check(Whole(0, 9999, "a number"))
        ->required();
    return line.Parse(args, o);
  }
  case Command::ReadOut: {
    ReadOutOptions o;
    line.Boxes(o, true, true)->required();
    line.Value("--chip", o.chip)->required();
    line.Choice<chip::DataflashUse>(
        "--dataflash",
        {{QStringLiteral("code"), chip::DataflashUse::Code}, {QStringLiteral("eeprom"), chip::DataflashUse::Eeprom}},
        o.dataflash, o.dataflashGiven);
    line.Value("--out", o.out)->required();
    return line.Parse(args, o);
  }
  case Command::CheckFile: {
    CheckFileOptions o;
    line.FirmwareFormat(o.firmware);
    line.Positional("FILE", o.firmware.file);
    return line.Parse(args, o);
  }
  case Command::Ports: {
    PortsOptions o;
    line.Flag("--json", o.json);
    return line.Parse(args, o);
  }
  case Command::Records: {
    RecordsOptions o;
    bool json = false;
    line.Value("--records", o.recordsUrl);
    line.Value("--since", [&o](const QString &v) { o.since = ParseWhen(v, false); })->check(kWhen);
    line.Value("--until", [&o](const QString &v) { o.until = ParseWhen(v, true); })->check(kWhen);
    CLI::Option *summary = line.Flag("--summary", o.summary);
    line.Value("--per", o.per)->needs(summary)->check(
        OneOf({"day", "hour", "station", "operator"}, Qt::CaseSensitive, "day, hour, station or operator"));
    line.Value("--result", o.result)
        ->check(OneOf(records::kResults, Qt::CaseSensitive,
                      QStringLiteral("one of ") + records::kResults.join(QStringLiteral(", "))))
        ->excludes(summary);
    CLI::Option *format = line.Value("--format", o.format)
                              ->check(OneOf({"table", "csv", "json"}, Qt::CaseSensitive, "table, csv or json"));
    line.Flag("--json", json)->excludes(format);
    line.Value("--job", o.job);
    line.Value("--serial", o.serial);
    line.Value("--operator", o.operatorName);
    ParseResult parsed = line.Parse(args, o);
    if (json && parsed.Ok()) // the same as --format json
      std::get<RecordsOptions>(parsed.options).format = QStringLiteral("json");
    return parsed;
  }
  case Command::Run: {
    RunOptions o;
    // The job says what a load sends and how long to wait; only where and how much is the operator's.
    line.Boxes(o, false);
    line.Value("--job", o.jobFile)->required();
    line.Value("--lot", o.lot)->check(kName);
    line.Number("--units", o.units, 1, job::kMostLotSize);
    line.Value("--operator", o.operatorName)->check(kOperator);
    return line.Parse(args, o);
  }
  }
  return {};
}

ParseResult ParseJobOptions(JobCommand command, const QStringList &args) {
  CommandLine line(JobCommandName(command));
  if (command == JobCommand::Show) {
    JobShowOptions o;
    line.Positional("FILE", o.file);
    return line.Parse(args, o);
  }
  JobCreateOptions o;
  line.Ports(o.ports);
  line.Load(o.load, false);
  line.Timeout(o.timeoutSeconds);
  line.Value("--chip", o.chip);
  line.Value("--out", o.out)->required();
  line.Value("--name", o.name)->check(kName)->required();
  line.Flag("--verify", o.verify);
  line.Number("--retries", o.retries, 0, job::kMostRetries);
  line.Number("--lot-size", o.lotSize, 1, job::kMostLotSize)->required();
  line.Flag("--pin", o.pin);
  return line.Parse(args, o);
}

} // namespace cli
