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
#include "cli_bench.h"

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
  const cli_bench::CliProcess process = cli_bench::RunCli(args, QStringLiteral("/dev/null"), errPath);
  Run run;
  run.status = process.status;
  if (!process.started)
    return run;
  run.maxRssKiB = process.usage.ru_maxrss;
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
    if (!f.open(QIODevice::WriteOnly) || f.write(cli_bench::FullImageHex()) < 0) {
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
