#include "session/operator_name.h"

#include "base/printable.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace session {

QString LoginName() {
  const uid_t uid = ::getuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size_t(size > 0 ? size : 16384));
  passwd entry{};
  passwd *found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
      *found->pw_name)
    return QString::fromLocal8Bit(found->pw_name);
  return QString::number(uid);
}

QString OperatorRefusal(const QString &name) {
  if (name.trimmed().isEmpty())
    return QStringLiteral("an operator's name is empty");
  if (const qsizetype characters = base::Characters(name); characters > kMostOperatorCharacters)
    return QStringLiteral("an operator's name is %1 characters long, more than %2")
        .arg(characters)
        .arg(kMostOperatorCharacters);
  // " li.wei" would be another operator than the "li.wei" the production view takes.
  if (name != name.trimmed())
    return QStringLiteral("an operator's name begins or ends with a blank");
  for (QChar c : name)
    if (c.category() == QChar::Other_Control)
      return QStringLiteral("an operator's name holds a control character");
  // A right-to-left override would make the name read as another in every list it is shown in.
  if (const char32_t c = base::FirstFormatCharacter(name))
    return QStringLiteral("an operator's name holds the invisible format character %1").arg(base::CodePointName(c));
  return {};
}

} // namespace session
