#pragma once
// The process's standard output and error as the command line uses them.

#include <QByteArray>
#include <QString>

namespace cli {

// Writes the bytes whole and flushes, so a reader of a pipe sees each line at once.
void WriteStdout(const QByteArray &bytes);
void WriteStderr(const QByteArray &bytes);

// Lines for people, in UTF-8 with every control character but the line
// break, and every format character, shown as \xHH (base::PrintableLines):
// results on standard output, the rest on standard error. CSV and JSON go
// through WriteStdout as they are.
void Print(const QString &lines);
void Complain(const QString &lines);

// "kavrin-cli COMMAND: WHY" and where the command's help is, on standard
// error; returns the usage error's exit status, 2.
int UsageError(const QString &command, const QString &why);

// Standard error is a terminal that understands cursor movement (TERM is not "dumb").
bool StderrIsTerminal();

// Standard error's terminal width in columns; 80 when unknown.
int StderrColumns();

} // namespace cli
