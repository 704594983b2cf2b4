#include "job/job_file.h"

#include "base/convert.h"
#include "base/json_text.h"
#include "base/printable.h"
#include "job/pin.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <cmath>
#include <functional>

namespace job {

namespace {

constexpr int kMostNameCharacters = 200;

// Every key a job file of this schema may hold, in the order they are written.
const QStringList kKeys = {
    QStringLiteral("schema"),         QStringLiteral("name"),
    QStringLiteral("firmware"),       QStringLiteral("firmware_format"),
    QStringLiteral("firmware_base"),  QStringLiteral("firmware_sha256"),
    QStringLiteral("image_checksum"), QStringLiteral("chip"),
    QStringLiteral("operation"),      QStringLiteral("mode"),
    QStringLiteral("power"),          QStringLiteral("count"),
    QStringLiteral("sectors"),        QStringLiteral("timeout_s"),
    QStringLiteral("retries"),        QStringLiteral("lot_size"),
    QStringLiteral("ports"),          QStringLiteral("pin_hash"),
    QStringLiteral("serial_numbers"),
};
const QString kSerialNumbers = QStringLiteral("serial_numbers");
// The keys of a serial-number plan, in the order they are written.
const QStringList kPlanKeys = {
    QStringLiteral("address"),         QStringLiteral("format"),    QStringLiteral("prefix"),
    QStringLiteral("start"),           QStringLiteral("step"),      QStringLiteral("pool"),
    QStringLiteral("list"),            QStringLiteral("list_sha256"), QStringLiteral("barcode_pattern"),
    QStringLiteral("overwrite"),       QStringLiteral("block_size"), QStringLiteral("give_up_on_fail"),
};

using base::Quoted;

// A value as the refusal shows what it got.
QString Shown(const QJsonValue &v) {
  switch (v.type()) {
  case QJsonValue::String:
    return Quoted(v.toString());
  case QJsonValue::Double:
    return QString::number(v.toDouble(), 'g', 17);
  case QJsonValue::Bool:
    return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
  case QJsonValue::Array:
    return QStringLiteral("a list");
  case QJsonValue::Object:
    return QStringLiteral("an object");
  default:
    return QStringLiteral("null");
  }
}

bool HasControl(const QString &text) {
  for (QChar c : text)
    if (c.category() == QChar::Other_Control)
      return true;
  return false;
}

bool Matches(const char *pattern, const QString &text) {
  return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern))).match(text).hasMatch();
}

// What QJsonDocument does not say of a text it read: a key given twice in one
// object (it keeps the last value) and how each number was written (it reads
// 1e3, 5.0 and -0 as whole numbers). Keys of a nested object are named
// "outer.key". `text` is JSON that QJsonDocument has read without an error.
struct WrittenForm {
  QString twice;                   // the first key found twice; empty: none
  QHash<QString, QString> numbers; // each number as written, by its key
};

WrittenForm ReadWrittenForm(const QByteArray &text) {
  WrittenForm form;
  struct Level {
    bool object;
    QString prefix; // an object's "outer." or an array's key
    QSet<QString> keys;
  };
  std::vector<Level> levels;
  QString key; // the key whose value comes next
  for (qsizetype i = 0; i < text.size() && form.twice.isEmpty(); ++i) {
    const char c = text[i];
    if (c == '{' || c == '[') {
      levels.push_back({c == '{', c == '{' && !key.isEmpty() ? key + QLatin1Char('.') : key, {}});
    } else if (c == '}' || c == ']') {
      levels.pop_back();
    } else if (c == '"') {
      qsizetype end = i + 1;
      while (text[end] != '"')
        end += text[end] == '\\' ? 2 : 1;
      const QByteArray token = text.mid(i, end - i + 1);
      i = end;
      qsizetype next = end + 1;
      while (next < text.size() && QByteArrayView(" \t\r\n").contains(text[next]))
        ++next;
      if (next < text.size() && text[next] == ':' && !levels.empty() && levels.back().object) {
        const QString name = QJsonDocument::fromJson('[' + token + ']').array().at(0).toString();
        key = levels.back().prefix + name;
        if (levels.back().keys.contains(name))
          form.twice = key;
        levels.back().keys.insert(name);
      }
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      qsizetype end = i;
      while (end < text.size() && QByteArrayView("+-.eE0123456789").contains(text[end]))
        ++end;
      form.numbers.insert(levels.back().object ? key : levels.back().prefix, QString::fromLatin1(text.mid(i, end - i)));
      i = end - 1;
    }
  }
  return form;
}

