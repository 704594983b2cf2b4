#include "base/small_file.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace base {

std::optional<QByteArray> ReadSmallFile(const QString &path, qint64 most, QString *error, bool *tooLarge,
                                        mode_t *mode) {
  if (tooLarge)
    *tooLarge = false;
  const auto fail = [&](const QString &why) {
    *error = why;
    return std::nullopt;
  };
  const auto large = [&] {
    if (tooLarge)
      *tooLarge = true;
    return fail(QStringLiteral("larger than %1 bytes").arg(most));
  };
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return fail(QString::fromLocal8Bit(std::strerror(errno)));
  QFile file;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    const int reason = errno;
    ::close(fd);
    return fail(QString::fromLocal8Bit(std::strerror(reason)));
  }
  if (S_ISDIR(st.st_mode))
    return fail(QStringLiteral("it is a folder"));
  if (!S_ISREG(st.st_mode))
    return fail(QStringLiteral("it is not a regular file"));
  if (mode)
    *mode = st.st_mode;
  if (st.st_size > most)
    return large();
  // One byte more than allowed: a file that grows while it is read is caught too.
  QByteArray bytes = file.read(most + 1);
  if (file.error() != QFileDevice::NoError)
    return fail(file.errorString());
  if (bytes.size() > most)
    return large();
  return bytes;
}

} // namespace base
