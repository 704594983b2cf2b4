#pragma once
// The operator's language. The designed texts (Chinese, some English) are the
// source texts of Qt's translation catalogue; English is the one translation,
// kept in translations/kavrin_en.ts and embedded in the program. The language
// comes from the system locale unless the operator chose one (the window's
// Language menu, kept in sysset.ini; the command line's --lang).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace base {

enum class Language : uint8_t { Designed, English };

// "zh" (the designed texts) and "en", any case; nullopt for anything else.
std::optional<Language> ParseLanguage(const QString &name);
QString LanguageName(Language language); // "zh", "en"

// The language of a locale name as LANG spells it ("en_US.UTF-8", "zh_CN",
// "C"): Chinese, C, POSIX and no name at all keep the designed texts; any
// other language (whose reader is likelier to read English than Chinese) is
// English.
Language LanguageOfLocale(const QString &localeName);
// The locale that names the language of messages: LC_ALL, else LC_MESSAGES,
// else LANG, as the C library takes them.
Language SystemLanguage();

// Shows the program's texts in `language` from now on: installs the English
// catalogue in the application, or removes it. Widgets learn of it by a
// LanguageChange event. On the application's thread.
void UseLanguage(Language language);
Language CurrentLanguage();

// A text of the catalogue in `context` (source text in UTF-8) translated by
// `lookup`, which answers a null string for a text it does not know.
using TranslationLookup = std::function<QString(const char *context, const char *source)>;
// The language in use.
TranslationLookup CurrentLookup();
// English, whatever the language in use (the English beside a designed text in JSON).
TranslationLookup EnglishLookup();

} // namespace base