// Reads the keys of one job object, stopping at the first fault.
class KeyReader {
public:
  KeyReader(const QJsonObject &object, const QHash<QString, QString> &written) : object_(object), written_(written) {}

  bool Failed() const { return !refusal_.isEmpty(); }
  const QString &Refusal() const { return refusal_; }
  bool Has(const QString &key) const { return object_.contains(key); }

  // A text the check accepts; `expects` says what would be. A secret's
  // refusal shows nothing of what the file holds.
  QString Text(const QString &key, const std::function<bool(const QString &)> &good, const QString &expects,
               bool required = true, bool secret = false) {
    if (Failed())
      return {};
    if (!Has(key)) {
      if (required)
        refusal_ = QStringLiteral("missing key ") + Quoted(prefix_ + key);
      return {};
    }
    const QJsonValue v = object_.value(key);
    if (!v.isString() || !good(v.toString())) {
      if (secret)
        refusal_ = Quoted(prefix_ + key) + QStringLiteral(": expects ") + expects +
                   QStringLiteral(" (what the file holds is not shown)");
      else
        Refuse(key, expects, v);
      return {};
    }
    return v.toString();
  }

  // One of `choices`, as its index.
  int Choice(const QString &key, const QStringList &choices) {
    const QString text = Text(
        key, [&](const QString &t) { return choices.contains(t); },
        QStringLiteral("one of ") + choices.join(QStringLiteral(", ")));
    return int(choices.indexOf(text));
  }

  int Integer(const QString &key, int least, int most) {
    if (!Failed() && !Has(key))
      refusal_ = QStringLiteral("missing key ") + Quoted(prefix_ + key);
    if (Failed())
      return least;
    return int(Wide(key, uint64_t(least), uint64_t(most), uint64_t(least)));
  }

  // A whole number least..most written in decimal digits; `fallback` when the
  // key is absent and not required.
  uint64_t Wide(const QString &key, uint64_t least, uint64_t most, uint64_t fallback) {
    if (Failed() || !Has(key))
      return fallback;
    const QJsonValue v = object_.value(key);
    const QString written = written_.value(prefix_ + key);
    static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,20}\\z"));
    bool ok = v.isDouble() && digits.match(written).hasMatch();
    const uint64_t n = ok ? written.toULongLong(&ok) : 0;
    if (!ok || n < least || n > most) {
      refusal_ = Quoted(prefix_ + key) + QStringLiteral(": expects a whole number %1..%2, got ").arg(least).arg(most) +
                 (v.isDouble() ? written : Shown(v));
      return fallback;
    }
    return n;
  }

  bool Bool(const QString &key, bool fallback) {
    if (Failed() || !Has(key))
      return fallback;
    const QJsonValue v = object_.value(key);
    if (!v.isBool()) {
      Refuse(key, QStringLiteral("true or false"), v);
      return fallback;
    }
    return v.toBool();
  }

  QStringList Ports(const QString &key) {
    if (Failed() || !Has(key))
      return {};
    const QJsonValue v = object_.value(key);
    QStringList ports;
    bool good = v.isArray() && v.toArray().size() <= kMostPorts;
    for (const QJsonValue &port : v.toArray()) {
      good = good && port.isString() && !port.toString().isEmpty() && !HasControl(port.toString()) &&
             !ports.contains(port.toString());
      ports << port.toString();
    }
    if (!good) {
      Refuse(key, QStringLiteral("a list of at most %1 different port names").arg(kMostPorts), v);
      return {};
    }
    return ports;
  }

  void Refuse(const QString &key, const QString &expects, const QJsonValue &got) {
    refusal_ = Quoted(prefix_ + key) + QStringLiteral(": expects ") + expects + QStringLiteral(", got ") + Shown(got);
  }
  void Refuse(const QString &why) { refusal_ = why; }
  // Names the keys of a nested object so: "serial_numbers.format".
  void NestedIn(const QString &outer) { prefix_ = outer + QLatin1Char('.'); }

