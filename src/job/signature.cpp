#include "job/signature.h"
#include "base/small_file.h"

#include "base/printable.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace job {

namespace {

constexpr qsizetype kIdBytes = 8;
constexpr qsizetype kKeyBytes = 32;
constexpr qsizetype kSignatureBytes = crypto_sign_BYTES;
const QByteArray kUntrusted = QByteArrayLiteral("untrusted comment: ");
const QByteArray kTrusted = QByteArrayLiteral("trusted comment: ");
// The signature algorithms: of the file's bytes, of their BLAKE2b-512 hash; and the key's.
const QByteArray kLegacy = QByteArrayLiteral("Ed");
const QByteArray kPrehashed = QByteArrayLiteral("ED");

using base::Printable;
using base::Quoted;

// minisign's own trusted comments part their fields with tabs; any other
// control character is shown as \xHH.
QString ShownComment(QString comment) { return Printable(comment.replace(QLatin1Char('\t'), QLatin1Char(' '))); }

// The file's lines without their ends (LF or CR LF); a last line end is optional.
QList<QByteArray> Lines(const QByteArray &text) {
  QList<QByteArray> lines = text.split('\n');
  if (lines.size() > 1 && lines.back().isEmpty())
    lines.pop_back();
  for (QByteArray &line : lines)
    if (line.endsWith('\r'))
      line.chop(1);
  return lines;
}

std::optional<QByteArray> Base64(const QByteArray &line, qsizetype bytes) {
  const auto decoded =
      QByteArray::fromBase64Encoding(line, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.size() != bytes)
    return std::nullopt;
  return decoded.decoded;
}

// The callers have checked the size; the check here keeps the compiler's bounds analysis quiet.
template <size_t n> std::array<uint8_t, n> Bytes(const QByteArray &from, qsizetype at) {
  std::array<uint8_t, n> bytes{};
  for (size_t i = 0; i < n && at + qsizetype(i) < from.size(); ++i)
    bytes[i] = uint8_t(from[at + qsizetype(i)]);
  return bytes;
}

struct Signature {
  bool prehashed = false;
  std::array<uint8_t, kIdBytes> keyId{};
  QByteArray signature; // of the file, or of its hash
  QByteArray comment;   // the trusted comment's bytes, as signed
  QByteArray global;    // of `signature` and `comment`
};

std::optional<Signature> ParseSignature(const QByteArray &text, QString *refusal) {
  const auto fail = [&](const QString &why) {
    *refusal = why;
    return std::nullopt;
  };
  const QList<QByteArray> lines = Lines(text);
  if (!lines[0].startsWith(kUntrusted))
    return fail(QStringLiteral("line 1 does not begin with \"untrusted comment: \""));
  if (lines.size() < 4)
    return fail(QStringLiteral("it ends after line %1 of 4").arg(lines.size()));
  if (lines.size() > 4)
    return fail(QStringLiteral("it goes on after line 4"));
  const std::optional<QByteArray> first = Base64(lines[1], 2 + kIdBytes + kSignatureBytes);
  if (!first)
    return fail(QStringLiteral("line 2 is not the base64 of a %1-byte signature").arg(2 + kIdBytes + kSignatureBytes));
  Signature s;
  const QByteArray algorithm = first->left(2);
  if (algorithm != kLegacy && algorithm != kPrehashed)
    return fail(QStringLiteral("unknown signature algorithm \"%1\"").arg(Printable(QString::fromLatin1(algorithm))));
  s.prehashed = algorithm == kPrehashed;
  s.keyId = Bytes<kIdBytes>(*first, 2);
  s.signature = first->mid(2 + kIdBytes);
  if (!lines[2].startsWith(kTrusted))
    return fail(QStringLiteral("line 3 does not begin with \"trusted comment: \""));
  s.comment = lines[2].mid(kTrusted.size());
  const std::optional<QByteArray> global = Base64(lines[3], kSignatureBytes);
  if (!global)
    return fail(QStringLiteral("line 4 is not the base64 of a %1-byte signature").arg(kSignatureBytes));
  s.global = *global;
  return s;
}

bool Verifies(const QByteArray &signature, const QByteArray &message, const TrustedKey &key) {
  return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                     reinterpret_cast<const unsigned char *>(message.constData()),
                                     size_t(message.size()), key.key.data()) == 0;
}

