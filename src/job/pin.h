#pragma once
// The engineer PIN of a job: kept only as a salted, deliberately slow
// Argon2id hash (libsodium's crypto_pwhash), so that a job file that leaves
// the line does not give the PIN away. The PIN itself is never stored,
// shown or logged; callers wipe their copy when done.

#include <QByteArray>
#include <QString>

namespace job {

inline constexpr int kLeastPinCharacters = 4;
inline constexpr int kMostPinCharacters = 64;

// Why `pin` cannot be a PIN (fewer than 4 or more than 64 characters, a
// control character, blanks alone); empty when it can.
QString PinRefusal(const QByteArray &pin);

// The hash of `pin` with a fresh salt ("$argon2id$v=19$..."); empty and
// *error when it cannot be made (out of memory).
QString HashPin(const QByteArray &pin, QString *error);

// `hash` is an Argon2id hash string this library can check.
bool IsPinHash(const QString &hash);

// `pin` is the one `hash` was made from.
bool PinMatches(const QString &hash, const QByteArray &pin);

// Overwrites the bytes, in a way the compiler may not leave out, and empties
// them; `bytes` must hold the only copy.
void Wipe(QByteArray &bytes);

} // namespace job
