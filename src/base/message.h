#pragma once
// A text for people carried as data from where it arises to where it is
// shown: what happened, as its designed text in the translation catalogue
// (with %1..%9 standing for its values), and the values, each a message of
// its own (a refusal's reason is a text of the catalogue too; a number, bytes
// as hex, the system's or the store's words are verbatim). Each front end
// renders it in its language; records keep the designed rendering.
//
// A message made from a designed text alone (Kept) is one whose values were
// not carried from where it arose: it renders through whatever the front end
// can make of the whole text.

#include "base/language.h"

#include <QMetaType>
#include <QString>
#include <functional>
#include <iosfwd>
#include <vector>

namespace base {

class Message {
public:
  Message() = default;
  // A text of the catalogue: `context` and `designed` as QT_TRANSLATE_NOOP
  // names them (both of static storage), `values` for its %1.. in order.
  Message(const char *context, const char *designed, std::vector<Message> values = {});
  // Shown as it is in every language.
  static Message Verbatim(const QString &text);
  // A designed text whose parts are not known (see above). Implicit, so that
  // a text not yet carried as data goes where messages go.
  Message(const QString &designed) : Message(Kept(designed)) {} // NOLINT(google-explicit-constructor)
  static Message Kept(const QString &designed);

  bool IsEmpty() const;
  bool IsKept() const { return kind_ == Kind::Kept; }
  // What records and scripts keep.
  QString Designed() const;
  // Through `lookup`; a text it does not know stays designed. A Kept text (the
  // whole, or a value) goes through `kept`, as it is without one.
  using KeptRendering = std::function<QString(const QString &designed)>;
  QString Rendered(const TranslationLookup &lookup, const KeptRendering &kept = {}) const;

  // The same text as records keep it, however it was carried.
  bool operator==(const Message &other) const { return Designed() == other.Designed(); }

private:
  enum class Kind : uint8_t { Catalogue, Verbatim, Kept };
  QString Fill(const QString &pattern, const std::function<QString(const Message &)> &value) const;
  Kind kind_ = Kind::Verbatim;
  const char *context_ = nullptr;
  const char *designed_ = nullptr;
  QString text_; // Verbatim, Kept
  std::vector<Message> values_;
};

// As records keep it (for test failures).
void PrintTo(const Message &message, std::ostream *out);

} // namespace base

// A widget keeps the message it shows in a property, to show it again in another language.
Q_DECLARE_METATYPE(base::Message)