QByteArray Blake2b512(const QByteArray &bytes) {
  QByteArray hash(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
  crypto_generichash(reinterpret_cast<unsigned char *>(hash.data()), size_t(hash.size()),
                     reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()), nullptr, 0);
  return hash;
}

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Others than the owner and root may change it: a key or a folder of keys
// anyone else may write lets them release their own jobs.
bool WritableByOthers(mode_t mode) { return (mode & (S_IWGRP | S_IWOTH)) != 0; }

QString ModeText(mode_t mode) { return QStringLiteral("%1").arg(uint(mode & 07777), 4, 8, QLatin1Char('0')); }


} // namespace

QString KeyIdText(const std::array<uint8_t, 8> &id) {
  quint64 number = 0;
  for (auto byte = id.rbegin(); byte != id.rend(); ++byte)
    number = number << 8 | *byte;
  return QString::number(number, 16).toUpper();
}

std::optional<TrustedKey> ParsePublicKey(const QByteArray &text, QString *refusal) {
  const auto fail = [&](const QString &why) {
    *refusal = why;
    return std::nullopt;
  };
  refusal->clear();
  const QList<QByteArray> lines = Lines(text);
  if (!lines[0].startsWith(kUntrusted))
    return fail(QStringLiteral("line 1 does not begin with \"untrusted comment: \""));
  if (lines.size() != 2)
    return fail(QStringLiteral("it has %1 lines, a key has 2").arg(lines.size()));
  const std::optional<QByteArray> bytes = Base64(lines[1], 2 + kIdBytes + kKeyBytes);
  if (!bytes)
    return fail(QStringLiteral("line 2 is not the base64 of a %1-byte key").arg(2 + kIdBytes + kKeyBytes));
  if (bytes->left(2) != kLegacy)
    return fail(QStringLiteral("unknown key algorithm \"%1\"").arg(Printable(QString::fromLatin1(bytes->left(2)))));
  return TrustedKey{Bytes<kIdBytes>(*bytes, 2), Bytes<kKeyBytes>(*bytes, 2 + kIdBytes)};
}

TrustedKeys ReadTrustedKeys(const QString &folder) {
  TrustedKeys read;
  read.folder = folder;
  if (folder.isEmpty())
    return read;
  const QString shown = Quoted(QDir::toNativeSeparators(folder));
  // Without its trailing '/', so that a file or a dangling link of that name is seen as one.
  const QByteArray native = QFile::encodeName(QDir::cleanPath(folder));
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0 && errno == ENOENT)
    return read;
  // Anything there that is no usable folder may be meant to hold keys: it
  // closes the station rather than open it.
  read.installed = true;
  if (::stat(native.constData(), &st) != 0) {
    read.refusal = QStringLiteral("cannot read the trusted-keys folder %1: %2").arg(shown, SystemReason(errno));
    return read;
  }
  if (!S_ISDIR(st.st_mode)) {
    read.refusal = QStringLiteral("the trusted-keys folder %1 is not a folder").arg(shown);
    return read;
  }
  if (WritableByOthers(st.st_mode)) {
    read.refusal = QStringLiteral("the trusted-keys folder %1 may be written by others than its owner (permissions "
                                  "%2): only the administrator may add a key")
                       .arg(shown, ModeText(st.st_mode));
    return read;
  }
  const QFileInfo info(folder);
  if (!info.isReadable() || !info.isExecutable()) {
    read.refusal = QStringLiteral("cannot read the trusted-keys folder %1: permission denied").arg(shown);
    return read;
  }
  // Every entry named *.pub, whatever it is: one that cannot be read is a key
  // the administrator meant to trust, not one to pass over.
  const QFileInfoList files = QDir(folder).entryInfoList(
      {QStringLiteral("*.pub")}, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  read.installed = !files.isEmpty();
  for (const QFileInfo &file : files) {
    const QString name = Quoted(QDir::toNativeSeparators(file.filePath()));
    QString why;
    mode_t mode = 0;
    const std::optional<QByteArray> text = base::ReadSmallFile(file.filePath(), kMostKeyFileBytes, &why, nullptr, &mode);
    if (!text) {
      read.refusal = QStringLiteral("cannot read the trusted key %1: %2").arg(name, why);
      return read;
    }
    if (WritableByOthers(mode)) {
      read.refusal = QStringLiteral("the trusted key %1 may be written by others than its owner (permissions %2): "
                                    "only the administrator may change a key")
                         .arg(name, ModeText(mode));
      return read;
    }
    const std::optional<TrustedKey> key = ParsePublicKey(*text, &why);
    if (!key) {
      read.refusal = QStringLiteral("the trusted key %1 is not a minisign public key: %2").arg(name, why);
      return read;
    }
    read.keys.push_back(*key);
  }
  return read;
}

