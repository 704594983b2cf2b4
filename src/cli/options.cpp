#include "cli/options.h"

#include "job/job_file.h"
#include "records/record.h"
#include "serial/posix_serial.h"
#include "unit/serial_plan.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cctype>
#include <sys/stat.h>

namespace cli {

namespace {

enum Option : uint64_t {
  kPort = uint64_t(1) << 0,
  kFile = uint64_t(1) << 1,
  kMode = uint64_t(1) << 2,
  kPower = uint64_t(1) << 3,
  kCount = uint64_t(1) << 4,
  kSectors = uint64_t(1) << 5,
  kTimeout = uint64_t(1) << 6,
  kJson = uint64_t(1) << 7,
  kChip = uint64_t(1) << 8,
  kDataflash = uint64_t(1) << 9,
  kOut = uint64_t(1) << 10,
  kRecords = uint64_t(1) << 11,
  kNoRecords = uint64_t(1) << 12,
  kSince = uint64_t(1) << 13,
  kUntil = uint64_t(1) << 14,
  kResult = uint64_t(1) << 15,
  kFormat = uint64_t(1) << 16,
  kFastReplies = uint64_t(1) << 17,
  kBase = uint64_t(1) << 18,
  kLang = uint64_t(1) << 19,
  kName = uint64_t(1) << 20,
  kVerify = uint64_t(1) << 21,
  kRetries = uint64_t(1) << 22,
  kLotSize = uint64_t(1) << 23,
  kPin = uint64_t(1) << 24,
  kSummary = uint64_t(1) << 25,
  kJob = uint64_t(1) << 26,
  kSerialAt = uint64_t(1) << 27,
  kSerialFormat = uint64_t(1) << 28,
  kSerialPrefix = uint64_t(1) << 29,
  kSerialStart = uint64_t(1) << 30,
  kSerialStep = uint64_t(1) << 31,
  kSerialPool = uint64_t(1) << 32,
  kSerialList = uint64_t(1) << 33,
  kSerialOverwrite = uint64_t(1) << 34,
  kSerialBlock = uint64_t(1) << 35,
  kSerialKeepFailed = uint64_t(1) << 36,
  kSerial = uint64_t(1) << 37,
  kLot = uint64_t(1) << 38,
  kUnits = uint64_t(1) << 39,
};
// The options of a serial-number plan.
constexpr uint64_t kSerialPlan = kSerialAt | kSerialFormat | kSerialPrefix | kSerialStart | kSerialStep | kSerialPool |
                                 kSerialList | kSerialOverwrite | kSerialBlock | kSerialKeepFailed;

struct OptionDef {
  Option option;
  QLatin1StringView name;
  bool takesValue;
};

constexpr std::array kOptionDefs = {
    OptionDef{kPort, QLatin1StringView("--port"), true},
    OptionDef{kFile, QLatin1StringView("--file"), true},
    OptionDef{kMode, QLatin1StringView("--mode"), true},
    OptionDef{kPower, QLatin1StringView("--power"), true},
    OptionDef{kCount, QLatin1StringView("--count"), true},
    OptionDef{kSectors, QLatin1StringView("--sectors"), true},
    OptionDef{kTimeout, QLatin1StringView("--timeout"), true},
    OptionDef{kJson, QLatin1StringView("--json"), false},
    OptionDef{kChip, QLatin1StringView("--chip"), true},
    OptionDef{kDataflash, QLatin1StringView("--dataflash"), true},
    OptionDef{kOut, QLatin1StringView("--out"), true},
    OptionDef{kRecords, QLatin1StringView("--records"), true},
    OptionDef{kNoRecords, QLatin1StringView("--no-records"), false},
    OptionDef{kSince, QLatin1StringView("--since"), true},
    OptionDef{kUntil, QLatin1StringView("--until"), true},
    OptionDef{kResult, QLatin1StringView("--result"), true},
    OptionDef{kFormat, QLatin1StringView("--format"), true},
    OptionDef{kFastReplies, QLatin1StringView("--fast-replies"), false},
    OptionDef{kBase, QLatin1StringView("--base"), true},
    OptionDef{kLang, QLatin1StringView("--lang"), true},
    OptionDef{kName, QLatin1StringView("--name"), true},
    OptionDef{kVerify, QLatin1StringView("--verify"), false},
    OptionDef{kRetries, QLatin1StringView("--retries"), true},
    OptionDef{kLotSize, QLatin1StringView("--lot-size"), true},
    OptionDef{kPin, QLatin1StringView("--pin"), false},
    OptionDef{kSummary, QLatin1StringView("--summary"), false},
    OptionDef{kJob, QLatin1StringView("--job"), true},
    OptionDef{kSerialAt, QLatin1StringView("--serial-at"), true},
    OptionDef{kSerialFormat, QLatin1StringView("--serial-format"), true},
    OptionDef{kSerialPrefix, QLatin1StringView("--serial-prefix"), true},
    OptionDef{kSerialStart, QLatin1StringView("--serial-start"), true},
    OptionDef{kSerialStep, QLatin1StringView("--serial-step"), true},
    OptionDef{kSerialPool, QLatin1StringView("--serial-pool"), true},
    OptionDef{kSerialList, QLatin1StringView("--serial-list"), true},
    OptionDef{kSerialOverwrite, QLatin1StringView("--serial-overwrite"), false},
    OptionDef{kSerialBlock, QLatin1StringView("--serial-block"), true},
    OptionDef{kSerialKeepFailed, QLatin1StringView("--serial-keep-failed"), false},
    OptionDef{kSerial, QLatin1StringView("--serial"), true},
    OptionDef{kLot, QLatin1StringView("--lot"), true},
    OptionDef{kUnits, QLatin1StringView("--units"), true},
};

struct Rules {
  uint64_t allowed = 0;
  uint64_t required = 0;
  bool takesFileArgument = false;
  bool onePort = false;
  const char *missingArgument = "missing the firmware file to check";
};

constexpr uint64_t kSessionOptions = kPort | kTimeout | kJson | kRecords | kNoRecords | kFastReplies;

Rules RulesWithoutLanguage(Command command) {
  switch (command) {
  case Command::Load:
    return {kSessionOptions | kFile | kFormat | kBase | kMode | kPower | kCount | kSectors | kSerialPlan, kPort | kFile};
  case Command::Verify:
  case Command::EraseProgramVerify:
    return {kSessionOptions, kPort};
  case Command::Set:
    return {kSessionOptions | kMode | kPower | kCount, kPort | kMode | kPower | kCount};
  case Command::ReadOut:
    return {kSessionOptions | kChip | kDataflash | kOut, kPort | kChip | kOut, false, true};
  case Command::CheckFile:
    return {kFormat | kBase, 0, true};
  case Command::Ports:
    return {kJson, 0};
  case Command::Records:
    return {kRecords | kSince | kUntil | kResult | kFormat | kJson | kSummary | kJob | kSerial, 0};
  case Command::Run:
    // The job says what a load sends and how long to wait; only where and how much is the operator's.
    return {(kSessionOptions & ~kTimeout) | kJob | kLot | kUnits, kJob};
  }
  return {};
}

Rules RulesOf(JobCommand command) {
  switch (command) {
  case JobCommand::Create:
    return {kPort | kFile | kFormat | kBase | kMode | kPower | kCount | kSectors | kTimeout | kChip | kOut | kName |
                kVerify | kRetries | kLotSize | kPin | kSerialPlan,
            kFile | kOut | kName | kLotSize};
  case JobCommand::Show:
    return {0, 0, true, false, "missing the job file"};
  }
  return {};
}

// Every command speaks the operator's language.
Rules RulesOf(Command command) {
  Rules rules = RulesWithoutLanguage(command);
  rules.allowed |= kLang;
  return rules;
}

// An ISO 8601 date (the whole local day: `end` gives its end rather than its
// start), or a date and time to the minute, second or millisecond, local
// unless it ends in Z or an offset such as +08:00. Nothing else: neither a
// time out of range nor anything after the date may pass for a date.
std::optional<QDateTime> ParseWhen(const QString &text, bool end) {
  static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral(
      "([0-9]{4})-([0-9]{2})-([0-9]{2})"
      "(?:T([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{1,3}))?)?(Z|([+-])([0-9]{2})(?::?([0-9]{2}))?)?)?")));
  const QRegularExpressionMatch m = form.match(text);
  if (!m.hasMatch())
    return std::nullopt;
  const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (!day.isValid())
    return std::nullopt;
  if (!m.hasCaptured(4))
    return (end ? day.addDays(1) : day).startOfDay();
  const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                   m.captured(7).leftJustified(3, QLatin1Char('0')).toInt());
  if (!time.isValid())
    return std::nullopt;
  QDateTime when;
  if (!m.hasCaptured(8)) {
    when = QDateTime(day, time);
  } else if (m.captured(8) == QLatin1String("Z")) {
    when = QDateTime(day, time, Qt::UTC);
  } else {
    const int hours = m.captured(10).toInt(), minutes = m.captured(11).toInt();
    if (hours > 23 || minutes > 59)
      return std::nullopt;
    const int sign = m.captured(9) == QLatin1String("-") ? -1 : 1;
    when = QDateTime(day, time, QTimeZone(sign * (hours * 3600 + minutes * 60)));
  }
  if (!when.isValid())
    return std::nullopt;
  return when;
}