private:
  const QJsonObject &object_;
  const QHash<QString, QString> &written_; // numbers as written (WrittenForm)
  QString prefix_;
  QString refusal_;
};

const QStringList kFormats = {QStringLiteral("auto"), QStringLiteral("bin")};
const QStringList kOperations = {QStringLiteral("load"), QStringLiteral("load-verify")};
const QStringList kModes = {base::ModeName(base::BoxMode::Online), base::ModeName(base::BoxMode::Offline)};
const QStringList kPowers = {base::SupplyName(base::BoxSupply::FiveVolts), base::SupplyName(base::BoxSupply::NoOutput)};

bool PlainName(const QString &text, int most) {
  return !text.trimmed().isEmpty() && text.size() <= most && !HasControl(text);
}

QByteArray PlanText(const numbering::SerialPlan &plan) {
  QByteArray out = "{";
  const auto add = [&](const char *key, const QByteArray &value) {
    out += out.size() > 1 ? ",\n    \"" : "\n    \"";
    out += key;
    out += "\": ";
    out += value;
  };
  const auto text = [](const QString &t) { return base::JsonString(t); };
  const auto flag = [](bool b) { return QByteArray(b ? "true" : "false"); };
  add("address", text(base::IntToHex(plan.address, 4)));
  if (plan.Source() == numbering::SerialSource::Counter) {
    add("format", text(numbering::FormatName(plan.format, plan.digits)));
    if (!plan.prefix.isEmpty())
      add("prefix", text(plan.prefix));
    add("start", QByteArray::number(quint64(plan.start)));
    add("step", QByteArray::number(quint64(plan.step)));
  }
  if (!plan.pool.isEmpty())
    add("pool", text(plan.pool));
  if (!plan.listFile.isEmpty())
    add("list", text(plan.listFile));
  if (!plan.listFileSha256.isEmpty())
    add("list_sha256", text(plan.listFileSha256));
  if (!plan.barcodePattern.isEmpty())
    add("barcode_pattern", text(plan.barcodePattern));
  add("overwrite", flag(plan.overwrite));
  add("block_size", QByteArray::number(plan.blockSize));
  add("give_up_on_fail", flag(plan.giveUpOnFail));
  return out + "\n  }";
}

// The plan in `value`, or the reader's refusal.
std::optional<numbering::SerialPlan> ReadPlan(const QJsonValue &value, const WrittenForm &written, QString *refusal) {
  if (!value.isObject()) {
    *refusal = Quoted(kSerialNumbers) + QStringLiteral(": expects an object, got ") + Shown(value);
    return std::nullopt;
  }
  const QJsonObject object = value.toObject();
  for (auto it = object.begin(); it != object.end(); ++it)
    if (!kPlanKeys.contains(it.key())) {
      *refusal = QStringLiteral("unknown key ") + Quoted(kSerialNumbers + QLatin1Char('.') + it.key());
      return std::nullopt;
    }
  KeyReader read(object, written.numbers);
  read.NestedIn(kSerialNumbers);
  numbering::SerialPlan plan;
  plan.address = base::HexTextToInt(read.Text(
      QStringLiteral("address"), [](const QString &t) { return Matches("[0-7][0-9A-Fa-f]{3}", t); },
      QStringLiteral("4 hex digits 0000..7FFF")));
  plan.listFile = read.Text(
      QStringLiteral("list"), [](const QString &t) { return !t.isEmpty() && !HasControl(t); },
      QStringLiteral("a file name"), false);
  plan.listFileSha256 = read.Text(
      QStringLiteral("list_sha256"), [](const QString &t) { return Matches("[0-9a-f]{64}", t); },
      QStringLiteral("64 lower-case hex digits"), false);
  if (!read.Failed() && !plan.listFileSha256.isEmpty() && plan.listFile.isEmpty())
    read.Refuse(QStringLiteral("\"serial_numbers.list_sha256\": only with \"serial_numbers.list\""));
  plan.barcodePattern = read.Text(
      QStringLiteral("barcode_pattern"), [](const QString &t) { return !t.isEmpty(); }, QStringLiteral("a pattern"),
      false);
  const bool counting = plan.listFile.isEmpty() && plan.barcodePattern.isEmpty();
  read.Text(
      QStringLiteral("format"),
      [&](const QString &t) { return numbering::ParseFormat(t, &plan.format, &plan.digits); }, numbering::FormatForm(),
      counting);
  plan.prefix = read.Text(
      QStringLiteral("prefix"), [](const QString &) { return true; }, QStringLiteral("a text"), false);
  plan.start = read.Wide(QStringLiteral("start"), 0, numbering::kMostValue, plan.start);
  plan.step = read.Wide(QStringLiteral("step"), 1, numbering::kMostValue, plan.step);
  plan.pool = read.Text(
      QStringLiteral("pool"), [](const QString &t) { return PlainName(t, kMostNameCharacters); }, JobNameForm(),
      false);
  plan.overwrite = read.Bool(QStringLiteral("overwrite"), plan.overwrite);
  plan.blockSize = int(read.Wide(QStringLiteral("block_size"), 1, numbering::kMostBlock, uint64_t(plan.blockSize)));
  plan.giveUpOnFail = read.Bool(QStringLiteral("give_up_on_fail"), plan.giveUpOnFail);
  if (read.Failed()) {
    *refusal = read.Refusal();
    return std::nullopt;
  }
  const QString why = numbering::PlanRefusal(plan);
  if (!why.isEmpty()) {
    *refusal = Quoted(kSerialNumbers) + QStringLiteral(": ") + why;
    return std::nullopt;
  }
  return plan;
}

} // namespace

