#include "base/exception.h"

namespace base {

QString NotValidIntegerText(const QString &text) {
  return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

QString CannotOpenFileText(const QString &path, const QString &why) {
  return QStringLiteral("Cannot open file \"%1\". %2").arg(path, why);
}

QString UnableToWriteText(const QString &path) { return QStringLiteral("Unable to write to %1").arg(path); }

} // namespace base
