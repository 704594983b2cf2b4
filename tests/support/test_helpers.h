#pragma once
// Helpers shared by the tests: temporary program folders and event pumping.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

// Processes events until `done` holds or the time runs out; returns `done()`.
// The time is a bound for a test that fails, never a guess at how long
// something takes: to show that nothing more happens, wait for an event that
// proves it (MemorySerialLayer::Settle, a later reply) or move a ManualClock.
inline bool PumpUntil(const std::function<bool()> &done, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired())
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

// A program folder of its own, with the folder path ending in '/'.
struct ProgramFolder {
  QTemporaryDir dir;
  QString Path() const { return dir.path() + QLatin1Char('/'); }
  QString File(const QString &name) const { return dir.filePath(name); }
  void Write(const QString &name, const QByteArray &bytes) const {
    QFile f(File(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
  }
  QByteArray Read(const QString &name) const {
    QFile f(File(name));
    if (!f.open(QIODevice::ReadOnly))
      return {};
    return f.readAll();
  }
};

// Path of a file from the source tree (fixtures) or the build's bin folder.
inline QString SourcePath(const QString &relative) {
  return QStringLiteral(KAVRIN_SOURCE_DIR) + QLatin1Char('/') + relative;
}
inline QString BinPath(const QString &relative) { return QStringLiteral(KAVRIN_BIN_DIR) + QLatin1Char('/') + relative; }
