#pragma once
// Who runs units and operations, as every record and unit row names them: the
// name or badge an operator gave (the production view asks for it, the
// command line takes --operator), else the login name of the account the
// program runs under. Pure apart from asking the system for the account.

#include <QString>

namespace session {

// The longest name or badge taken, as a scan field takes at most so many characters.
inline constexpr int kMostOperatorCharacters = 128;

// The name of the account this program runs as (its real user), never
// empty: the user id's number when the account has no name.
QString LoginName();

// Why `name` names no operator, empty when it does: 1 to
// kMostOperatorCharacters characters (code points: an emoji is one), no blank
// at either end, no control character, no format character (U+202E and the like).
QString OperatorRefusal(const QString &name);

} // namespace session
