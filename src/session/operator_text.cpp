#include "session/operator_text.h"

#include "image/load_messages.h"
#include "protocol/reply.h"

#include <QRegularExpression>
#include <vector>

namespace session {

namespace {

const char *const kContexts[] = {"Operation", "Window"};

// The texts built from parts: %1.. stand for the parts. Live messages carry
// their values and never come here; the box's texts are here for the records
// read back, which keep only the designed text.
struct Pattern {
  const char *context;
  const char *pattern;
};
const Pattern kPatterns[] = {
    {"Operation", protocol::kMismatchPattern},
    {"Operation", protocol::kNotAReplyOnePattern}, // before the pattern of any count, which would take "1" as well
    {"Operation", protocol::kNotAReplyPattern},
    {"Operation", protocol::kUnknownStatusPattern},
    {"Operation", protocol::kManyRepliesPattern},
    {"Operation", protocol::kBlocksNotAskedPattern},
    {"Operation", image::kChecksumErrorPattern},
    {"Operation", image::kNotARecordPattern},
    {"Operation", image::kAddressClashPattern},
    {"Operation", image::kLeftOutPattern},
    // The other forms' reasons, found again inside the general refusal below.
    {"Operation", image::kElfUnreadablePattern},
    {"Operation", image::kElfSegmentCutPattern},
    {"Operation", image::kElfSectionCutPattern},
    {"Operation", image::kElfNotExecutablePattern},
    {"Operation", image::kElfOtherKindPattern},
    {"Operation", image::kSrecNotARecordPattern},
    {"Operation", image::kSrecLengthPattern},
    {"Operation", image::kSrecChecksumPattern},
    {"Operation", image::kSrecCountPattern},
    // Last: it holds every refusal of a file that no pattern above took.
    {"Operation", image::kLoadErrorPattern},
};

// The pattern as an expression that takes the parts out of a text built from it.
QRegularExpression Matcher(const QString &pattern) {
  static const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
  QString expression;
  qsizetype at = 0;
  for (auto it = placeholder.globalMatch(pattern); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    expression += QRegularExpression::escape(pattern.mid(at, m.capturedStart() - at)) +
                  QStringLiteral("(?<p%1>.+?)").arg(m.captured().mid(1));
    at = m.capturedEnd();
  }
  expression += QRegularExpression::escape(pattern.mid(at));
  return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                            QRegularExpression::DotMatchesEverythingOption);
}

// The translated pattern with its %1.. replaced by the parts, each translated
// in its turn (a refusal's reason is a text of its own), in one pass, so that
// a part holding "%2" stays as it is.
QString Fill(const QString &pattern, const QRegularExpressionMatch &parts, const base::TranslationLookup &lookup) {
  QString out;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == QLatin1Char('%') && i + 1 < pattern.size() && pattern[i + 1] >= QLatin1Char('1') &&
        pattern[i + 1] <= QLatin1Char('9')) {
      out += TranslatedText(parts.captured(QStringLiteral("p") + pattern[i + 1]), lookup);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

} // namespace

QString TranslatedText(const QString &designed, const base::TranslationLookup &lookup) {
  if (designed.isEmpty())
    return designed;
  const QByteArray source = designed.toUtf8();
  for (const char *context : kContexts)
    if (const QString whole = lookup(context, source.constData()); !whole.isEmpty())
      return whole;
  static const std::vector<QRegularExpression> matchers = [] {
    std::vector<QRegularExpression> all;
    for (const Pattern &p : kPatterns)
      all.push_back(Matcher(QString::fromUtf8(p.pattern)));
    return all;
  }();
  for (size_t i = 0; i < std::size(kPatterns); ++i) {
    const QRegularExpressionMatch parts = matchers[i].match(designed);
    if (!parts.hasMatch())
      continue;
    const QString translated = lookup(kPatterns[i].context, kPatterns[i].pattern);
    return translated.isEmpty() ? designed : Fill(translated, parts, lookup);
  }
  return designed;
}

QString ShownText(const QString &designed) {
  if (base::CurrentLanguage() == base::Language::Designed)
    return designed;
  return TranslatedText(designed, base::CurrentLookup());
}

QString EnglishText(const QString &designed) { return TranslatedText(designed, base::EnglishLookup()); }

QString Shown(const base::Message &message) {
  if (base::CurrentLanguage() == base::Language::Designed)
    return message.Designed();
  return message.Rendered(base::CurrentLookup(), ShownText);
}

QString English(const base::Message &message) { return message.Rendered(base::EnglishLookup(), EnglishText); }

QString ProgressText(uint32_t percent) { return QStringLiteral("%1 %").arg(percent); }

base::Message ElapsedText(uint32_t seconds, uint32_t tenths) {
  return {"Window", kElapsedPattern,
          {base::Message::Verbatim(QString::number(seconds)), base::Message::Verbatim(QString::number(tenths))}};
}

} // namespace session
