// The English catalogue, translations/kavrin_en.ts: every text of the code is
// in it and translated, no translation is unfinished or left over, each keeps
// the parts (%1..) of its text, and the programs embed it as it stands.
#include "base/language.h"
#include "support/test_helpers.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

struct Message {
  QString context, source, translation, type;
};

std::vector<Message> ReadCatalogue(const QString &path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  QXmlStreamReader xml(&file);
  std::vector<Message> messages;
  QString context;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement)
      continue;
    if (xml.name() == QLatin1String("name")) {
      context = xml.readElementText();
    } else if (xml.name() == QLatin1String("message")) {
      messages.push_back({context, {}, {}, {}});
    } else if (xml.name() == QLatin1String("source")) {
      messages.back().source = xml.readElementText();
    } else if (xml.name() == QLatin1String("translation")) {
      messages.back().type = xml.attributes().value(QLatin1String("type")).toString();
      messages.back().translation = xml.readElementText();
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  return messages;
}

QSet<QString> Placeholders(const QString &text) {
  static const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
  QSet<QString> found;
  for (auto it = placeholder.globalMatch(text); it.hasNext();)
    found.insert(it.next().captured());
  return found;
}

QSet<QString> Keys(const std::vector<Message> &messages) {
  QSet<QString> keys;
  for (const Message &m : messages)
    keys.insert(m.context + QStringLiteral(" | ") + m.source);
  return keys;
}

const QString kCatalogue = SourcePath(QStringLiteral("translations/kavrin_en.ts"));

} // namespace

TEST(Translations, EveryTextHasAFinishedEnglishTranslationThatTheProgramsEmbed) {
  const std::vector<Message> messages = ReadCatalogue(kCatalogue);
  ASSERT_FALSE(messages.empty());
  const base::TranslationLookup embedded = base::EnglishLookup();
  for (const Message &m : messages) {
    SCOPED_TRACE((m.context + QStringLiteral(": ") + m.source).toStdString());
    // "unfinished" awaits a translator; "obsolete" and "vanished" are gone from the code.
    EXPECT_EQ(m.type.toStdString(), "");
    EXPECT_FALSE(m.translation.trimmed().isEmpty());
    EXPECT_EQ(Placeholders(m.translation), Placeholders(m.source)) << "a part of the text would be lost";
    EXPECT_EQ(embedded(m.context.toUtf8().constData(), m.source.toUtf8().constData()).toStdString(),
              m.translation.toStdString())
        << "the embedded catalogue is not this one";
  }
}

TEST(Translations, TheCatalogueHoldsExactlyTheTextsOfTheCode) {
  QTemporaryDir scratch;
  const QString extracted = scratch.filePath(QStringLiteral("extracted.ts"));
  QProcess lupdate;
  lupdate.start(QStringLiteral(KAVRIN_LUPDATE),
                {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-no-obsolete"),
                 QStringLiteral("-target-language"), QStringLiteral("en"), QStringLiteral("-extensions"),
                 QStringLiteral("cpp,h"), SourcePath(QStringLiteral("src")), QStringLiteral("-ts"), extracted});
  ASSERT_TRUE(lupdate.waitForFinished(120000)) << lupdate.errorString().toStdString();
  ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
  const QSet<QString> code = Keys(ReadCatalogue(extracted));
  const QSet<QString> catalogue = Keys(ReadCatalogue(kCatalogue));
  for (const QString &key : code - catalogue)
    ADD_FAILURE() << "not in the catalogue (run the update_translations target, then translate): " << key.toStdString();
  for (const QString &key : catalogue - code)
    ADD_FAILURE() << "in the catalogue but no longer in the code: " << key.toStdString();
}
