#pragma once
// A job released by an engineer's signature: the job file's detached
// minisign signature (<job>.kavjob.minisig), checked against the station's
// trusted keys, so that a job changed after its release (any byte: the
// firmware's hash, the PIN hash, the retries) is refused.
//
// How it works: an engineer signs the job file with minisign; its signature
// file holds an untrusted comment, the Ed25519 signature of the file (of the
// file's bytes, "Ed", or of their BLAKE2b-512 hash, "ED"), the trusted comment
// that says who released the job and why, and a second signature over the
// first and the trusted comment. Both are checked here with libsodium; the
// program only verifies and never holds a secret key. The trusted keys are
// minisign public key files (*.pub) in a folder only the administrator writes
// (base/install_paths.h); a key is retired by removing its file. While the
// folder holds no key, no signature is asked for and jobs open as before;
// once it holds one, every job must be signed by one of them, and a key file
// that cannot be read refuses every job rather than leave the station open.
// Pure apart from reading the folder; runs on the calling thread.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace job {

inline const QString kSignatureSuffix = QStringLiteral(".minisig");
// Larger files are neither signatures nor keys (a trusted comment is one line).
inline constexpr qint64 kMostSignatureBytes = 16384;
inline constexpr qint64 kMostKeyFileBytes = 4096;

struct TrustedKey {
  std::array<uint8_t, 8> id{}; // as stored; shown by KeyIdText
  std::array<uint8_t, 32> key{};
};

// The key id as minisign shows it (in a public key's comment and in its own
// messages): the 8 bytes as a little-endian number in upper-case hex, without
// leading zeros, so that it reads the same as the engineer's key file.
QString KeyIdText(const std::array<uint8_t, 8> &id);

// A minisign public key file: an "untrusted comment: " line and the base64
// of "Ed", the key id and the 32-byte Ed25519 key. Empty *refusal on success.
std::optional<TrustedKey> ParsePublicKey(const QByteArray &text, QString *refusal);

struct TrustedKeys {
  QString folder;         // where they are installed, as given
  bool installed = false; // the folder holds at least one *.pub entry, or cannot be read
  std::vector<TrustedKey> keys;
  QString refusal; // why the folder or one of its keys cannot be used; empty: all read
};
// The *.pub entries of `folder`; none when it does not exist. An entry that
// is no readable regular file, a folder that cannot be read or is no folder,
// and a folder or key others than its owner may write each refuse every job.
TrustedKeys ReadTrustedKeys(const QString &folder);

// Who released a job.
struct Release {
  bool checked = false; // false: no trusted key is installed, so no signature was asked for
  QString comment;      // the signature's trusted comment, as signed
  QString keyId;        // KeyIdText of the key that signed
  bool operator==(const Release &) const = default;
};

struct ReleaseCheck {
  Release release;
  QString refusal; // empty: the job may be opened
};
// Checks `signature` (the signature file's bytes; nullopt when there is
// none) of the job file's bytes `file` against `keys`. `signatureName` is how
// a refusal names the signature file. Pure.
ReleaseCheck CheckRelease(const QByteArray &file, const std::optional<QByteArray> &signature, const TrustedKeys &keys,
                          const QString &signatureName);

// The same for the job file at `jobPath`, whose bytes are `file`: its
// signature is read from jobPath + ".minisig", the keys from `keysFolder`.
ReleaseCheck CheckReleaseOf(const QString &jobPath, const QByteArray &file, const QString &keysFolder);

// "<trusted comment> (key <id>)" for a release that was checked; a tab in
// the comment (minisign's own comments hold them) is shown as a space, any
// other control character as \xHH, so that none acts on a terminal.
QString ReleaseText(const Release &release);

} // namespace job
