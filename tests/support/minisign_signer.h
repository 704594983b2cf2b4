#pragma once
// Minisign signatures made in a test with libsodium: a key pair of the test's
// own, its public key file, and signature files of given bytes, prehashed or
// legacy. Built from the published file layout, independently of the
// program's reader.

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <sodium.h>
#include <stdexcept>

struct TestSigner {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  QByteArray keyId; // 8 bytes, as stored

  // A random key id, or the 8 bytes given.
  explicit TestSigner(const QByteArray &id = {}) : keyId(id) {
    if (sodium_init() < 0)
      throw std::runtime_error("libsodium does not start");
    crypto_sign_keypair(publicKey, secretKey);
    if (keyId.isEmpty()) {
      keyId.resize(8);
      randombytes_buf(keyId.data(), size_t(keyId.size()));
    }
  }
  TestSigner(const TestSigner &) = delete;
  ~TestSigner() { sodium_memzero(secretKey, sizeof secretKey); }

  // As minisign shows it: the id as a little-endian number in upper-case hex, no leading zeros.
  QString KeyIdText() const {
    QByteArray reversed = keyId;
    std::reverse(reversed.begin(), reversed.end());
    QString text = QString::fromLatin1(reversed.toHex().toUpper());
    while (text.size() > 1 && text.startsWith(QLatin1Char('0')))
      text.remove(0, 1);
    return text;
  }

  QByteArray PublicKeyFile() const {
    return "untrusted comment: minisign public key " + KeyIdText().toLatin1() + "\n" +
           (QByteArray("Ed") + keyId + Bytes(publicKey, sizeof publicKey)).toBase64() + "\n";
  }

  QByteArray Detached(const QByteArray &message) const {
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()),
                         secretKey);
    return signature;
  }

  // The signature file of `file`: "ED" signs its BLAKE2b-512 hash, "Ed" its bytes.
  QByteArray SignatureFile(const QByteArray &file, const QByteArray &trustedComment, bool prehashed = true) const {
    QByteArray message = file;
    if (prehashed) {
      message.resize(crypto_generichash_BYTES_MAX);
      crypto_generichash(reinterpret_cast<unsigned char *>(message.data()), size_t(message.size()),
                         reinterpret_cast<const unsigned char *>(file.constData()), size_t(file.size()), nullptr, 0);
    }
    const QByteArray signature = Detached(message);
    return "untrusted comment: signature from a test key\n" +
           (QByteArray(prehashed ? "ED" : "Ed") + keyId + signature).toBase64() +
           "\ntrusted comment: " + trustedComment + "\n" + Detached(signature + trustedComment).toBase64() + "\n";
  }

private:
  static QByteArray Bytes(const unsigned char *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
  }
};
