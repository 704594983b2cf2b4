#include "numbering/serial_plan.h"

#include "base/printable.h"

#include <algorithm>
#include <QRegularExpression>

namespace numbering {

namespace {

bool IsPrintableAscii(const QString &text) {
  for (QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() > 0x7E)
      return false;
  return true;
}

QString Hex4(uint32_t a) { return QString::number(a, 16).toUpper().rightJustified(4, QLatin1Char('0')); }

bool IsAscii(SerialFormat format) { return format == SerialFormat::Decimal || format == SerialFormat::Hex; }

// The bytes of a list line or barcode: "hex:" lines are raw bytes.
std::optional<QByteArray> LineBytes(const QString &line) {
  if (!line.startsWith(QLatin1String("hex:")))
    return line.toUtf8();
  QString digits = line.mid(4);
  digits.remove(QLatin1Char(' ')).remove(QLatin1Char('\t'));
  static const QRegularExpression pairs(QStringLiteral("\\A(?:[0-9A-Fa-f]{2})+\\z"));
  if (!pairs.match(digits).hasMatch())
    return std::nullopt;
  return QByteArray::fromHex(digits.toLatin1());
}

} // namespace

QString FormatName(SerialFormat format, int digits) {
  switch (format) {
  case SerialFormat::Le32:
    return QStringLiteral("le32");
  case SerialFormat::Be32:
    return QStringLiteral("be32");
  case SerialFormat::Decimal:
    return QStringLiteral("dec:%1").arg(digits);
  case SerialFormat::Hex:
    return QStringLiteral("hex:%1").arg(digits);
  }
  return {};
}

bool ParseFormat(const QString &name, SerialFormat *format, int *digits) {
  if (name == QLatin1String("le32") || name == QLatin1String("be32")) {
    *format = name == QLatin1String("le32") ? SerialFormat::Le32 : SerialFormat::Be32;
    *digits = 0;
    return true;
  }
  static const QRegularExpression ascii(QStringLiteral("\\A(dec|hex):([1-9][0-9]?)\\z"));
  const QRegularExpressionMatch m = ascii.match(name);
  if (!m.hasMatch())
    return false;
  const bool decimal = m.captured(1) == QLatin1String("dec");
  const int n = m.captured(2).toInt();
  if (n > (decimal ? kMostDecimalDigits : kMostHexDigits))
    return false;
  *format = decimal ? SerialFormat::Decimal : SerialFormat::Hex;
  *digits = n;
  return true;
}

QString FormatForm() {
  return QStringLiteral("le32, be32, dec:N (N 1..%1) or hex:N (N 1..%2)").arg(kMostDecimalDigits).arg(kMostHexDigits);
}

QString PlanRefusal(const SerialPlan &plan) {
  if (plan.address >= kImageEnd)
    return QStringLiteral("the serial number's address %1 is outside the image 0000-7FFF").arg(Hex4(plan.address));
  if (!plan.listFile.isEmpty() && !plan.barcodePattern.isEmpty())
    return QStringLiteral("a plan takes its values from a list file or from scanned barcodes, not both");
  if (plan.Source() == SerialSource::Counter) {
    int dummy = 0;
    SerialFormat format{};
    if (IsAscii(plan.format) && !ParseFormat(FormatName(plan.format, plan.digits), &format, &dummy))
      return QStringLiteral("the serial number's format %1 is not one of %2")
          .arg(FormatName(plan.format, plan.digits), FormatForm());
    if (!plan.prefix.isEmpty() && !IsAscii(plan.format))
      return QStringLiteral("a prefix goes only with the ASCII formats dec:N and hex:N");
    if (plan.prefix.size() > kMostPrefix || !IsPrintableAscii(plan.prefix))
      return QStringLiteral("the prefix must be at most %1 printable ASCII characters").arg(kMostPrefix);
    if (plan.step < 1 || plan.step > kMostValue)
      return QStringLiteral("the step must be 1 to %1").arg(kMostValue);
    if (plan.start > kMostValue)
      return QStringLiteral("the first number %1 does not fit 32 bits").arg(plan.start);
    const Field first = CounterField(plan, plan.start);
    if (!first.refusal.isEmpty())
      return first.refusal;
    if (plan.address + uint32_t(first.bytes.size()) > kImageEnd)
      return QStringLiteral("the serial number's %1 bytes from %2 run past the image's end 7FFF")
          .arg(first.bytes.size())
          .arg(Hex4(plan.address));
  }
  if (!plan.barcodePattern.isEmpty() && !QRegularExpression(plan.barcodePattern).isValid())
    return QStringLiteral("the barcode pattern is no regular expression: %1")
        .arg(QRegularExpression(plan.barcodePattern).errorString());
  if (plan.blockSize < 1 || plan.blockSize > kMostBlock)
    return QStringLiteral("a station's block of numbers must be 1 to %1").arg(kMostBlock);
  return {};
}

QString OfflineRefusal(bool offline, uint32_t count) {
  if (!offline || count <= 1)
    return {};
  return QStringLiteral("per-unit data needs a load that programs one chip: in offline mode with a count of %1 the "
                        "box would burn the same image, and so the same number, into every chip")
      .arg(count);
}

std::optional<uint64_t> CounterValue(const SerialPlan &plan, uint64_t n) {
  // Checked against 32 bits before multiplying, so that nothing wraps.
  if (plan.start > kMostValue || (plan.step && n > (kMostValue - plan.start) / plan.step))
    return std::nullopt;
  return plan.start + n * plan.step;
}

uint64_t CounterCount(const SerialPlan &plan) {
  uint64_t largest = kMostValue;
  if (plan.format == SerialFormat::Decimal || plan.format == SerialFormat::Hex) {
    uint64_t limit = 1;
    for (int d = 0; d < plan.digits && limit <= kMostValue; ++d)
      limit *= plan.format == SerialFormat::Decimal ? 10 : 16;
    largest = std::min<uint64_t>(limit - 1, kMostValue);
  }
  if (plan.start > largest || plan.step == 0)
    return plan.start > largest ? 0 : 1;
  return (largest - plan.start) / plan.step + 1;
}

Field CounterField(const SerialPlan &plan, uint64_t value) {
  Field f;
  if (value > kMostValue) {
    f.refusal = QStringLiteral("the number %1 does not fit 32 bits").arg(value);
    return f;
  }
  const auto v = uint32_t(value);
  switch (plan.format) {
  case SerialFormat::Le32:
  case SerialFormat::Be32:
    for (int i = 0; i < 4; ++i) {
      const int shift = plan.format == SerialFormat::Le32 ? 8 * i : 8 * (3 - i);
      f.bytes += char((v >> shift) & 0xFF);
    }
    f.text = QString::number(v);
    return f;
  case SerialFormat::Decimal:
  case SerialFormat::Hex: {
    const bool decimal = plan.format == SerialFormat::Decimal;
    const QString digits = QString::number(v, decimal ? 10 : 16).toUpper();
    if (digits.size() > plan.digits) {
      f.refusal = QStringLiteral("the number %1 does not fit %2 %3 digits")
                      .arg(digits, QString::number(plan.digits), decimal ? QStringLiteral("decimal")
                                                                         : QStringLiteral("hex"));
      return f;
    }
    f.text = plan.prefix + digits.rightJustified(plan.digits, QLatin1Char('0'));
    f.bytes = f.text.toLatin1();
    return f;
  }
  }
  return f;
}

Field ValueField(const QString &line) {
  Field f;
  f.text = line;
  const std::optional<QByteArray> bytes = LineBytes(line);
  // Written into the chip it would be harmless; in every record and list it
  // would make the value read as another.
  if (const char32_t c = base::FirstFormatCharacter(line))
    f.refusal = QStringLiteral("\"%1\" holds the invisible format character %2, which would change how it reads")
                    .arg(base::Printable(line), base::CodePointName(c));
  else if (!bytes || bytes->isEmpty())
    f.refusal = QStringLiteral("\"%1\" is no value: \"hex:\" needs pairs of hex digits").arg(line);
  else
    f.bytes = *bytes;
  return f;
}

QString PlaceRefusal(uint32_t address, int size, const std::vector<image::AddressRange> &filled, bool overwrite) {
  if (size < 1 || address >= kImageEnd || address + uint32_t(size) > kImageEnd)
    return QStringLiteral("the serial number's %1 bytes from %2 do not fit the image 0000-7FFF")
        .arg(size)
        .arg(Hex4(address));
  const uint32_t last = address + uint32_t(size) - 1;
  if (overwrite)
    return {};
  for (const image::AddressRange &r : filled)
    if (r.first <= last && address <= r.last)
      return QStringLiteral("the serial number at %1-%2 would overwrite the firmware's bytes at %3-%4; "
                            "allow it with --serial-overwrite if that is meant")
          .arg(Hex4(address), Hex4(last), Hex4(std::max(address, r.first)), Hex4(std::min(last, r.last)));
  return {};
}

void Patch(std::vector<uint8_t> &image, uint32_t address, const QByteArray &bytes) {
  for (int i = 0; i < bytes.size() && address + uint32_t(i) < image.size(); ++i)
    image[address + uint32_t(i)] = uint8_t(bytes[i]);
}

QString PoolDefinition(const SerialPlan &plan, const QString &listSha256) {
  if (plan.Source() == SerialSource::List)
    return QStringLiteral("list ") + listSha256;
  return QStringLiteral("count start=%1 step=%2").arg(plan.start).arg(plan.step);
}

} // namespace numbering
