#include "image/image_file.h"

#include "base/exception.h"

#include <QFile>
#include <QFileInfo>

namespace image {

QByteArray ReadImageFile(const QString &path) {
  const QFileInfo info(path);
  if (info.exists() && !info.isFile())
    throw base::EFOpenError(base::CannotOpenFileText(path, QStringLiteral("It is not a regular file.")));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw base::EFOpenError(base::CannotOpenFileText(path, file.errorString()));
  auto tooLarge = [&] {
    return base::EFOpenError(base::CannotOpenFileText(
        path, QStringLiteral("It is larger than %1 MiB, too large for a firmware file.").arg(kMaxImageFileSize >> 20)));
  };
  if (file.size() > kMaxImageFileSize)
    throw tooLarge();
  // Read one byte more than allowed: a file that grows while it is read is caught too.
  QByteArray bytes = file.read(kMaxImageFileSize + 1);
  if (bytes.size() > kMaxImageFileSize)
    throw tooLarge();
  if (file.error() != QFileDevice::NoError)
    throw base::EFOpenError(base::CannotOpenFileText(path, file.errorString()));
  return bytes;
}

} // namespace image
