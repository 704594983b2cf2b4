#include "cli/chip_choice.h"

#include "base/exception.h"
#include "base/install_paths.h"
#include "chip/chip_list.h"

#include <QRegularExpression>

namespace cli {

namespace {

bool IsChipLine(const chip::ChipFields &fields) {
  // Header and ruler lines have no hex addresses where a chip line has them.
  static const QRegularExpression hex4(QStringLiteral("^[0-9A-Fa-f]{4}$"));
  return hex4.match(fields.Start).hasMatch() && hex4.match(fields.End).hasMatch() && !fields.Name.trimmed().isEmpty();
}

} // namespace

QString FindChipList(const QString &programDir) { return base::ResolveInstallPaths(programDir).ChipListFile; }

ChipLookup LookUpChip(const QString &listText, const QString &name, chip::DataflashUse use, bool useGiven) {
  QStringList known;
  for (const QString &line : listText.split(QLatin1Char('\n'))) {
    const chip::ChipFields fields = chip::CutChipLine(line);
    if (!IsChipLine(fields))
      continue;
    known << fields.Name.trimmed();
    if (fields.Name.trimmed().compare(name.trimmed(), Qt::CaseInsensitive) != 0)
      continue;
    if (useGiven && fields.Code == QLatin1String("0x00"))
      return {std::nullopt,
              QStringLiteral("--dataflash: %1 has no dataflash to use as code or EEPROM").arg(fields.Name.trimmed())};
    ChipTarget target;
    chip::ChipChoice choice;
    try {
      chip::ChooseChip(line, use, target.record, target.imageSize, choice);
    } catch (const base::Exception &e) {
      return {std::nullopt,
              QStringLiteral("--chip: the list's line for %1 is faulty: %2").arg(fields.Name.trimmed(), e.Message())};
    }
    return {target, {}};
  }
  return {
      std::nullopt,
      QStringLiteral("--chip: no chip \"%1\" in the chip list; known: %2").arg(name, known.join(QStringLiteral(", ")))};
}

} // namespace cli
