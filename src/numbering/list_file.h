#pragma once
// A list file: the values a plan hands out, one a line. The window, the
// command line's load and its jobs all read a list through ReadList, so that
// each accepts and refuses the same files with the same reasons. Only a
// regular file of at most kMostListBytes is read, so that a pipe, a device or
// a link to one can neither hang the caller nor exhaust memory. Pure apart
// from reading the file; runs on the calling thread.
//
// A line ends at LF, CR LF or CR. A line is "hex:" and hex digit pairs (blanks
// between allowed) for raw bytes, or its text, which must be UTF-8 (a line that
// is not is refused: its bytes would reach the board changed). Blank lines do
// not count. A value given twice is refused: it would go into two boards.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace numbering {

inline constexpr int64_t kMostListBytes = 16 * 1024 * 1024;

struct ListFile {
  QStringList lines; // as given, without line ends
  // Of the values, each followed by LF, so that stations sharing a pool share
  // the list whatever its line ends.
  QString sha256;
  QString fileSha256; // of the file's bytes as they are, whatever they hold
  QString refusal;
  // The file's bytes were read: a refusal is about what they hold. Otherwise
  // the refusal says why the file could not be read.
  bool fileRead = false;

  // The refusal with the list named as `name`: "<name>: <why>", or "cannot
  // read <name>: <why>" for a file that could not be read.
  QString RefusalNaming(const QString &name) const;
};

// The values in `text`.
ListFile ParseList(const QByteArray &text);

// The list file at `path`, read and parsed.
ListFile ReadList(const QString &path);

} // namespace numbering
