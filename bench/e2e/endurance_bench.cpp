// Endurance: many loads in a row against the unpaced simulated box, each with a
// new image that the box's log must show exactly, and the program's resident
// memory (VmRSS) sampled after every load. After a warm-up the memory must stay
// flat: its growth from the end of the warm-up to the last load within a small
// constant. Built with -DKAVRIN_SANITIZE=address it also runs under
// LeakSanitizer, which reports at exit; the sanitizer's own bookkeeping grows
// the memory, so --no-memory-verdict leaves the memory figure unjudged there.
//
//   bench_e2e_endurance [--loads N] [--warmup N] [--no-memory-verdict]
#include "bench_support.h"
#include "e2e/ui/e2e_session.h"

#include <QFile>
#include <cstdio>

namespace {

constexpr long kFlatKiB = 1024; // allowed growth after the warm-up

} // namespace

int main(int argc, char **argv) {
  bench::UseOffscreenPlatform();
  QApplication app(argc, argv);
  QApplication::setApplicationName(app::kApplicationTitle);
  const long loads = bench::Option(argc, argv, "--loads", 200);
  const long warmup = std::min(loads, bench::Option(argc, argv, "--warmup", 20));
  const bool judgeMemory = !bench::Flag(argc, argv, "--no-memory-verdict");

  int status = 0;
  {
    e2e::Session s;
    if (const std::string error = s.Start({}); !error.empty()) {
      std::printf("%s\n", error.c_str());
      return 1;
    }
    if (s.SetMode(0) != QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件")) {
      std::printf("the box did not confirm the set frame\n");
      return 1;
    }
    s.NewLogRecords();
    long exactLoads = 0;
    long warmRss = 0;
    long peakRss = 0;
    std::vector<long> rss;
    const auto start = e2e::SteadyClock::now();
    for (long i = 0; i < loads; ++i) {
      const e2e::Image image = e2e::RandomImage(uint32_t(3000 + i));
      const QString message = s.Load(image, QStringLiteral("endure%1.hex").arg(i % 2));
      const std::string check =
          e2e::Session::CheckBlocks(e2e::Session::Blocks(s.NewLogRecords()), image, {0, 1, 2, 3, 4, 5, 6, 7});
      if (message == QStringLiteral("文件烧写成功 ") && check.empty())
        ++exactLoads;
      else
        std::printf("  load %ld: %s %s\n", i + 1, qPrintable(message), check.c_str());
      QFile::remove(s.folder.File(QStringLiteral("endure%1.hex").arg(i % 2)));
      s.dialogs.boxes.clear();
      s.dialogs.messageTimes.clear();
      rss.push_back(bench::ResidentKiB());
      if (i + 1 == warmup)
        warmRss = rss.back();
      if (i + 1 > warmup)
        peakRss = std::max(peakRss, rss.back());
      if ((i + 1) % 50 == 0)
        std::printf("  %ld loads, VmRSS %ld KiB\n", i + 1, rss.back());
      std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(e2e::SteadyClock::now() - start).count();
    const long growth = rss.back() - warmRss;
    const long peakGrowth = std::max(0L, peakRss - warmRss);
    std::printf("endurance: %ld/%ld loads exact in %.1f s (%.2f s per load)\n", exactLoads, loads, seconds,
                seconds / double(loads));
    std::printf("endurance: VmRSS at start of loads %ld KiB, after %ld warm-up loads %ld KiB, after %ld loads %ld "
                "KiB; growth after warm-up %ld KiB (peak %ld KiB), allowed %ld KiB: %s\n",
                rss.front(), warmup, warmRss, loads, rss.back(), growth, peakGrowth, kFlatKiB,
                !judgeMemory ? "not judged" : (peakGrowth <= kFlatKiB ? "PASS" : "FAIL"));
    if (exactLoads != loads || (judgeMemory && peakGrowth > kFlatKiB))
      status = 1;
  }
  // Everything the program made is gone here, so a leak check at exit sees only leaks.
  return status;
}
