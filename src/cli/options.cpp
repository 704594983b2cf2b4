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

namespace cli {

namespace {

using base::Quoted;
using Store = std::function<void(const QString &)>;

QString Text(const std::string &text) { return QString::fromStdString(text); }

// CLI11's words for two of its refusals, as this command line has always put them.
QString Plainly(const CLI::ParseError &e) {
  static const QRegularExpression twice(QStringLiteral("\\A(\\S+): At Most 1 required but received \\d+\\z"));
  static const QRegularExpression override(QStringLiteral("\\A-*(\\S+) was given a disallowed flag override\\z"));
  const QString text = Text(e.what());
  if (const auto m = twice.match(text); m.hasMatch())
    return m.captured(1) + QStringLiteral(": given twice");
  if (const auto m = override.match(text); m.hasMatch())
    return QStringLiteral("--") + m.captured(1) + QStringLiteral(": takes no value");
  return text;
}

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

// One command's line: its options, their rules, and the Options they fill.
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

  CLI::Option *Add(const char *name, Store store) {
    return command_->add_option_function<std::string>(name, [store](const std::string &v) { store(Text(v)); });
  }
  CLI::Option *Value(const char *name, Store store) { return Add(name, std::move(store))->check(kGiven); }
  CLI::Option *Value(const char *name, QString &to) {
    return Value(name, [&to](const QString &v) { to = v; });
  }
  template <typename T>
  CLI::Option *Number(const char *name, T &to, uint64_t least, uint64_t most, const char *what = "a whole number") {
    return Value(name, [&to](const QString &v) { to = T(v.toULongLong()); })->check(Whole(least, most, what));
  }
  CLI::Option *Flag(const char *name, bool &to) { return command_->add_flag(name, to)->disable_flag_override(); }
  // Required, which Parse checks: it may also come after "--".
  CLI::Option *Positional(const char *name) {
    return positional_ = Add(name, [this](const QString &v) { o.file = v; });
  }