bool IsJobName(const QString &name) { return PlainName(name, kMostNameCharacters); }

QString JobNameForm() {
  return QStringLiteral("a name of 1 to %1 characters without control characters").arg(kMostNameCharacters);
}

QString OperationText(Operation operation) {
  return operation == Operation::LoadVerify ? QStringLiteral("load, then verify") : QStringLiteral("load");
}

QString SectorListText(uint32_t mask) {
  QStringList parts;
  for (int s = 1; s <= 32;) {
    if (!(mask & (1u << (s - 1)))) {
      ++s;
      continue;
    }
    int last = s;
    while (last < 32 && (mask & (1u << last)))
      ++last;
    parts << (last == s ? QString::number(s) : QStringLiteral("%1-%2").arg(s).arg(last));
    s = last + 1;
  }
  return parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1Char(','));
}

QByteArray JobText(const Job &job) {
  QByteArray out = "{\n";
  const auto add = [&](const char *key, const QByteArray &value) {
    if (out.size() > 2)
      out += ",\n";
    out += "  \"";
    out += key;
    out += "\": ";
    out += value;
  };
  const auto text = [](const QString &t) { return base::JsonString(t); };
  add("schema", QByteArray::number(job.serial && !job.serial->listFileSha256.isEmpty() ? 3 : job.serial ? 2 : 1));
  add("name", text(job.name));
  add("firmware", text(job.firmware));
  add("firmware_format", text(kFormats[job.rawBinary ? 1 : 0]));
  if (job.rawBinary)
    add("firmware_base", text(base::IntToHex(job.base, 4)));
  add("firmware_sha256", text(job.firmwareSha256));
  add("image_checksum", text(job.imageChecksum));
  if (!job.chip.isEmpty())
    add("chip", text(job.chip));
  add("operation", text(kOperations[job.operation == Operation::LoadVerify ? 1 : 0]));
  add("mode", text(base::ModeName(job.mode)));
  // A supply left unchosen is written as the box's start-up choice.
  add("power",
      text(base::SupplyName(job.supply == base::BoxSupply::NoOutput ? job.supply : base::BoxSupply::FiveVolts)));
  add("count", text(job.count));
  add("sectors", text(base::IntToHex(job.sectorMask, 8)));
  add("timeout_s", QByteArray::number(job.timeoutSeconds));
  add("retries", QByteArray::number(job.retries));
  add("lot_size", QByteArray::number(job.lotSize));
  if (!job.ports.isEmpty()) {
    QByteArray ports = "[";
    for (const QString &port : job.ports)
      ports += (ports.size() > 1 ? ", " : "") + text(port);
    add("ports", ports + ']');
  }
  if (!job.pinHash.isEmpty())
    add("pin_hash", text(job.pinHash));
  if (job.serial)
    add("serial_numbers", PlanText(*job.serial));
  return out + "\n}\n";
}

