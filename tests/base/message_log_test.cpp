// Qt's own messages go to the log, out of what people read; the program's own
// still reach standard error.
#include "base/message_log.h"
#include "support/test_helpers.h"

#include <QFile>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(MessageLog, QtsOwnMessagesGoToTheLogAndOursToStandardError) {
  ProgramFolder folder;
  const QString log = folder.File(QStringLiteral("state/kavrin.log"));
  const QString err = folder.File(QStringLiteral("stderr.txt"));
  QtMessageHandler before = qInstallMessageHandler(nullptr);
  base::KeepQtMessagesInLog(log);
  const int saved = ::dup(STDERR_FILENO);
  FILE *captured = std::fopen(QFile::encodeName(err).constData(), "w");
  ASSERT_TRUE(captured);
  ::dup2(::fileno(captured), STDERR_FILENO);
  qWarning("Unable to free statement: server closed the connection unexpectedly");
  qWarning("kavrin-cli: records: Production records cannot reach u@h:5432/d");
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::fclose(captured);
  qInstallMessageHandler(before);
  EXPECT_EQ(folder.Read(QStringLiteral("stderr.txt")),
            QByteArray("kavrin-cli: records: Production records cannot reach u@h:5432/d\n"));
  const QByteArray kept = folder.Read(QStringLiteral("state/kavrin.log"));
  EXPECT_TRUE(kept.endsWith(" warning: Unable to free statement: server closed the connection unexpectedly\n")) << kept.data();
  EXPECT_FALSE(kept.contains("kavrin-cli")) << kept.data();
}
