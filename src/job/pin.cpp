#include "job/pin.h"

#include <QList>

#include <sodium.h>

namespace job {

namespace {

// sodium_init is safe to call from several threads and more than once; it
// fails only when no source of randomness can be opened.
bool Ready() { return sodium_init() >= 0; }

const char kAlgorithm[] = "$argon2id$";

} // namespace

QString PinRefusal(const QByteArray &pin) {
  const QString text = QString::fromUtf8(pin);
  // Characters as the engineer types them: neither bytes nor UTF-16 units.
  const qsizetype characters = text.toUcs4().size();
  if (characters < kLeastPinCharacters)
    return QStringLiteral("a PIN has at least %1 characters").arg(kLeastPinCharacters);
  if (characters > kMostPinCharacters)
    return QStringLiteral("a PIN has at most %1 characters").arg(kMostPinCharacters);
  for (const QChar c : text)
    if (c.category() == QChar::Other_Control)
      return QStringLiteral("a PIN holds no control characters");
  if (text.trimmed().isEmpty())
    return QStringLiteral("a PIN is more than blanks");
  return {};
}

QString HashPin(const QByteArray &pin, QString *error) {
  char hash[crypto_pwhash_STRBYTES];
  if (!Ready() || crypto_pwhash_str_alg(hash, pin.constData(), size_t(pin.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                        crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    if (error)
      *error = QStringLiteral("cannot hash the PIN: not enough memory");
    return {};
  }
  return QString::fromLatin1(hash);
}

bool IsPinHash(const QString &hash) {
  const QByteArray text = hash.toLatin1();
  return hash.size() < crypto_pwhash_STRBYTES && text.startsWith(kAlgorithm) && Ready() &&
         crypto_pwhash_str_needs_rehash(text.constData(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                        crypto_pwhash_MEMLIMIT_INTERACTIVE) >= 0;
}

bool PinMatches(const QString &hash, const QByteArray &pin) {
  return IsPinHash(hash) &&
         crypto_pwhash_str_verify(hash.toLatin1().constData(), pin.constData(), size_t(pin.size())) == 0;
}

void Wipe(QByteArray &bytes) {
  if (!bytes.isEmpty())
    sodium_memzero(bytes.data(), size_t(bytes.size()));
  bytes.clear();
}

} // namespace job