QString WriteJob(const Job &job, const QString &path) {
  // A job named after a device or a folder would write there or fail halfway.
  const QFileInfo target(path);
  if (target.exists() && !target.isFile())
    return QStringLiteral("Cannot write \"%1\": it exists and is not a regular file").arg(path);
  QSaveFile file(path);
  const QByteArray content = JobText(job);
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
    return QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString());
  return {};
}

ParsedJob ParseJob(const QByteArray &text) {
  QJsonParseError parse{};
  const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
  if (parse.error != QJsonParseError::NoError)
    return {std::nullopt, QStringLiteral("not JSON: %1 at byte %2").arg(parse.errorString()).arg(parse.offset)};
  if (!document.isObject())
    return {std::nullopt, QStringLiteral("not a job: the JSON is not an object")};
  const QJsonObject object = document.object();
  const WrittenForm written = ReadWrittenForm(text);
  if (!written.twice.isEmpty()) // which of the two was meant, only the one who wrote it knows
    return {std::nullopt, QStringLiteral("the key %1 is given twice").arg(Quoted(written.twice))};
  KeyReader read(object, written.numbers);

  // The schema first: a newer file may hold keys this program cannot know.
  const QJsonValue schema = object.value(QStringLiteral("schema"));
  if (schema.isUndefined())
    return {std::nullopt, QStringLiteral("not a job: no \"schema\" version")};
  const QString schemaText = written.numbers.value(QStringLiteral("schema"));
  static const QRegularExpression digits(QStringLiteral("\\A[0-9]+\\z"));
  if (!schema.isDouble() || !digits.match(schemaText).hasMatch() || schema.toDouble() < 1)
    return {std::nullopt, QStringLiteral("\"schema\": expects a whole number 1 or more, got ") +
                              (schema.isDouble() ? schemaText : Shown(schema))};
  if (schema.toDouble() > kSchemaVersion)
    return {std::nullopt, QStringLiteral("the job's schema version %1 is newer than this program's %2")
                              .arg(Shown(schema))
                              .arg(kSchemaVersion)};
  for (auto it = object.begin(); it != object.end(); ++it)
    if (!kKeys.contains(it.key()))
      return {std::nullopt, QStringLiteral("unknown key ") + Quoted(it.key())};

  Job job;
  job.name = read.Text(QStringLiteral("name"), IsJobName, JobNameForm());
  job.firmware = read.Text(
      QStringLiteral("firmware"), [](const QString &t) { return !t.isEmpty() && !HasControl(t); },
      QStringLiteral("a file name"));
  job.rawBinary = read.Choice(QStringLiteral("firmware_format"), kFormats) == 1;
  const QString base = read.Text(
      QStringLiteral("firmware_base"), [](const QString &t) { return Matches("[0-9A-Fa-f]{1,8}", t); },
      QStringLiteral("1 to 8 hex digits"), false);
  if (!read.Failed() && read.Has(QStringLiteral("firmware_base")) && !job.rawBinary)
    read.Refuse(QStringLiteral("\"firmware_base\": only with \"firmware_format\" bin"));
  job.base = base::HexTextToInt(base);
  job.firmwareSha256 = read.Text(
      QStringLiteral("firmware_sha256"), [](const QString &t) { return Matches("[0-9a-f]{64}", t); },
      QStringLiteral("64 lower-case hex digits"));
  job.imageChecksum = read.Text(
      QStringLiteral("image_checksum"), [](const QString &t) { return Matches("CheckSum:  0x[0-9A-F]{8}", t); },
      QStringLiteral("the checksum as the window shows it, like \"CheckSum:  0x0012ABCD\""));
  job.chip = read.Text(
      QStringLiteral("chip"), [](const QString &t) { return PlainName(t, 40); }, QStringLiteral("a chip type name"),
      false);
  job.operation = read.Choice(QStringLiteral("operation"), kOperations) == 1 ? Operation::LoadVerify : Operation::Load;
  job.mode = read.Choice(QStringLiteral("mode"), kModes) == 0 ? base::BoxMode::Online : base::BoxMode::Offline;
  job.supply =
      read.Choice(QStringLiteral("power"), kPowers) == 1 ? base::BoxSupply::NoOutput : base::BoxSupply::FiveVolts;
  job.count = read.Text(
      QStringLiteral("count"), [](const QString &t) { return Matches("[0-9]{1,6}", t); },
      QStringLiteral("1 to 6 digits"));
  const QString sectors = read.Text(
      QStringLiteral("sectors"),
      [](const QString &t) { return Matches("[0-9A-Fa-f]{8}", t) && base::HexTextToInt(t) != 0; },
      QStringLiteral("8 hex digits with a bit set for each sector, bit 0 for sector 1"));
  job.sectorMask = base::HexTextToInt(sectors);
  job.timeoutSeconds = read.Integer(QStringLiteral("timeout_s"), 1, kMostTimeoutSeconds);
  job.retries = read.Integer(QStringLiteral("retries"), 0, kMostRetries);
  job.lotSize = read.Integer(QStringLiteral("lot_size"), 1, kMostLotSize);
  job.ports = read.Ports(QStringLiteral("ports"));
  job.pinHash =
      read.Text(QStringLiteral("pin_hash"), IsPinHash, QStringLiteral("an Argon2id hash of the PIN"), false, true);
  if (read.Failed())
    return {std::nullopt, read.Refusal()};
  if (object.contains(kSerialNumbers)) {
    QString refusal;
    job.serial = ReadPlan(object.value(kSerialNumbers), written, &refusal);
    if (!job.serial)
      return {std::nullopt, refusal};
  }
  return {job, {}};
}

