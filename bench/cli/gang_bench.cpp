// kavrin-cli loading a gang of simulated boxes paced at 38400 baud, against
// one box loaded alone:
//   bench_cli_gang [--boxes 8] [--runs 3] [--fast-replies]
// Prints each box's time in the gang against its ideal (the same load on one
// box alone, median of --runs), the pure line time of a load (32840 bytes at
// 3840 bytes/s), and the command line's own CPU time against its wall time.
// Verdicts: every box within 1.03 of its ideal; CPU under 2 % of the wall time
// per box; with --fast-replies, a box alone within 1.02 of the pure line time.
#include "tools/boxsim_process.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

constexpr double kLineBytesPerSecond = 3840.0;
constexpr double kLoadBytes = 6 + 4120 + 7 * 4102; // announce, block 0, blocks 1..7

long Option(int argc, char **argv, const char *name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0)
      return std::strtol(argv[i + 1], nullptr, 10);
  return fallback;
}
bool Flag(int argc, char **argv, const char *name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0)
      return true;
  return false;
}

struct CliRun {
  int status = -1;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  std::vector<std::pair<std::string, double>> boxSeconds; // port, seconds of its result event
};

double Seconds(const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

// Runs kavrin-cli with its standard output into a file; its CPU time from wait4.
CliRun RunCli(const std::vector<std::string> &args, const QString &outPath) {
  std::vector<std::string> argv{std::string(KAVRIN_BIN_DIR) + "/kavrin-cli"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> raw;
  for (auto &a : argv)
    raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, outPath.toLocal8Bit().constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  CliRun run;
  pid_t pid = -1;
  const auto start = boxsim_test::Clock::now();
  if (posix_spawn(&pid, raw[0], &fa, nullptr, raw.data(), environ) != 0)
    return run;
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.wallSeconds = std::chrono::duration<double>(boxsim_test::Clock::now() - start).count();
  run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  QFile out(outPath);
  out.open(QIODevice::ReadOnly);
  for (const QByteArray &line : out.readAll().split('\n')) {
    const QJsonObject e = QJsonDocument::fromJson(line).object();
    if (e.value("event").toString() == QLatin1String("result"))
      run.boxSeconds.emplace_back(e.value("port").toString().toStdString(), e.value("seconds").toDouble());
  }
  return run;
}

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
  const int boxes = int(Option(argc, argv, "--boxes", 8));
  const int runs = int(Option(argc, argv, "--runs", 3));
  const bool fast = Flag(argc, argv, "--fast-replies");
  QTemporaryDir dir;
  const QString hexPath = dir.filePath(QStringLiteral("full.hex"));
  {
    QFile f(hexPath);
    f.open(QIODevice::WriteOnly);
    f.write(FullImageHex());
  }
  std::vector<std::unique_ptr<boxsim_test::BoxSim>> sims;
  for (int i = 0; i < boxes; ++i) {
    sims.push_back(std::make_unique<boxsim_test::BoxSim>(std::vector<std::string>{"--paced", "--exit-with-parent"}));
    if (!sims.back()->Started()) {
      std::printf("cli gang: the simulator did not start\n");
      return 1;
    }
  }
  auto loadArgs = [&](const std::vector<size_t> &which) {
    std::vector<std::string> args{"load", "--file", hexPath.toStdString(), "--json", "--no-records"};
    if (fast)
      args.push_back("--fast-replies");
    for (size_t i : which)
      args.insert(args.end(), {"--port", sims[i]->Device()});
    return args;
  };
  const QString out = dir.filePath(QStringLiteral("events.jsonl"));

  // The ideal of each box: the same load on it alone.
  std::vector<double> ideal(size_t(boxes), 0);
  for (int b = 0; b < boxes; ++b) {
    std::vector<double> alone;
    for (int r = 0; r < runs; ++r) {
      const CliRun run = RunCli(loadArgs({size_t(b)}), out);
      if (run.status != 0 || run.boxSeconds.size() != 1) {
        std::printf("cli gang: a load on box %d alone failed (exit %d)\n", b, run.status);
        return 1;
      }
      alone.push_back(run.boxSeconds[0].second);
    }
    std::sort(alone.begin(), alone.end());
    ideal[size_t(b)] = alone[alone.size() / 2];
  }

  std::vector<size_t> all(static_cast<size_t>(boxes));
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = i;
  const CliRun gang = RunCli(loadArgs(all), out);
  if (gang.status != 0 || gang.boxSeconds.size() != size_t(boxes)) {
    std::printf("cli gang: the gang load failed (exit %d)\n", gang.status);
    return 1;
  }
  const double line = kLoadBytes / kLineBytesPerSecond;
  double worst = 0;
  for (const auto &[port, seconds] : gang.boxSeconds) {
    const size_t b = size_t(std::find_if(sims.begin(), sims.end(), [&](auto &s) { return s->Device() == port; }) -
                            sims.begin());
    const double ratio = seconds / ideal[b];
    worst = std::max(worst, ratio);
    std::printf("box %zu %s: %.2f s in the gang, %.2f s alone (ratio %.3f), %.3f of the pure line time\n", b,
                port.c_str(), seconds, ideal[b], ratio, seconds / line);
  }
  if (fast) {
    const double best = *std::min_element(ideal.begin(), ideal.end());
    std::printf("cli gang: fast replies, a box alone %.2f s = %.3f of the pure line time (aim <= 1.02): %s\n", best,
                best / line, best / line <= 1.02 ? "ok" : "MISSED");
  }
  const double cpuShare = gang.cpuSeconds / gang.wallSeconds;
  std::printf("cli gang: %d boxes%s, pure line time %.2f s, worst ratio to the box alone %.3f (goal <= 1.03): %s\n",
              boxes, fast ? " with fast replies" : "", line, worst, worst <= 1.03 ? "ok" : "MISSED");
  std::printf("cli gang: CPU %.3f s over %.2f s wall = %.2f %% in all, %.3f %% per box (goal < 2 %%): %s\n",
              gang.cpuSeconds, gang.wallSeconds, 100 * cpuShare, 100 * cpuShare / boxes,
              cpuShare / boxes < 0.02 ? "ok" : "MISSED");
  return worst <= 1.03 && cpuShare / boxes < 0.02 ? 0 : 1;
}
