#include "chip/chip_list.h"

#include "base/convert.h"
#include "base/exception.h"

#include <QFile>
#include <array>

namespace chip {

namespace {

// 1-based columns from..to, cut short at the line's end.
QString Columns(const QString &line, int from, int to) {
  if (from > line.size())
    return {};
  return line.mid(from - 1, to - from + 1);
}

struct DataflashArea {
  QLatin1StringView codeValue;   // dataflash used as code
  QLatin1StringView eepromValue; // dataflash used as EEPROM: the code value plus one
  QLatin1StringView prefix;      // the dataflash's own range, ahead of the chip's
};

constexpr std::array<DataflashArea, 4> kAreas = {{
    {QLatin1StringView("0xB0"), QLatin1StringView("0xB1"), QLatin1StringView("B000-BFFF+")},
    {QLatin1StringView("0x10"), QLatin1StringView("0x11"), QLatin1StringView("1000-1FFF+")},
    {QLatin1StringView("0xB2"), QLatin1StringView("0xB3"), QLatin1StringView("B000-BFFF+")},
    {QLatin1StringView("0x14"), QLatin1StringView("0x15"), QLatin1StringView("1000-1FFF+")},
}};

const QLatin1StringView kNoDataflash("0x00");

// The area a code names. A chip line names it by its CODE value only; a change
// of use also starts from the EEPROM value when switching to CODE.
const DataflashArea *FindArea(const QString &code, DataflashUse use, bool acceptEepromValue) {
  for (const auto &area : kAreas) {
    if (code == area.codeValue)
      return &area;
    if (acceptEepromValue && use == DataflashUse::Code && code == area.eepromValue)
      return &area;
  }
  return nullptr;
}

// One row of the dataflash table. Each write lands before the next step may
// fail, so a bad size leaves the code and ChipSizeK set but ImageSize and
// the range as shown untouched.
void ApplyUse(const DataflashArea &area, DataflashUse use, ChipRecord &state, uint32_t &imageSize, ChipChoice &choice) {
  const QString digits = SizeDigits(state.ChipSizeText);
  if (use == DataflashUse::Eeprom) {
    state.DataflashCode = area.eepromValue;
    state.ChipSizeK = digits;
    imageSize = uint32_t(SizeKiB(state.ChipSizeK)) * 1024;
    choice.range = RangeText(state.ChipStart, state.ChipEnd, state.ChipSizeK);
  } else {
    state.DataflashCode = area.codeValue;
    state.ChipSizeK = digits;
    state.ChipSizeK = QString::number(SizeKiB(digits) + 4);
    imageSize = uint32_t(SizeKiB(state.ChipSizeK)) * 1024;
    choice.range = QString(area.prefix) + RangeText(state.ChipStart, state.ChipEnd, state.ChipSizeK);
  }
}

} // namespace

ChipFields CutChipLine(const QString &line) {
  return {Columns(line, 4, 18), Columns(line, 25, 28), Columns(line, 32, 35), Columns(line, 45, 48),
          Columns(line, 55, 58)};
}

QString SizeDigits(const QString &sizeText) {
  if (sizeText.size() < 2 || sizeText[1] == QLatin1Char('K'))
    return sizeText.left(1);
  return sizeText.left(2);
}

int32_t SizeKiB(const QString &digits) {
  // StrToInt also takes a sign or a "$" hex prefix; a size column holds neither,
  // and a negative size would wrap into a huge image size.
  for (QChar c : digits) {
    if (c != QLatin1Char(' ') && (c < QLatin1Char('0') || c > QLatin1Char('9')))
      throw base::EConvertError(base::NotValidIntegerText(digits));
  }
  return base::StrToInt(digits);
}

QString RangeText(const QString &start, const QString &end, const QString &sizeK) {
  return start + QLatin1Char('-') + end + QLatin1Char('=') + sizeK + QLatin1Char('K');
}

void ChooseChip(const QString &line, std::optional<DataflashUse> use, ChipRecord &state, uint32_t &imageSize,
                ChipChoice &choice) {
  const ChipFields fields = CutChipLine(line);
  state.ChipName = fields.Name;
  state.ChipStart = fields.Start;
  state.ChipEnd = fields.End;
  state.ChipSizeText = fields.SizeText;
  state.DataflashCode = fields.Code;

  if (state.DataflashCode != kNoDataflash) {
    choice.dataflashChoice = true;
    choice.name = QLatin1Char(' ') + state.ChipName;
    if (const DataflashArea *area = use ? FindArea(state.DataflashCode, *use, false) : nullptr)
      ApplyUse(*area, *use, state, imageSize, choice);
  } else {
    choice.dataflashChoice = false;
    choice.name = QLatin1Char(' ') + state.ChipName;
    choice.range = QLatin1Char(' ') + state.ChipStart + QStringLiteral(" - ") + state.ChipEnd + QLatin1Char(' ') +
                     state.ChipSizeText;
    state.ChipSizeK = SizeDigits(state.ChipSizeText);
    imageSize = uint32_t(SizeKiB(state.ChipSizeK)) * 1024;
  }
  choice.loadReady = true;
}

void ChangeDataflashUse(DataflashUse use, ChipRecord &state, uint32_t &imageSize, ChipChoice &choice) {
  if (const DataflashArea *area = FindArea(state.DataflashCode, use, true))
    ApplyUse(*area, use, state, imageSize, choice);
}

ChipListText ReadChipListFile(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {{}, base::CannotOpenFileText(path, file.errorString())};
  QString text = QString::fromLocal8Bit(file.readAll());
  if (file.error() != QFileDevice::NoError)
    return {{}, base::CannotOpenFileText(path, file.errorString())};
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return {text, {}};
}

} // namespace chip