QString FirmwarePath(const Job &job, const QString &jobPath) { return JobRelativePath(job.firmware, jobPath); }

QString JobRelativePath(const QString &stored, const QString &jobPath) {
  return QDir::cleanPath(QDir(QFileInfo(jobPath).absolutePath()).absoluteFilePath(stored));
}

QString PlanRefusal(const Job &job, const image::FirmwareFile &firmware, const numbering::ListFile &list) {
  if (!job.serial)
    return {};
  const numbering::SerialPlan &plan = *job.serial;
  QString why = numbering::OfflineRefusal(job.mode == base::BoxMode::Offline, job.count.toUInt());
  if (why.isEmpty() && plan.Source() == numbering::SerialSource::Counter)
    why = numbering::PlaceRefusal(plan.address, int(numbering::CounterField(plan, plan.start).bytes.size()), firmware.ranges,
                             plan.overwrite);
  // Every value of a list is checked now rather than at the unit it falls to.
  for (int i = 0; why.isEmpty() && i < list.lines.size(); ++i) {
    why = numbering::PlaceRefusal(plan.address, int(numbering::ValueField(list.lines[i]).bytes.size()), firmware.ranges,
                             plan.overwrite);
    if (!why.isEmpty())
      why = QStringLiteral("the list's value \"%1\": ").arg(list.lines[i]) + why;
  }
  return why;
}

QStringList PlanLines(const numbering::SerialPlan &plan) {
  QStringList lines;
  lines << QStringLiteral("Serial at: ") + base::IntToHex(plan.address, 4);
  switch (plan.Source()) {
  case numbering::SerialSource::Counter:
    lines << QStringLiteral("Serial format: ") + numbering::FormatName(plan.format, plan.digits) +
                 (plan.prefix.isEmpty() ? QString() : QStringLiteral(", prefix \"%1\"").arg(plan.prefix));
    lines << QStringLiteral("Serial count: from %1, step %2").arg(plan.start).arg(plan.step);
    break;
  case numbering::SerialSource::List:
    lines << QStringLiteral("Serial list: ") + plan.listFile +
                 (plan.listFileSha256.isEmpty() ? QStringLiteral(" (not checked: the job keeps no SHA-256 of it)")
                                                : QStringLiteral(" (SHA-256 %1)").arg(plan.listFileSha256));
    break;
  case numbering::SerialSource::Barcode:
    lines << QStringLiteral("Barcode: ") + plan.barcodePattern;
    break;
  }
  lines << QStringLiteral("Serial pool: ") + (plan.pool.isEmpty() ? QStringLiteral("(the job's name)") : plan.pool);
  lines << QStringLiteral("Serial block: %1 reserved at a time, a failed unit's number %2")
               .arg(plan.blockSize)
               .arg(plan.giveUpOnFail ? QStringLiteral("given up") : QStringLiteral("kept for the next unit"));
  if (plan.overwrite)
    lines << QStringLiteral("Serial field: may overwrite the firmware's bytes");
  return lines;
}

