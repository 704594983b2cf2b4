// Program latency: from the moment a block request has been delivered to the
// program (entry of its receive handler) to the first byte of the answering
// block on the line.
//
// Method: the program talks to the simulated box through a relay terminal of
// this benchmark (pty_relay.h), whose thread notes when each run of the
// program's bytes becomes readable on the line. The program's own receive
// event is wrapped by a hook that notes the delivery of every block request
// before passing it on. Both read the same steady clock in this process, so
// each latency is one subtraction, with microsecond resolution; a check that
// the first byte after each request is that block's number guards the pairing.
//
//   bench_e2e_latency [--loads N]
#include "bench_support.h"
#include "e2e/ui/e2e_session.h"
#include "pty_relay.h"

#include <QPushButton>
#include <cstdio>

namespace {

constexpr double kTargetMs = 2.0;

struct Delivery {
  e2e::SteadyClock::time_point at;
  uint8_t block = 0;
};

} // namespace

int main(int argc, char **argv) {
  bench::UseOffscreenPlatform();
  QApplication app(argc, argv);
  QApplication::setApplicationName(kApplicationTitle);
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

  std::vector<Delivery> deliveries;
  TComm *comm = s.form1->Comm1;
  comm->OnReceiveData = [&deliveries, original = comm->OnReceiveData](TComm *sender, const uint8_t *buffer,
                                                                      uint16_t length) {
    if (length == 6 && buffer[0] == 0x68 && buffer[3] == 0x55)
      deliveries.push_back({e2e::SteadyClock::now(), buffer[4]});
    original(sender, buffer, length);
  };

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
  for (const Delivery &d : deliveries) {
    const auto next = std::find_if(chunks.begin(), chunks.end(), [&](const auto &c) { return c.at >= d.at; });
    if (next == chunks.end() || next->first != d.block) {
      ++unpaired;
      continue;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(next->at - d.at).count());
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
