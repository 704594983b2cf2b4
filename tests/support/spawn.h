#pragma once
// Runs a program to its end, its output (stdout and stderr) collected. Not
// QProcess: its vfork-style start runs code in the child that leaves the
// thread checker ignoring the parent's locks afterwards, so a test that
// starts a program could not be checked for races. posix_spawn does not.

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

struct SpawnResult {
  bool started = false;
  int exitCode = -1;  // when it exited
  int signal = 0;     // when a signal ended it
  long maxRssKiB = 0; // the most memory it held at once
  QByteArray output;
  bool Ok() const { return started && signal == 0 && exitCode == 0; }
};

// The arguments as bytes, passed on unchanged (also names that are no text).
inline SpawnResult SpawnBytes(const QString &program, const std::vector<QByteArray> &args,
                              const QString &workingDir = QString()) {
  SpawnResult result;
  QTemporaryFile out;
  if (!out.open())
    return result;
  const QByteArray outPath = QFile::encodeName(out.fileName());
  const QByteArray dir = QFile::encodeName(workingDir);
  std::vector<QByteArray> strings{QFile::encodeName(program)};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (QByteArray &s : strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (!dir.isEmpty())
    posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0)
    return result;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.started = true;
  result.maxRssKiB = usage.ru_maxrss;
  if (WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.signal = WTERMSIG(status);
  result.output = out.readAll();
  return result;
}

inline SpawnResult Spawn(const QString &program, const QStringList &args, const QString &workingDir = QString()) {
  std::vector<QByteArray> bytes;
  for (const QString &a : args)
    bytes.push_back(a.toLocal8Bit());
  return SpawnBytes(program, bytes, workingDir);
}
