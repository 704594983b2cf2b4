#include "base/language.h"

#include <QCoreApplication>
#include <QTranslator>
#include <memory>

namespace base {

namespace {

const QString kEnglishCatalogue = QStringLiteral(":/translations/kavrin_en.qm");

Language current = Language::Designed;

// The catalogue on its own, for the English of a text in any language.
const QTranslator &English() {
  static const std::unique_ptr<QTranslator> translator = [] {
    auto t = std::make_unique<QTranslator>();
    if (!t->load(kEnglishCatalogue))
      qWarning("kavrin: the English catalogue %s is missing", qPrintable(kEnglishCatalogue));
    return t;
  }();
  return *translator;
}

// The translator installed in the application while English is in use.
QTranslator *installed = nullptr;

} // namespace

std::optional<Language> ParseLanguage(const QString &name) {
  if (name.compare(QLatin1String("zh"), Qt::CaseInsensitive) == 0)
    return Language::Designed;
  if (name.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0)
    return Language::English;
  return std::nullopt;
}

QString LanguageName(Language language) {
  return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
}

Language LanguageOfLocale(const QString &localeName) {
  // "en_US.UTF-8", "de_DE@euro": the language and territory come first.
  const QString name = localeName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
  if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX") ||
      name.section(QLatin1Char('_'), 0, 0).compare(QLatin1String("zh"), Qt::CaseInsensitive) == 0)
    return Language::Designed;
  return Language::English;
}

Language SystemLanguage() {
  for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty())
      return LanguageOfLocale(value);
  }
  return Language::Designed;
}

void UseLanguage(Language language) {
  if (language == current && (language == Language::Designed || installed))
    return;
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
  }
  current = language;
  if (language == Language::English) {
    installed = new QTranslator(QCoreApplication::instance());
    if (installed->load(kEnglishCatalogue))
      QCoreApplication::installTranslator(installed);
    else
      qWarning("kavrin: the English catalogue %s is missing", qPrintable(kEnglishCatalogue));
  }
}

Language CurrentLanguage() { return current; }

TranslationLookup CurrentLookup() {
  return [](const char *context, const char *source) -> QString {
    if (current == Language::Designed || !installed)
      return {};
    return installed->translate(context, source);
  };
}

TranslationLookup EnglishLookup() {
  return [](const char *context, const char *source) { return English().translate(context, source); };
}

} // namespace base