ReleaseCheck CheckRelease(const QByteArray &file, const std::optional<QByteArray> &signatureText,
                          const TrustedKeys &keys, const QString &signatureName) {
  ReleaseCheck check;
  if (!keys.installed)
    return check;
  const auto refuse = [&](const QString &why) {
    check.refusal = why;
    return check;
  };
  if (!keys.refusal.isEmpty())
    return refuse(keys.refusal);
  const QString name = Quoted(QDir::toNativeSeparators(signatureName));
  if (!signatureText)
    return refuse(QStringLiteral("not signed: there is no signature file %1, and with a trusted key installed in %2 "
                                 "every job must be signed by one; ask the engineer for the job's .minisig signature "
                                 "file and copy it beside the job")
                      .arg(name, Quoted(QDir::toNativeSeparators(keys.folder))));
  QString why;
  const std::optional<Signature> signature = ParseSignature(*signatureText, &why);
  if (!signature)
    return refuse(QStringLiteral("the signature file %1 is not a minisign signature: %2").arg(name, why));
  if (sodium_init() < 0)
    return refuse(QStringLiteral("cannot check the signature: libsodium cannot start"));

  const QString keyId = KeyIdText(signature->keyId);
  const QString comment = QString::fromUtf8(signature->comment);
  const QString about = QStringLiteral(" (key %1, trusted comment %2)").arg(keyId, Quoted(ShownComment(comment)));
  const QByteArray signedBytes = signature->prehashed ? Blake2b512(file) : file;
  bool knownKey = false, fileMatches = false;
  for (const TrustedKey &key : keys.keys) {
    if (key.id != signature->keyId)
      continue;
    knownKey = true;
    if (!Verifies(signature->signature, signedBytes, key))
      continue;
    fileMatches = true;
    if (Verifies(signature->global, signature->signature + signature->comment, key)) {
      check.release = {true, comment, keyId};
      return check;
    }
  }
  if (!knownKey)
    return refuse(QStringLiteral("signed by key %1, which is not a trusted key (trusted comment %2)")
                      .arg(keyId, Quoted(ShownComment(comment))));
  if (!fileMatches)
    return refuse(QStringLiteral("the job file was changed after it was signed: its signature does not match it") +
                  about);
  return refuse(QStringLiteral("the signature's trusted comment was changed after it was signed") + about);
}

ReleaseCheck CheckReleaseOf(const QString &jobPath, const QByteArray &file, const QString &keysFolder) {
  const TrustedKeys keys = ReadTrustedKeys(keysFolder);
  const QString signaturePath = QFileInfo(jobPath).absoluteFilePath() + kSignatureSuffix;
  std::optional<QByteArray> signature;
  if (keys.installed && keys.refusal.isEmpty() && QFileInfo::exists(signaturePath)) {
    QString why;
    signature = base::ReadSmallFile(signaturePath, kMostSignatureBytes, &why);
    if (!signature)
      return {{},
              QStringLiteral("cannot read the signature file %1: %2")
                  .arg(Quoted(QDir::toNativeSeparators(signaturePath)), why)};
  }
  return CheckRelease(file, signature, keys, signaturePath);
}

QString ReleaseText(const Release &release) {
  return QStringLiteral("%1 (key %2)").arg(ShownComment(release.comment), release.keyId);
}

} // namespace job
