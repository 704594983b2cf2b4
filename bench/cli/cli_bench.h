#pragma once
// What the command-line benchmarks share: the HEX file they load, and
// kavrin-cli run as a child whose wall time and resource use are taken.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace cli_bench {

// A HEX file of 32 KiB of data, 16 bytes a record.
inline QByteArray FullImageHex() {
  QByteArray hex;
  for (uint32_t a = 0; a < 0x8000; a += 16) {
    uint8_t sum = uint8_t(16 + (a >> 8) + (a & 0xFF));
    QByteArray line = ":10" + QByteArray::number(a, 16).rightJustified(4, '0').toUpper() + "00";
    for (uint32_t i = 0; i < 16; ++i) {
      const uint8_t b = uint8_t((a + i) * 7);
      line += QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
      sum = uint8_t(sum + b);
    }
    hex += line + QByteArray::number(uint8_t(-sum), 16).rightJustified(2, '0').toUpper() + "\r\n";
  }
  return hex + ":00000001FF\r\n";
}

struct CliProcess {
  bool started = false;
  int status = -1;        // its exit status; -1 when it did not start or was killed
  double wallSeconds = 0; // from the spawn to its end
  rusage usage{};         // from wait4: CPU times, peak resident set
};

// Runs kavrin-cli with `args`, its standard output and error written into
// the files named (created or emptied; "/dev/null" to drop one).
inline CliProcess RunCli(const std::vector<std::string> &args, const QString &outPath, const QString &errPath) {
  std::vector<std::string> argv{std::string(KAVRIN_BIN_DIR) + "/kavrin-cli"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> raw;
  for (auto &a : argv)
    raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, QFile::encodeName(outPath).constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, QFile::encodeName(errPath).constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  CliProcess run;
  pid_t pid = -1;
  const auto start = std::chrono::steady_clock::now();
  const int failed = posix_spawn(&pid, raw[0], &fa, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (failed != 0)
    return run;
  run.started = true;
  int status = 0;
  while (wait4(pid, &status, 0, &run.usage) < 0 && errno == EINTR) {
  }
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

} // namespace cli_bench
