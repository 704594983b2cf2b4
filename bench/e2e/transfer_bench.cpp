// Transfer efficiency: a whole load through the simulated box paced at 38400
// baud, timed from the click of the load button (the file dialog answered at
// once) to the success message, against the ideal: every byte of both
// directions at 3840 bytes/s, plus per reply the 100 ms of silence that ends a
// burst at the program and the box's think time.
//
//   bench_e2e_transfer [--runs N] [--think MS]
#include "bench_support.h"
#include "e2e/ui/e2e_session.h"

#include <QPushButton>
#include <cstdio>
#include <optional>

namespace {

constexpr double kLineBytesPerSecond = 3840;
constexpr double kBurstEndSeconds = 0.100;
constexpr double kTarget = 1.02;

struct Figures {
  double toBox = 0;
  double fromBox = 0;
  double replies = 0;
  double wall = 0;
  double ideal = 0;
  std::string check; // empty when the image arrived exactly
};

// One load on a fresh program and simulator; nothing when it did not succeed.
std::optional<Figures> MeasureOneLoad(long thinkMs, uint32_t seed) {
  e2e::Session s;
  if (const std::string error = s.Start({"--paced", "--think", std::to_string(thinkMs)}); !error.empty()) {
    std::printf("  %s\n", error.c_str());
    return std::nullopt;
  }
  const QString setAnswer = s.SetMode(0);
  if (setAnswer != QStringLiteral("设置成功!请重新 选择型号及加载/烧写文件")) {
    std::printf("  the box did not confirm the set frame: %s\n", qPrintable(setAnswer));
    return std::nullopt;
  }
  const e2e::Image image = e2e::RandomImage(seed);
  s.dialogs.fileAnswers.push_back(s.WriteHexFile(QStringLiteral("paced.hex"), image));
  s.NewLogRecords(); // the set exchange is not part of the load
  const size_t before = s.dialogs.messageTimes.size();

  const auto start = e2e::SteadyClock::now();
  s.form1->Button2->click();
  if (!s.WaitForMessages(qsizetype(before), 60000) || s.dialogs.Messages().back() != QStringLiteral("文件烧写成功 ")) {
    std::printf("  the load did not succeed\n");
    return std::nullopt;
  }
  Figures f;
  f.wall = std::chrono::duration<double>(s.dialogs.messageTimes.back() - start).count();

  const auto log = s.NewLogRecords();
  f.check = e2e::Session::CheckBlocks(e2e::Session::Blocks(log), image, {0, 1, 2, 3, 4, 5, 6, 7});
  const double requests = double(e2e::Session::OfKind(log, "tx", "request").size());
  const double statuses = double(e2e::Session::OfKind(log, "tx", "status").size());
  f.toBox = 6 + 4120 + 4102 * requests;
  f.fromBox = 6 * requests + 5 * statuses;
  f.replies = requests + statuses;
  f.ideal = (f.toBox + f.fromBox) / kLineBytesPerSecond + f.replies * (kBurstEndSeconds + double(thinkMs) / 1000);
  return f;
}

} // namespace

int main(int argc, char **argv) {
  bench::UseOffscreenPlatform();
  QApplication app(argc, argv);
  QApplication::setApplicationName(app::kApplicationTitle);
  const long runs = bench::Option(argc, argv, "--runs", 3);
  const long thinkMs = bench::Option(argc, argv, "--think", 0);

  std::printf("transfer efficiency: paced box, think %ld ms, %ld runs\n", thinkMs, runs);
  std::vector<double> ratios;
  bool exact = true;
  for (long run = 0; run < runs; ++run) {
    const std::optional<Figures> f = MeasureOneLoad(thinkMs, uint32_t(1000 + run));
    if (!f)
      return 1;
    exact = exact && f->check.empty();
    ratios.push_back(f->wall / f->ideal);
    std::printf("  run %ld: %.0f bytes out, %.0f bytes in, %.0f replies; wall %.3f s, ideal %.3f s, ratio %.4f %s\n",
                run + 1, f->toBox, f->fromBox, f->replies, f->wall, f->ideal, ratios.back(), f->check.c_str());
    std::fflush(stdout);
  }
  const double median = bench::Quantile(ratios, 0.5);
  std::printf("transfer efficiency: median ratio %.4f (worst %.4f), target <= %.2f: %s; images %s\n", median,
              bench::Quantile(ratios, 1.0), kTarget, median <= kTarget ? "PASS" : "FAIL",
              exact ? "exact" : "NOT EXACT");
  return median <= kTarget && exact ? 0 : 1;
}