bool AllDigits(const QString &text) {
  if (text.isEmpty())
    return false;
  for (QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return false;
  return true;
}

QString Quoted(const QString &text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

// What a port name opens, so that two names of one port (a link, a doubled
// slash, a name under /dev and its path) are found out: a device by its
// number, another file by its inode, a name that leads nowhere by its path.
QString PortIdentity(const QString &name) {
  const QString device = serial::PosixSerialLayer::DevicePath(name);
  struct stat st = {};
  if (stat(QFile::encodeName(device).constData(), &st) != 0)
    return QDir::cleanPath(device);
  if (S_ISCHR(st.st_mode))
    return QStringLiteral("device %1").arg(quint64(st.st_rdev));
  return QStringLiteral("file %1 %2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
}

// Stores one option's value; an error text when the value is refused.
QString Apply(Command command, Option option, const QString &value, Options &o) {
  switch (option) {
  case kPort: {
    const QString port = PortIdentity(value);
    for (const QString &earlier : o.ports)
      if (PortIdentity(earlier) == port)
        return Quoted(value) + QStringLiteral(" is given twice, as ") + Quoted(earlier) +
               QStringLiteral(" before (two boxes cannot share a port)");
    o.ports << value;
    return {};
  }
  case kFile:
    o.file = value;
    return {};
  case kMode:
    if (value.compare(QLatin1String("online"), Qt::CaseInsensitive) == 0)
      o.modeItem = 0;
    else if (value.compare(QLatin1String("offline"), Qt::CaseInsensitive) == 0)
      o.modeItem = 1;
    else
      return QStringLiteral("expects online or offline, got ") + Quoted(value);
    o.modeGiven = true;
    return {};
  case kPower:
    if (value.compare(QLatin1String("5v"), Qt::CaseInsensitive) == 0)
      o.powerItem = 0;
    else if (value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
      o.powerItem = 1;
    else
      return QStringLiteral("expects 5v or off, got ") + Quoted(value);
    o.powerGiven = true;
    return {};
  case kCount:
    if (command == Command::Set) {
      if (!AllDigits(value) || value.size() > 4)
        return QStringLiteral("expects a number 0..9999, got ") + Quoted(value);
      o.setCount = value.toInt();
    } else {
      if (!AllDigits(value) || value.size() > 6)
        return QStringLiteral("expects 1 to 6 digits, got ") + Quoted(value);
      o.count = value;
    }
    return {};
  case kSectors: {
    const SectorListResult sectors = ParseSectorList(value);
    if (!sectors.mask)
      return sectors.error;
    o.sectorMask = *sectors.mask;
    return {};
  }
  case kTimeout: {
    const int seconds = AllDigits(value) && value.size() <= 6 ? value.toInt() : 0;
    if (seconds < 1 || seconds > kMaxTimeoutSeconds)
      return QStringLiteral("expects whole seconds 1..%1, got ").arg(kMaxTimeoutSeconds) + Quoted(value);
    o.timeoutSeconds = seconds;
    return {};
  }
  case kJson:
    o.json = true;
    return {};
  case kName:
    if (!job::IsJobName(value))
      return QStringLiteral("expects ") + job::JobNameForm() + QStringLiteral(", got ") + Quoted(value);
    o.jobName = value;
    return {};
  case kJob:
    (command == Command::Run ? o.file : o.jobName) = value;
    return {};
  case kLot:
    if (!job::IsJobName(value))
      return QStringLiteral("expects ") + job::JobNameForm() + QStringLiteral(", got ") + Quoted(value);
    o.lot = value;
    return {};
  case kUnits: {
    const int n = AllDigits(value) && value.size() <= 7 ? value.toInt() : -1;
    if (n < 1 || n > job::kMostLotSize)
      return QStringLiteral("expects a whole number 1..%1, got ").arg(job::kMostLotSize) + Quoted(value);
    o.units = n;
    return {};
  }
  case kVerify:
    o.verify = true;
    return {};
  case kPin:
    o.pin = true;
    return {};
  case kSummary:
    o.summary = true;
    return {};
  case kRetries:
  case kLotSize: {
    const int most = option == kRetries ? job::kMostRetries : job::kMostLotSize;
    const int least = option == kRetries ? 0 : 1;
    const int n = AllDigits(value) && value.size() <= 7 ? value.toInt() : -1;
    if (n < least || n > most)
      return QStringLiteral("expects a whole number %1..%2, got ").arg(least).arg(most) + Quoted(value);
    (option == kRetries ? o.retries : o.lotSize) = n;
    return {};
  }
  case kFastReplies:
    o.fastReplies = true;
    return {};
  case kSerialAt: {
    static const QRegularExpression address(QStringLiteral("\\A(?:0x)?[0-7]?[0-9A-Fa-f]{1,3}\\z"));
    if (!address.match(value).hasMatch())
      return QStringLiteral("expects a hex address 0000..7FFF, got ") + Quoted(value);
    o.serialPlan.address = value.mid(value.startsWith(QLatin1String("0x")) ? 2 : 0).toUInt(nullptr, 16);
    return {};
  }
  case kSerialFormat:
    if (!unit::ParseFormat(value, &o.serialPlan.format, &o.serialPlan.digits))
      return QStringLiteral("expects ") + unit::FormatForm() + QStringLiteral(", got ") + Quoted(value);
    return {};
  case kSerialPrefix:
    o.serialPlan.prefix = value;
    return {};
  case kSerialStart:
  case kSerialStep: {
    const bool start = option == kSerialStart;
    const uint64_t n = AllDigits(value) && value.size() <= 10 ? value.toULongLong() : unit::kMostValue + 1;
    if (n > unit::kMostValue || (!start && n < 1))
      return QStringLiteral("expects a whole number %1..%2, got ").arg(start ? 0 : 1).arg(unit::kMostValue) +
             Quoted(value);
    (start ? o.serialPlan.start : o.serialPlan.step) = n;
    return {};
  }
  case kSerialPool:
    if (!job::IsJobName(value))
      return QStringLiteral("expects ") + job::JobNameForm() + QStringLiteral(", got ") + Quoted(value);
    o.serialPlan.pool = value;
    return {};
  case kSerialList:
    o.serialPlan.listFile = value;
    return {};
  case kSerialOverwrite:
    o.serialPlan.overwrite = true;
    return {};
  case kSerialKeepFailed:
    o.serialPlan.giveUpOnFail = false;
    return {};
  case kSerialBlock: {
    const int n = AllDigits(value) && value.size() <= 4 ? value.toInt() : 0;
    if (n < 1 || n > unit::kMostBlock)
      return QStringLiteral("expects a whole number 1..%1, got ").arg(unit::kMostBlock) + Quoted(value);
    o.serialPlan.blockSize = n;
    return {};
  }
  case kSerial:
    o.serial = value;
    return {};
  case kBase: {
    const QString digits = value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? value.mid(2) : value;
    bool ok = !digits.isEmpty() && digits.size() <= 8 && std::all_of(digits.begin(), digits.end(), [](QChar c) {
      return std::isxdigit(c.unicode()) && c.unicode() < 128;
    });
    const uint32_t base = ok ? digits.toUInt(&ok, 16) : 0;
    if (!ok)
      return QStringLiteral("expects a hex address like 0000 or 0x1000, got ") + Quoted(value);
    o.base = base;
    return {};
  }
  case kChip:
    o.chip = value;
    return {};
  case kDataflash:
    if (value.compare(QLatin1String("code"), Qt::CaseInsensitive) == 0)
      o.dataflashItem = 0;
    else if (value.compare(QLatin1String("eeprom"), Qt::CaseInsensitive) == 0)
      o.dataflashItem = 1;
    else
      return QStringLiteral("expects code or eeprom, got ") + Quoted(value);
    o.dataflashGiven = true;
    return {};
  case kOut:
    o.out = value;
    return {};
  case kRecords:
    o.recordsUrl = value;
    return {};
  case kNoRecords:
    o.noRecords = true;
    return {};
  case kSince:
  case kUntil: {
    const std::optional<QDateTime> when = ParseWhen(value, option == kUntil);
    if (!when)
      return QStringLiteral("expects a date like 2026-12-07 or a date and time like 2026-12-07T08:30:15, local "
                            "unless it ends in Z or an offset like +08:00; got ") +
             Quoted(value);
    (option == kSince ? o.since : o.until) = when;
    return {};
  }
  case kResult:
    if (!records::kResults.contains(value))
      return QStringLiteral("expects one of ") + records::kResults.join(QStringLiteral(", ")) +
             QStringLiteral(", got ") + Quoted(value);
    o.result = value;
    return {};
  case kLang:
    o.language = base::ParseLanguage(value);
    if (!o.language)
      return QStringLiteral("expects zh or en, got ") + Quoted(value);
    return {};
  case kFormat:
    if (command == Command::Load || command == Command::CheckFile) {
      if (value != QLatin1String("auto") && value != QLatin1String("bin"))
        return QStringLiteral("expects auto or bin, got ") + Quoted(value);
      o.rawBinary = value == QLatin1String("bin");
      return {};
    }
    if (value != QLatin1String("table") && value != QLatin1String("csv") && value != QLatin1String("json"))
      return QStringLiteral("expects table, csv or json, got ") + Quoted(value);
    o.format = value;
    return {};
  }
  return {};
}

const OptionDef *FindOption(const QString &name) {
  for (const OptionDef &def : kOptionDefs)
    if (name == def.name)
      return &def;
  return nullptr;
}

} // namespace

QString CommandName(Command command) {
  switch (command) {
  case Command::Load:
    return QStringLiteral("load");
  case Command::Verify:
    return QStringLiteral("verify");
  case Command::EraseProgramVerify:
    return QStringLiteral("erase-program-verify");
  case Command::Set:
    return QStringLiteral("set");
  case Command::ReadOut:
    return QStringLiteral("read-out");
  case Command::CheckFile:
    return QStringLiteral("check-file");
  case Command::Ports:
    return QStringLiteral("ports");
  case Command::Records:
    return QStringLiteral("records");
  case Command::Run:
    return QStringLiteral("run");
  }
  return {};
}

SectorListResult ParseSectorList(const QString &text) {
  auto fail = [&](const QString &why) {
    return SectorListResult{std::nullopt, why + QStringLiteral(" in ") + Quoted(text) +
                                              QStringLiteral(" (expects sectors 1..32 like 1-8,17,32)")};
  };
  auto sector = [](const QString &item) -> std::optional<int> {
    if (!AllDigits(item) || item.size() > 2)
      return std::nullopt;
    const int n = item.toInt();
    return n >= 1 && n <= 32 ? std::optional<int>(n) : std::nullopt;
  };
  uint32_t mask = 0;
  for (const QString &item : text.split(QLatin1Char(','))) {
    if (item.isEmpty())
      return fail(QStringLiteral("an empty item"));
    const qsizetype dash = item.indexOf(QLatin1Char('-'));
    const QString firstText = dash < 0 ? item : item.left(dash);
    const QString lastText = dash < 0 ? item : item.mid(dash + 1);
    const std::optional<int> first = sector(firstText);
    const std::optional<int> last = sector(lastText);
    if (!first)
      return fail(QStringLiteral("no sector ") + Quoted(firstText));
    if (!last)
      return fail(QStringLiteral("no sector ") + Quoted(lastText));
    if (*last < *first)
      return fail(QStringLiteral("a range that runs backwards, ") + Quoted(item));
    for (int s = *first; s <= *last; ++s)
      mask |= 1u << (s - 1);
  }
  return {mask, {}};
}

QString JobCommandName(JobCommand command) {
  return command == JobCommand::Create ? QStringLiteral("job create") : QStringLiteral("job show");
}

namespace {

// `command` says how values are read where commands differ (--count, --format).
ParseResult ParseWith(const Rules &rules, const QString &commandName, Command command, const QStringList &args) {
  Options o;
  uint64_t seen = 0;
  bool fileArgumentSeen = false;
  bool optionsEnded = false;
  auto fail = [](const QString &why) { return ParseResult{std::nullopt, why}; };

  // Help wins over every fault on the line.
  for (const QString &arg : args) {
    if (arg == QLatin1String("--"))
      break;
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      o.help = true;
      return {o, {}};
    }
  }

  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString &arg = args[i];
    if (!optionsEnded && arg == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
      const qsizetype eq = arg.indexOf(QLatin1Char('='));
      const QString name = eq < 0 ? arg : arg.left(eq);
      const OptionDef *def = FindOption(name);
      if (!def)
        return fail(QStringLiteral("unknown option ") + name);
      if (!(rules.allowed & def->option))
        return fail(name + QStringLiteral(" is not an option of ") + commandName);
      if ((seen & def->option) && def->option != kPort)
        return fail(name + QStringLiteral(": given twice"));
      seen |= def->option;
      QString value;
      if (def->takesValue) {
        if (eq >= 0) {
          value = arg.mid(eq + 1);
        } else if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1String("--"))) {
          value = args[++i];
        }
        if (value.isEmpty())
          return fail(name + QStringLiteral(": needs a value"));
      } else if (eq >= 0) {
        return fail(name + QStringLiteral(": takes no value"));
      }
      if (const QString why = Apply(command, def->option, value, o); !why.isEmpty())
        return fail(name + QStringLiteral(": ") + why);
      continue;
    }
    if (rules.takesFileArgument && !fileArgumentSeen) {
      o.file = arg;
      fileArgumentSeen = true;
      continue;
    }
    return fail(QStringLiteral("unexpected argument ") + Quoted(arg));
  }
  for (const OptionDef &def : kOptionDefs)
    if ((rules.required & def.option) && !(seen & def.option))
      return fail(QStringLiteral("missing ") + def.name);
  if (rules.takesFileArgument && !fileArgumentSeen)
    return fail(QLatin1String(rules.missingArgument));
  if ((seen & kBase) && !o.rawBinary)
    return fail(QStringLiteral("--base: only with --format bin"));
  if (o.noRecords && !o.recordsUrl.isEmpty())
    return fail(QStringLiteral("--no-records: not together with --records"));
  if (rules.onePort && o.ports.size() > 1)
    return fail(QStringLiteral("--port: ") + commandName + QStringLiteral(" reads one box at a time"));
  if (seen & kSerialPlan & ~kSerialAt) {
    if (!(seen & kSerialAt))
      return fail(QStringLiteral("--serial-at: needed with the other --serial- options"));
  }
  if (seen & kSerialAt) {
    if (!(seen & (kSerialFormat | kSerialList)))
      return fail(QStringLiteral("--serial-format: needed with --serial-at unless --serial-list gives the values"));
    if ((seen & kSerialList) && (seen & (kSerialFormat | kSerialPrefix | kSerialStart | kSerialStep)))
      return fail(QStringLiteral("--serial-list: not together with --serial-format, --serial-prefix, "
                                 "--serial-start or --serial-step, which count numbers"));
    if (const QString why = unit::PlanRefusal(o.serialPlan); !why.isEmpty())
      return fail(QStringLiteral("--serial-at: ") + why);
    o.serialGiven = true;
    if (commandName == CommandName(Command::Load)) { // job create reads load's options too
      // A load names no job whose name the pool could take.
      if (!(seen & kSerialPool))
        return fail(QStringLiteral("--serial-pool: needed with --serial-at for load, which has no job to name it"));
      if (o.noRecords)
        return fail(QStringLiteral("--no-records: not with --serial-at, whose numbers come from the records store"));
      // A load that leaves the mode as it is may find the box offline.
      const bool offline = !(o.modeGiven && o.modeItem == 0);
      if (const QString why = unit::OfflineRefusal(offline, o.count.toUInt()); !why.isEmpty())
        return fail(QStringLiteral("--serial-at: ") + why + QStringLiteral("; give --mode online or --count 1"));
    }
  }
  if (o.summary && (seen & kResult))
    return fail(QStringLiteral("--result: not together with --summary, which counts every result"));
  // For records, --json is --format json.
  if (command == Command::Records && o.json) {
    if ((seen & kFormat) && o.format != QLatin1String("json"))
      return fail(QStringLiteral("--json: not together with --format ") + o.format);
    o.format = QStringLiteral("json");
  }
  return {o, {}};
}

} // namespace

ParseResult ParseOptions(Command command, const QStringList &args) {
  return ParseWith(RulesOf(command), CommandName(command), command, args);
}

ParseResult ParseJobOptions(JobCommand command, const QStringList &args) {
  return ParseWith(RulesOf(command), JobCommandName(command), Command::Load, args);
}

} // namespace cli
