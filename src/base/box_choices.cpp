#include "base/box_choices.h"

namespace base {

QString ModeName(BoxMode mode) {
  return mode == BoxMode::Online ? QStringLiteral("online") : QStringLiteral("offline");
}

QString SupplyName(BoxSupply supply) {
  switch (supply) {
  case BoxSupply::FiveVolts:
    return QStringLiteral("5v");
  case BoxSupply::NoOutput:
    return QStringLiteral("off");
  case BoxSupply::Unchosen:
    break;
  }
  return {};
}

} // namespace base
