#pragma once
// The texts as the operator reads them. A message (base/message.h) carries
// what happened and its values to the front end, which renders it here in its
// language (Shown, English); records and scripts keep its designed rendering.
// A designed text known only as text (a record read back from the store,
// which keeps no values; a file's refusal, not yet carried as a message) goes
// through ShownText, which translates a whole text by itself and a text built
// from parts through the pattern it was built from. A text the catalogue does
// not know (the system's reason for an error) is shown as it is. The texts of
// an operation's progress and elapsed time, as the window shows the session's
// reports of them, are made here too. Pure functions.
//
// The contexts of the catalogue name what a text belongs to, not the file it
// is written in: "Operation" (the ends and notices of operations), "Window"
// (the window's captions, labels and status texts).

#include "base/language.h"
#include "base/message.h"

#include <QString>
#include <cstdint>

namespace session {

// In the language in use (the designed text itself while that is the designed one).
QString ShownText(const QString &designed);
// In English, whatever the language in use.
QString EnglishText(const QString &designed);
// A message (base/message.h) in the language in use, and in English.
QString Shown(const base::Message &message);
QString English(const base::Message &message);

// Through any catalogue lookup (base/language.h).
QString TranslatedText(const QString &designed, const base::TranslationLookup &lookup);

// "<percent> %", as Label7 shows it.
QString ProgressText(uint32_t percent);
// "<seconds>.<tenths> 秒", as Label9 shows it.
inline constexpr char kElapsedPattern[] = QT_TRANSLATE_NOOP("Window", "%1.%2 秒");
base::Message ElapsedText(uint32_t seconds, uint32_t tenths);

} // namespace session