QString FirmwareReference(const QString &firmware, const QString &jobPath) {
  const QString absolute = QDir::cleanPath(QFileInfo(firmware).absoluteFilePath());
  const QString relative = QFileInfo(jobPath).absoluteDir().relativeFilePath(absolute);
  return relative.startsWith(QLatin1String("../")) ? absolute : relative;
}

OpenedJob OpenJob(const QString &path, const QString &trustedKeysFolder) {
  OpenedJob opened;
  const auto refuse = [&](const QString &why) {
    opened.job.reset();
    // Who released the job is named with what is wrong with it after all.
    opened.refusal =
        opened.release.checked ? why + QStringLiteral(" (released: %1)").arg(ReleaseText(opened.release)) : why;
    return opened;
  };
  QFile file(path);
  if (QFileInfo(path).isDir())
    return refuse(QStringLiteral("cannot read the job file: it is a folder"));
  if (!file.open(QIODevice::ReadOnly))
    return refuse(QStringLiteral("cannot read the job file: ") + file.errorString());
  const QByteArray text = file.read(kMostFileBytes + 1);
  if (text.size() > kMostFileBytes)
    return refuse(QStringLiteral("not a job: larger than %1 bytes").arg(kMostFileBytes));
  if (file.error() != QFileDevice::NoError)
    return refuse(QStringLiteral("cannot read the job file: ") + file.errorString());
  ReleaseCheck released = CheckReleaseOf(path, text, trustedKeysFolder);
  if (!released.refusal.isEmpty())
    return refuse(released.refusal);
  opened.release = released.release;
  ParsedJob parsed = ParseJob(text);
  if (!parsed.job)
    return refuse(parsed.refusal);
  const Job &job = *parsed.job;
  opened.jobSha256 = QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());

  opened.firmwarePath = FirmwarePath(job, path);
  const QString firmware = Quoted(QDir::toNativeSeparators(opened.firmwarePath));
  if (!QFileInfo::exists(opened.firmwarePath))
    return refuse(QStringLiteral("the firmware file %1 is missing").arg(firmware));
  opened.firmware = image::ReadFirmware(
      opened.firmwarePath, job.rawBinary ? image::FirmwareFormat::RawBinary : image::FirmwareFormat::ByContent,
      job.base);
  if (!opened.firmware.fileRead)
    return refuse(opened.firmware.refusal);
  if (opened.firmware.sha256 != job.firmwareSha256)
    return refuse(QStringLiteral("the firmware file %1 is not the job's: its SHA-256 is %2, the job's is %3")
                      .arg(firmware, opened.firmware.sha256, job.firmwareSha256));
  if (!opened.firmware.Accepted())
    return refuse(QStringLiteral("the firmware file %1 is refused: %2").arg(firmware, opened.firmware.refusal));
  if (opened.firmware.checksumCaption != job.imageChecksum)
    return refuse(QStringLiteral("the firmware file %1 gives the image checksum \"%2\", the job's is \"%3\"")
                      .arg(firmware, opened.firmware.checksumCaption, job.imageChecksum));
  if (job.serial && !job.serial->listFile.isEmpty()) {
    const QString list = JobRelativePath(job.serial->listFile, path);
    opened.list = numbering::ReadList(list);
    // Changed since the job was made, whatever it holds now: refused as a changed firmware is.
    if (opened.list.fileRead && !job.serial->listFileSha256.isEmpty() &&
        opened.list.fileSha256 != job.serial->listFileSha256)
      return refuse(QStringLiteral("the serial-number list %1 is not the job's: its SHA-256 is %2, the job's is %3")
                        .arg(Quoted(QDir::toNativeSeparators(list)), opened.list.fileSha256,
                             job.serial->listFileSha256));
    if (!opened.list.refusal.isEmpty())
      return refuse(opened.list.RefusalNaming(QStringLiteral("the serial-number list ") +
                                              Quoted(QDir::toNativeSeparators(list))));
  }
  const QString planRefusal = PlanRefusal(job, opened.firmware, opened.list);
  if (!planRefusal.isEmpty())
    return refuse(planRefusal);
  opened.job = std::move(parsed.job);
  return opened;
}

} // namespace job
