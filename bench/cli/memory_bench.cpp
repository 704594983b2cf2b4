// What each --port of a kavrin-cli load costs in memory, beyond the image the
// gang shares:
//   bench_cli_memory [--boxes 100,1000] [--refuse 5000]
// Every box is a pseudo-terminal this program holds open and never answers,
// so all ports of a run are open at once until the time-out (1 s) ends them.
// The peak memory of the command line (its maximum resident set, from wait4)
// with one box is the shared part; each further box adds its own:
//   per box = (peak with N boxes - peak with 1 box) / (N - 1)
// Verdict: at most 256 KiB per box. Then a run with --refuse ports (that need
// not exist) shows whether they fit the open-files limit, or the message that
// refuses them before anything is opened.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr long kGoalKiBPerBox = 256;

const char *Option(int argc, char **argv, const char *name, const char *fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0)
      return argv[i + 1];
  return fallback;
}

struct Run {
  int status = -1;
  long maxRssKiB = 0;
  QByteArray errors; // its standard error
};

Run RunCli(const std::vector<std::string> &args, const QString &errPath) {
  std::vector<std::string> argv{std::string(KAVRIN_BIN_DIR) + "/kavrin-cli"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> raw;
  for (auto &a : argv)
    raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, QFile::encodeName(errPath).constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Run run;
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, raw[0], &fa, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (failed != 0)
    return run;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.maxRssKiB = usage.ru_maxrss;
  QFile err(errPath);
  if (err.open(QIODevice::ReadOnly))
    run.errors = err.readAll();
  return run;
}

// Pseudo-terminals held by this program; their slaves are the boxes' ports.
struct Terminals {
  std::vector<int> masters;
  std::vector<std::string> ports;
  explicit Terminals(int n) {
    for (int i = 0; i < n; ++i) {
      const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        if (fd >= 0)
          close(fd);
        return;
      }
      masters.push_back(fd);
      ports.emplace_back(ptsname(fd));
    }
  }
  ~Terminals() {
    for (int fd : masters)
      close(fd);
  }
};

// A HEX file of 32 KiB of data, 16 bytes a record.
QByteArray FullImageHex() {
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

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  std::vector<int> sizes;
  for (const QString &n : QString::fromLocal8Bit(Option(argc, argv, "--boxes", "100,1000")).split(QLatin1Char(',')))
    if (n.toInt() > 1)
      sizes.push_back(n.toInt());
  const int refuse = std::atoi(Option(argc, argv, "--refuse", "5000"));

  // This program holds one descriptor per box, the command line several.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  QTemporaryDir dir;
  const QString hexPath = dir.filePath(QStringLiteral("full.hex"));
  {
    QFile f(hexPath);
    if (!f.open(QIODevice::WriteOnly) || f.write(FullImageHex()) < 0) {
      std::printf("cli memory: cannot write %s\n", qPrintable(hexPath));
      return 1;
    }
  }
  const QString errPath = dir.filePath(QStringLiteral("stderr.txt"));
  auto peak = [&](int boxes) -> long {
    Terminals terminals(boxes);
    if (int(terminals.ports.size()) != boxes) {
      std::printf("cli memory: only %zu pseudo-terminals for %d boxes\n", terminals.ports.size(), boxes);
      return -1;
    }
    std::vector<std::string> args{"load", "--file", hexPath.toStdString(), "--timeout", "1", "--no-records"};
    for (const std::string &port : terminals.ports)
      args.insert(args.end(), {"--port", port});
    const Run run = RunCli(args, errPath);
    // Every box ends unanswered: 7 for one, 1 for a gang.
    if (run.status != (boxes == 1 ? 7 : 1)) {
      std::printf("cli memory: %d boxes ended with %d:\n%s\n", boxes, run.status, run.errors.left(2000).constData());
      return -1;
    }
    return run.maxRssKiB;
  };

  const long shared = peak(1);
  if (shared < 0)
    return 1;
  std::printf("cli memory: 1 box, peak %ld KiB (the program and the shared image)\n", shared);
  bool ok = true;
  for (int boxes : sizes) {
    const long all = peak(boxes);
    if (all < 0)
      return 1;
    const long perBox = (all - shared) / (boxes - 1);
    ok = ok && perBox <= kGoalKiBPerBox;
    std::printf("cli memory: %d boxes, peak %ld KiB, %ld KiB per box beyond the shared image (goal <= %ld): %s\n",
                boxes, all, perBox, kGoalKiBPerBox, perBox <= kGoalKiBPerBox ? "ok" : "MISSED");
  }

  if (refuse > 0) {
    std::vector<std::string> args{"verify", "--no-records"};
    for (int i = 0; i < refuse; ++i)
      args.insert(args.end(), {"--port", "/nonexistent/box" + std::to_string(i)});
    const Run run = RunCli(args, errPath);
    if (run.status == 2)
      std::printf("cli memory: %d ports refused up front, peak %ld KiB: %s", refuse, run.maxRssKiB,
                  run.errors.split('\n').value(0).append('\n').constData());
    else
      std::printf("cli memory: %d ports fit the open-files limit (%llu), ended with %d, peak %ld KiB\n", refuse,
                  static_cast<unsigned long long>(limit.rlim_cur), run.status, run.maxRssKiB);
  }
  return ok ? 0 : 1;
}
