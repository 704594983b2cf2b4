#pragma once
// Qt's own messages (a database driver's "Unable to free statement", a socket
// notifier's "Invalid socket") mean nothing to whoever reads a command's
// output or a station's console, and come by the dozen while a server is
// away. Once KeepQtMessagesInLog has run, a message that is not this
// program's own (those begin with "kavrin") is appended to the log file at
// `path` with its time and kind, and kept off standard error; this program's
// own still go to standard error. A fatal message still ends the program. A
// log grown past kMostLogBytes starts afresh, the one before kept as PATH.1.
// Messages may come from any thread.

#include <QString>

namespace base {

inline constexpr qint64 kMostLogBytes = 1 << 20;

void KeepQtMessagesInLog(const QString &path);

} // namespace base
