#include "base/message.h"

#include <ostream>

namespace base {

Message::Message(const char *context, const char *designed, std::vector<Message> values)
    : kind_(Kind::Catalogue), context_(context), designed_(designed), values_(std::move(values)) {}

Message Message::Verbatim(const QString &text) {
  Message m;
  m.text_ = text;
  return m;
}

Message Message::Kept(const QString &designed) {
  Message m = Verbatim(designed);
  m.kind_ = Kind::Kept;
  return m;
}

bool Message::IsEmpty() const { return kind_ == Kind::Catalogue ? !*designed_ : text_.isEmpty(); }

// The pattern with its %1.. replaced by the values in one pass, so that a
// value holding "%2" stays as it is.
QString Message::Fill(const QString &pattern, const std::function<QString(const Message &)> &value) const {
  QString out;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = i + 1 < pattern.size() ? pattern[i + 1] : QChar();
    if (pattern[i] == QLatin1Char('%') && c >= QLatin1Char('1') && c <= QLatin1Char('9') &&
        size_t(c.unicode() - '1') < values_.size()) {
      out += value(values_[size_t(c.unicode() - '1')]);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

QString Message::Designed() const {
  if (kind_ != Kind::Catalogue)
    return text_;
  return Fill(QString::fromUtf8(designed_), [](const Message &m) { return m.Designed(); });
}

QString Message::Rendered(const TranslationLookup &lookup, const KeptRendering &kept) const {
  switch (kind_) {
  case Kind::Verbatim:
    return text_;
  case Kind::Kept:
    return kept ? kept(text_) : text_;
  case Kind::Catalogue:
    break;
  }
  const QString translated = lookup ? lookup(context_, designed_) : QString();
  return Fill(translated.isEmpty() ? QString::fromUtf8(designed_) : translated,
              [&](const Message &m) { return m.Rendered(lookup, kept); });
}

void PrintTo(const Message &message, std::ostream *out) { *out << message.Designed().toStdString(); }

} // namespace base
