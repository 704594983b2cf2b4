#include "base/message_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace base {

namespace {

std::mutex logMutex;
QByteArray logPath; // encoded, set once before the handler is installed

const char *Kind(QtMsgType type) {
  switch (type) {
  case QtDebugMsg:
    return "debug";
  case QtInfoMsg:
    return "info";
  case QtWarningMsg:
    return "warning";
  case QtCriticalMsg:
    return "critical";
  case QtFatalMsg:
    return "fatal";
  }
  return "message";
}

// Plain system calls: anything of Qt's here could send a message of its own.
void Append(QtMsgType type, const QString &text) {
  const QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' ' + Kind(type) +
                          ": " + text.toUtf8() + '\n';
  thread_local bool appending = false;
  if (appending)
    return; // a message about the log itself
  appending = true;
  std::lock_guard lock(logMutex);
  struct stat st {};
  if (::stat(logPath.constData(), &st) == 0 && st.st_size > kMostLogBytes)
    ::rename(logPath.constData(), (logPath + ".1").constData());
  int fd = ::open(logPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 && errno == ENOENT) {
    // Its folder is made with the first message, so that a run with none makes nothing.
    QDir().mkpath(QFileInfo(QFile::decodeName(logPath)).absolutePath());
    fd = ::open(logPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  }
  if (fd >= 0) {
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    (void)written; // a log that cannot be written loses the line, nothing more
    ::close(fd);
  }
  appending = false;
}

void Handle(QtMsgType type, const QMessageLogContext &, const QString &text) {
  if (type == QtFatalMsg || text.startsWith(QLatin1String("kavrin"))) {
    // Written here rather than by Qt's handler, which may send it to the system's journal instead.
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    if (type == QtFatalMsg)
      std::abort();
    return;
  }
  Append(type, text);
}

} // namespace

void KeepQtMessagesInLog(const QString &path) {
  logPath = QFile::encodeName(path);
  qInstallMessageHandler(Handle);
}

} // namespace base
