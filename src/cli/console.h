#pragma once
// The process's standard output and error as the command line uses them.

#include <QByteArray>

namespace cli {

// Writes the bytes whole and flushes, so a reader of a pipe sees each line at once.
void WriteStdout(const QByteArray &bytes);
void WriteStderr(const QByteArray &bytes);

// Standard error is a terminal that understands cursor movement (TERM is not "dumb").
bool StderrIsTerminal();

// Standard error's terminal width in columns; 80 when unknown.
int StderrColumns();

} // namespace cli
