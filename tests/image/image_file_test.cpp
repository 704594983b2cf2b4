// Reading the chosen file: only regular files of a bounded size.
#include "base/exception.h"
#include "image/image_file.h"
#include "support/test_helpers.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace image;

namespace {

QString ErrorOf(const QString &path) {
  try {
    ReadImageFile(path);
  } catch (const base::EFOpenError &e) {
    return e.Message();
  }
  return QStringLiteral("(no error)");
}

TEST(ImageFile, ReadsTheWholeFile) {
  ProgramFolder folder;
  QByteArray bytes;
  for (int i = 0; i < 70000; ++i)
    bytes.append(char(i * 31));
  folder.Write(QStringLiteral("fw.hex"), bytes);
  EXPECT_EQ(ReadImageFile(folder.File(QStringLiteral("fw.hex"))), bytes);
  folder.Write(QStringLiteral("empty.hex"), QByteArray());
  EXPECT_TRUE(ReadImageFile(folder.File(QStringLiteral("empty.hex"))).isEmpty());
}

TEST(ImageFile, MissingFile) {
  ProgramFolder folder;
  const QString path = folder.File(QStringLiteral("gone.hex"));
  const QString text = ErrorOf(path);
  EXPECT_TRUE(text.startsWith(QStringLiteral("Cannot open file \"") + path + QStringLiteral("\". ")))
      << text.toStdString();
  EXPECT_GT(text.size(), QStringLiteral("Cannot open file \"\". ").size() + path.size());
}

TEST(ImageFile, FolderIsRefused) {
  ProgramFolder folder;
  EXPECT_EQ(ErrorOf(folder.dir.path()),
            QStringLiteral("Cannot open file \"%1\". It is not a regular file.").arg(folder.dir.path()));
}

TEST(ImageFile, DeviceIsRefusedWithoutReading) {
  // Reading /dev/zero would never end.
  if (!QFileInfo::exists(QStringLiteral("/dev/zero")))
    GTEST_SKIP() << "no /dev/zero";
  EXPECT_EQ(ErrorOf(QStringLiteral("/dev/zero")),
            QStringLiteral("Cannot open file \"/dev/zero\". It is not a regular file."));
}

TEST(ImageFile, SizeLimit) {
  ProgramFolder folder;
  const QString path = folder.File(QStringLiteral("big.hex"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(kMaxImageFileSize));
  }
  EXPECT_EQ(ReadImageFile(path).size(), kMaxImageFileSize);
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(kMaxImageFileSize + 1));
  }
  EXPECT_EQ(
      ErrorOf(path),
      QStringLiteral("Cannot open file \"%1\". It is larger than 8 MiB, too large for a firmware file.").arg(path));
}

} // namespace
