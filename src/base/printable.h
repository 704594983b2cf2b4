#pragma once
// Texts as a person reads them on a terminal. A name, a file's header or a
// box's text may hold control characters (ESC, BEL, a carriage return), which
// a terminal would obey rather than show, and format characters (U+202E
// RIGHT-TO-LEFT OVERRIDE, a zero-width space), which reorder or hide what
// follows them; the lines for people show each as \xHH instead. Machine output
// (CSV, JSON) keeps its own escaping.

#include <QString>
#include <QStringView>

namespace base {

// The text in double quotes, as a refusal shows a value it got.
QString Quoted(const QString &text);

// Every control and format character as \xHH (upper-case hex of the code
// point, two digits or more).
QString Printable(const QString &text);

// The same for lines: the line breaks between them stay, and tabs that
// begin a line are shown as indentation (two blanks each).
QString PrintableLines(const QString &lines);

// The same, keeping the characters of `kept` as they are.
QString PrintableKeeping(const QString &text, QStringView kept);

// The first format character (Unicode category Cf) of `text`; 0 when there is none.
char32_t FirstFormatCharacter(QStringView text);

// "U+202E".
QString CodePointName(char32_t c);

// How many characters a person counts in `text`: code points, so that a
// character beyond the 16-bit range (an emoji) is one, not two.
qsizetype Characters(QStringView text);

} // namespace base
