#pragma once
// Reading a small file that a person or another program put in place (a key,
// a list of values): it must be a regular file of bounded size, and reading
// it must never wait (a FIFO with no writer would hold the caller for ever).

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace base {

// The bytes of the regular file at `path` when it holds at most `most`;
// otherwise nullopt, *error the reason (the system's words, "it is a folder",
// "it is not a regular file", "larger than N bytes") and *tooLarge whether
// size was the reason. Opened without waiting and checked on what was opened,
// so that nothing can be swapped in between. *mode: the file's mode bits.
std::optional<QByteArray> ReadSmallFile(const QString &path, qint64 most, QString *error, bool *tooLarge = nullptr,
                                        mode_t *mode = nullptr);

} // namespace base
