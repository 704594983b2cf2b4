#pragma once
// Texts as a person reads them on a terminal. A name, a file's header or a
// box's text may hold control characters (ESC, BEL, a carriage return), which
// a terminal would obey rather than show; the lines for people show each as
// \xHH instead. Machine output (CSV, JSON) keeps its own escaping.

#include <QString>

namespace base {

// The text in double quotes, as a refusal shows a value it got.
QString Quoted(const QString &text);

// Every control character as \xHH (upper-case hex, two digits or more).
QString Printable(const QString &text);

// The same for lines: the line breaks between them stay.
QString PrintableLines(const QString &lines);

} // namespace base
