// Program latency: from the moment a block request has been delivered to the
// program (its last byte on the line and the 100 ms of silence that end a
// burst) to the first byte of the answering block on the line.
//
// Method: the program talks to the simulated box through a relay terminal of
// this benchmark (pty_relay.h), whose thread notes when each run of the box's
// bytes has been handed to the program and when each run of the program's
// bytes becomes readable on the line, on one steady clock, so each latency is
// one subtraction (less the silence), with microsecond resolution; a check
// that the first byte after each request is that block's number guards the
// pairing.
//
//   bench_e2e_latency [--loads N]
#include "bench_support.h"
#include "e2e/ui/e2e_session.h"
#include "pty_relay.h"

#include <QPushButton>
#include <cstdio>

namespace {

constexpr double kTargetMs = 2.0;

// The silence after its last byte that makes a burst of the request.
constexpr auto kBurstSilence = std::chrono::milliseconds(100);

} // namespace

int main(int argc, char **argv) {
  bench::UseOffscreenPlatform();
  QApplication app(argc, argv);
  QApplication::setApplicationName(app::kApplicationTitle);
  const long loads = bench::Option(argc, argv, "--loads", 20);

  e2e::Session s;
  if (const std::string error = s.StartSimulator({}); !error.empty()) {
    std::printf("%s\n", error.c_str());
    return 1;
  }
  bench::PtyRelay relay;
  if (!relay.Start(s.sim->Device())) {
    std::printf("the relay terminal could not be set up\n");
    return 1;
  }
  s.StartProgram(relay.DevicePath());


  if (s.SetMode(1) != QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件")) {
    std::printf("the box did not confirm the set frame\n");
    return 1;
  }
  bool exact = true;
  for (long i = 0; i < loads; ++i) {
    const e2e::Image image = e2e::RandomImage(uint32_t(2000 + i));
    if (s.Load(image) != QStringLiteral("文件加载成功 ")) {
      std::printf("load %ld did not succeed\n", i + 1);
      return 1;
    }
    exact = exact &&
            e2e::Session::CheckBlocks(e2e::Session::Blocks(s.NewLogRecords()), image, {0, 1, 2, 3, 4, 5, 6, 7}).empty();
  }

  const auto chunks = relay.FromProgram();
  std::vector<double> ms;
  size_t unpaired = 0;
  for (const auto &request : relay.ToProgram()) {
    if (request.length != 6 || request.head[0] != 0x68 || request.head[3] != 0x55)
      continue;
    const auto delivered = request.at + kBurstSilence;
    const auto next = std::find_if(chunks.begin(), chunks.end(), [&](const auto &c) { return c.at >= request.at; });
    if (next == chunks.end() || next->first != request.head[4]) {
      ++unpaired;
      continue;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(next->at - delivered).count());
  }
  const double median = bench::Quantile(ms, 0.5);
  std::printf("program latency: %zu block requests over %ld loads (%zu not paired)\n", ms.size(), loads, unpaired);
  std::printf("  request delivered -> first byte of the block on the line: median %.3f ms, p90 %.3f ms, "
              "max %.3f ms, min %.3f ms\n",
              median, bench::Quantile(ms, 0.9), bench::Quantile(ms, 1.0), bench::Quantile(ms, 0.0));
  const bool pass = !ms.empty() && unpaired == 0 && median < kTargetMs && exact;
  std::printf("program latency: median %.3f ms, target < %.1f ms: %s; images %s\n", median, kTargetMs,
              pass ? "PASS" : "FAIL", exact ? "exact" : "NOT EXACT");
  s.Stop();
  return pass ? 0 : 1;
}