  CLI::Option *Ports() {
    const auto add = [this](const std::vector<std::string> &ports) {
      for (const std::string &given : ports) {
        const QString port = Text(given);
        for (const QString &earlier : o.ports)
          if (serial::PortIdentity(earlier) == serial::PortIdentity(port))
            throw CLI::ValidationError("--port",
                                       (Quoted(port) + QStringLiteral(" is given twice, as ") + Quoted(earlier) +
                                        QStringLiteral(" before (two boxes cannot share a port)"))
                                           .toStdString());
        o.ports << port;
      }
    };
    // One value each: a word after it is an argument, not another port.
    return command_->add_option_function<std::vector<std::string>>("--port", add)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(kGiven);
  }
  void Timeout() { Number("--timeout", o.timeoutSeconds, 1, kMaxTimeoutSeconds, "whole seconds"); }
  CLI::Option *Session(bool timeout) {
    CLI::Option *ports = Ports();
    if (timeout)
      Timeout();
    Flag("--json", o.json);
    Flag("--fast-replies", o.fastReplies);
    noRecords_ = Flag("--no-records", o.noRecords)->excludes(Value("--records", o.recordsUrl));
    return ports;
  }
  void Language() {
    Value("--lang", [this](const QString &v) {
      o.language = base::ParseLanguage(v);
    })->check(Check([](const QString &v) {
      return base::ParseLanguage(v) ? QString() : Expects(QStringLiteral("zh or en"), v);
    }));
  }
  void FirmwareFormat() {
    Value("--format", [this](const QString &v) {
      o.rawBinary = v == QLatin1String("bin");
    })->check(OneOf({QStringLiteral("auto"), QStringLiteral("bin")}, Qt::CaseSensitive));
    base_ = Value("--base", [this](const QString &v) {
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
  CLI::Option *Mode() {
    using base::BoxMode;
    return Choice<BoxMode>(
        "--mode",
        {{base::ModeName(BoxMode::Online), BoxMode::Online}, {base::ModeName(BoxMode::Offline), BoxMode::Offline}},
        o.mode, o.modeGiven);
  }
  CLI::Option *Power() {
    using base::BoxSupply;
    return Choice<BoxSupply>("--power",
                             {{base::SupplyName(BoxSupply::FiveVolts), BoxSupply::FiveVolts},
                              {base::SupplyName(BoxSupply::NoOutput), BoxSupply::NoOutput}},
                             o.supply, o.powerGiven);
  }
  // What a load sends: load's options and job create's.
  void LoadSettings(bool load) {
    Value("--file", o.file)->required();
    FirmwareFormat();
    Mode();
    Power();
    Value("--count", o.count)->check(Check([](const QString &v) {
      return Digits(v, 6) ? QString() : Expects(QStringLiteral("1 to 6 digits"), v);
    }));
    Value("--sectors", [this](const QString &v) {
      o.sectorMask = *ParseSectorList(v).mask;
    })->check(Check([](const QString &v) { return ParseSectorList(v).error; }));
    numbering::SerialPlan &plan = o.serialPlan;
    serialAt_ = Value("--serial-at", [&plan](const QString &v) {
                  plan.address = *Hex(v);
                })->check(HexUpTo(0x7FFF, QStringLiteral("a hex address 0000..7FFF")));
    serialFormat_ = Value("--serial-format", [&plan](const QString &v) {
                      numbering::ParseFormat(v, &plan.format, &plan.digits);
                    })->check(Check([](const QString &v) {
      numbering::SerialPlan scratch;
      return numbering::ParseFormat(v, &scratch.format, &scratch.digits) ? QString() : Expects(numbering::FormatForm(), v);
    }));
    CLI::Option *counting[] = {serialFormat_, Value("--serial-prefix", plan.prefix),
                               Number("--serial-start", plan.start, 0, numbering::kMostValue),
                               Number("--serial-step", plan.step, 1, numbering::kMostValue)};
    serialList_ = Value("--serial-list", plan.listFile);
    CLI::Option *pool = Value("--serial-pool", plan.pool)->check(kName);
    bool &keepFailed = keepFailed_;
    CLI::Option *others[] = {serialList_, pool, Flag("--serial-overwrite", plan.overwrite),
                             Number("--serial-block", plan.blockSize, 1, numbering::kMostBlock),
                             Flag("--serial-keep-failed", keepFailed)};
    for (CLI::Option *option : counting)
      option->needs(serialAt_)->excludes(serialList_);
    for (CLI::Option *option : others)
      option->needs(serialAt_);
    if (load) // a load names no job whose name the pool could take, and its numbers come from the store
      serialAt_->needs(pool)->excludes(noRecords_);
  }

  // Parses, then checks what joins several options.
  ParseResult Parse(const QStringList &args, bool load) {
    const auto end = std::find(args.begin(), args.end(), QLatin1String("--"));
    o.help = std::find_if(args.begin(), end, [](const QString &a) { return a == "--help" || a == "-h"; }) != end;
    if (o.help)
      return {o, {}};
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
      error = Plainly(e);
    }
    if (const std::vector<std::string> extra = app_.remaining(true); !extra.empty()) {
      const QString word = Text(extra.front());
      error = word.startsWith(QLatin1Char('-')) ? word + QStringLiteral(" is not an option of ") + words_.join(' ')
                                                : QStringLiteral("unexpected argument ") + Quoted(word);
    }
    const auto fail = [](const QString &why) { return ParseResult{std::nullopt, why}; };
    if (!error.isEmpty())
      return fail(error);
    bool positionalGiven = positional_ && positional_->count() > 0;
    for (const QString &word : after) {
      if (!positional_ || positionalGiven)
        return fail(QStringLiteral("unexpected argument ") + Quoted(word));
      o.file = word;
      positionalGiven = true;
    }
    if (positional_ && !positionalGiven)
      return fail(Text(positional_->get_name()) + QStringLiteral(" is required"));
    if (base_ && *base_ && !o.rawBinary)
      return fail(QStringLiteral("--base: only with --format bin"));
    o.serialPlan.giveUpOnFail = !keepFailed_;
    if (serialAt_ && *serialAt_) {
      if (!*serialFormat_ && !*serialList_)
        return fail(QStringLiteral("--serial-format: needed with --serial-at unless --serial-list gives the values"));
      if (const QString why = numbering::PlanRefusal(o.serialPlan); !why.isEmpty())
        return fail(QStringLiteral("--serial-at: ") + why);
      o.serialGiven = true;
      // A load that leaves the mode as it is may find the box offline.
      const bool offline = !(o.modeGiven && o.mode == base::BoxMode::Online);
      if (const QString why = numbering::OfflineRefusal(offline, o.count.toUInt()); load && !why.isEmpty())
        return fail(QStringLiteral("--serial-at: ") + why + QStringLiteral("; give --mode online or --count 1"));
    }
    return {o, {}};
  }

  Options o;

private:
  CLI::App app_;
  CLI::App *command_ = nullptr;
  QStringList words_;
  CLI::Option *base_ = nullptr, *noRecords_ = nullptr, *positional_ = nullptr;
  CLI::Option *serialAt_ = nullptr, *serialFormat_ = nullptr, *serialList_ = nullptr;
  bool keepFailed_ = false;
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
  Options &o = line.o;
  line.Language();
  switch (command) {
  case Command::Load:
    line.Session(true)->required();
    line.LoadSettings(true);
    line.Value("--operator", o.operatorName)->check(kOperator);
    break;
  case Command::Verify:
  case Command::EraseProgramVerify:
    line.Session(true)->required();
    break;
  case Command::Set:
    line.Session(true)->required();
    line.Mode()->required();
    line.Power()->required();
    line.Value("--count", [&o](const QString &v) { o.setCount = v.toInt(); })
        ->check(Whole(0, 9999, "a number"))
        ->required();
    break;
  case Command::ReadOut:
    line.Session(true)->required()->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    line.Value("--chip", o.chip)->required();
    line.Choice<chip::DataflashUse>(
        "--dataflash",
        {{QStringLiteral("code"), chip::DataflashUse::Code}, {QStringLiteral("eeprom"), chip::DataflashUse::Eeprom}},
        o.dataflash, o.dataflashGiven);
    line.Value("--out", o.out)->required();
    break;
  case Command::CheckFile:
    line.FirmwareFormat();
    line.Positional("FILE");
    break;
  case Command::Ports:
    line.Flag("--json", o.json);
    break;
  case Command::Records: {
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
    line.Flag("--json", o.json)->excludes(format); // the same as --format json
    line.Value("--job", o.jobName);
    line.Value("--serial", o.serial);
    line.Value("--operator", o.operatorName);
    break;
  }
  case Command::Run:
    // The job says what a load sends and how long to wait; only where and how much is the operator's.
    line.Session(false);
    line.Value("--job", o.file)->required();
    line.Value("--lot", o.lot)->check(kName);
    line.Number("--units", o.units, 1, job::kMostLotSize);
    line.Value("--operator", o.operatorName)->check(kOperator);
    break;
  }
  ParseResult parsed = line.Parse(args, command == Command::Load);
  if (parsed.options && command == Command::Records && parsed.options->json)
    parsed.options->format = QStringLiteral("json");
  return parsed;
}

ParseResult ParseJobOptions(JobCommand command, const QStringList &args) {
  CommandLine line(JobCommandName(command));
  Options &o = line.o;
  if (command == JobCommand::Show) {
    line.Positional("FILE");
    return line.Parse(args, false);
  }
  line.Ports();
  line.LoadSettings(false);
  line.Timeout();
  line.Value("--chip", o.chip);
  line.Value("--out", o.out)->required();
  line.Value("--name", o.jobName)->check(kName)->required();
  line.Flag("--verify", o.verify);
  line.Number("--retries", o.retries, 0, job::kMostRetries);
  line.Number("--lot-size", o.lotSize, 1, job::kMostLotSize)->required();
  line.Flag("--pin", o.pin);
  return line.Parse(args, false);
}

} // namespace cli
