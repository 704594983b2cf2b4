// kavrin-cli loading a gang of simulated boxes paced at 38400 baud, against
// one box loaded alone:
//   bench_cli_gang [--boxes 8] [--runs 3] [--fast-replies]
// Prints each box's time in the gang against its ideal (the same load on one
// box alone, median of --runs), the pure line time of a load (32840 bytes at
// 3840 bytes/s), and the command line's own CPU time against its wall time.
// Verdicts: every box within 1.03 of its ideal; CPU under 2 % of the wall time
// per box; with --fast-replies, a box alone within 1.02 of the pure line time.
#include "cli_bench.h"
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
  const cli_bench::CliProcess process = cli_bench::RunCli(args, outPath, QStringLiteral("/dev/null"));
  CliRun run;
  run.status = process.status;
  if (!process.started)
    return run;
  run.wallSeconds = process.wallSeconds;
  run.cpuSeconds = Seconds(process.usage.ru_utime) + Seconds(process.usage.ru_stime);
  QFile out(outPath);
  out.open(QIODevice::ReadOnly);
  for (const QByteArray &line : out.readAll().split('\n')) {
    const QJsonObject e = QJsonDocument::fromJson(line).object();
    if (e.value("event").toString() == QLatin1String("result"))
      run.boxSeconds.emplace_back(e.value("port").toString().toStdString(), e.value("seconds").toDouble());
  }
  return run;
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
    f.write(cli_bench::FullImageHex());
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
