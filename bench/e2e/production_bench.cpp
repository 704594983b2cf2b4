// The production view with a gang of simulated boxes paced at 38400 baud: each
// box programs one unit alone, then all of them at once from the start key.
// Judged: each box's time in the gang at most 1.03 x its time alone, the GUI
// thread's CPU at most 10 % of one core while the gang runs, and every tile
// redrawn at least 10 times a second.
//
//   bench_e2e_production [--boxes N (16)] [--alone N (every box)]
#include "bench_support.h"
#include "e2e/ui/e2e_session.h"

#include "app/production/box_tile.h"
#include "app/production/production_window.h"
#include "job/job_file.h"

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <ctime>

using namespace app;
using image::FirmwareFile;
using image::FirmwareFormat;
using image::ReadFirmware;
using serial::MakePlatformSerialLayer;

namespace {

constexpr double kMostSlowdown = 1.03;
constexpr double kMostGuiCpu = 0.10;
constexpr double kLeastRedrawsPerSecond = 10;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

using Seconds = std::chrono::duration<double>;

// Runs the event loop until every box in `boxes` has ended its unit; the
// seconds each took from `start`, or empty when one did not end in time.
std::vector<double> RunUntilEnded(session::ProductionRun &run, const std::vector<int> &boxes,
                                  e2e::SteadyClock::time_point start, const std::function<void()> &kick) {
  std::vector<double> took(size_t(run.BoxCount() + 1), -1);
  size_t left = boxes.size();
  QEventLoop loop;
  const auto connection =
      QObject::connect(&run, &session::ProductionRun::UnitEnded, &loop, [&](const session::UnitStatus &u) {
        took[size_t(u.box)] = Seconds(e2e::SteadyClock::now() - start).count();
        if (--left == 0)
          loop.quit();
      });
  QTimer::singleShot(180000, &loop, &QEventLoop::quit);
  kick();
  if (left > 0)
    loop.exec();
  QObject::disconnect(connection);
  return left == 0 ? took : std::vector<double>();
}

} // namespace

int main(int argc, char **argv) {
  bench::UseOffscreenPlatform();
  QApplication app(argc, argv);
  const int boxes = int(bench::Option(argc, argv, "--boxes", 16));
  const int alone = int(bench::Option(argc, argv, "--alone", boxes));

  ProgramFolder folder;
  std::vector<std::unique_ptr<boxsim_test::BoxSim>> sims;
  QStringList ports;
  for (int i = 1; i <= boxes; ++i) {
    const QString link = folder.File(QStringLiteral("box%1").arg(i));
    sims.push_back(std::make_unique<boxsim_test::BoxSim>(
        std::vector<std::string>{"--paced", "--link", link.toStdString(), "--exit-with-parent"}));
    if (!sims.back()->Started()) {
      std::printf("FAIL: simulator %d did not start\n", i);
      return 1;
    }
    ports << link;
  }
  folder.Write(QStringLiteral("firmware.hex"), QByteArray::fromStdString(e2e::IntelHex(e2e::RandomImage(3))));
  const FirmwareFile firmware = ReadFirmware(folder.File(QStringLiteral("firmware.hex")), FirmwareFormat::ByContent);
  job::Job made;
  made.name = QStringLiteral("Gang");
  made.firmware = QStringLiteral("firmware.hex");
  made.firmwareSha256 = firmware.sha256;
  made.imageChecksum = firmware.checksumCaption;
  made.mode = base::BoxMode::Online;
  made.lotSize = 1000;
  const QString jobPath = folder.File(QStringLiteral("gang.kavjob"));
  if (const QString error = job::WriteJob(made, jobPath); !error.isEmpty()) {
    std::printf("FAIL: %s\n", qPrintable(error));
    return 1;
  }
  folder.Write(QStringLiteral("sysset.ini"), "[comx]\nnum=/nonexistent/kavrin-port\n[records]\nurl=off\n"
                                             "[production]\nmute=1\n");
  e2e::TimedDialogs dialogs;
  Program program(dialogs, MakePlatformSerialLayer(), folder.Path());
  if (!program.Form1->OpenJob(jobPath, ports)) {
    std::printf("FAIL: %s\n", qPrintable(dialogs.Errors().join('\n')));
    return 1;
  }
  ProductionWindow *view = program.Form1->Production();
  view->activateWindow();
  if (!QTest::qWaitForWindowActive(view))
    std::printf("  (the view did not become active; keys go to the view itself)\n");
  session::ProductionRun &run = view->Run();

  std::printf("production view, %d boxes paced at 38400 baud, one unit each (set + 32 KiB load)\n", boxes);
  std::vector<double> aloneSeconds(size_t(boxes + 1), -1);
  for (int box = 1; box <= alone; ++box) {
    const auto start = e2e::SteadyClock::now();
    const std::vector<double> took = RunUntilEnded(run, {box}, start, [&] { run.Start(box); });
    if (took.empty() || run.Unit(box).state != session::UnitState::Pass) {
      std::printf("FAIL: box %d alone did not pass (%s)\n", box, qPrintable(StateDescription(run.Unit(box))));
      return 1;
    }
    aloneSeconds[size_t(box)] = took[size_t(box)];
  }

  std::vector<int> paintsBefore;
  for (int box = 1; box <= boxes; ++box)
    paintsBefore.push_back(view->Tile(box)->Paints());
  std::vector<int> all;
  for (int box = 1; box <= boxes; ++box)
    all.push_back(box);
  const double cpuBefore = ThreadCpuSeconds();
  const auto start = e2e::SteadyClock::now();
  const std::vector<double> gang = RunUntilEnded(run, all, start, [&] {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : view->View(), Qt::Key_Space);
  });
  const double wall = Seconds(e2e::SteadyClock::now() - start).count();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  if (gang.empty()) {
    std::printf("FAIL: the gang did not end within 180 s\n");
    return 1;
  }

  bool ok = true;
  double worstRatio = 0;
  double leastRedraws = 1e9;
  for (int box = 1; box <= boxes; ++box) {
    const bool passed = run.Unit(box).state == session::UnitState::Pass;
    const double redraws = double(view->Tile(box)->Paints() - paintsBefore[size_t(box - 1)]) / gang[size_t(box)];
    leastRedraws = std::min(leastRedraws, redraws);
    const double a = aloneSeconds[size_t(box)];
    const double ratio = a > 0 ? gang[size_t(box)] / a : 0;
    worstRatio = std::max(worstRatio, ratio);
    std::printf("  box %2d: alone %6.2f s, in the gang %6.2f s (x%.3f), %5.1f redraws/s, %s\n", box, a,
                gang[size_t(box)], ratio, redraws, qPrintable(StateDescription(run.Unit(box))));
    ok = ok && passed;
  }
  const double cpuShare = cpu / wall;
  std::printf("  gang: %.2f s wall, GUI thread %.2f s CPU (%.1f %% of one core)\n", wall, cpu, 100 * cpuShare);
  const bool timeOk = alone == 0 || worstRatio <= kMostSlowdown;
  const bool cpuOk = cpuShare <= kMostGuiCpu;
  const bool redrawOk = leastRedraws >= kLeastRedrawsPerSecond;
  std::printf("%s: production view: slowest box x%.3f of its time alone (at most x%.2f), GUI thread %.1f %% "
              "(at most %.0f %%), tiles redrawn at least %.1f times a second (at least %.0f)%s\n",
              ok && timeOk && cpuOk && redrawOk ? "PASS" : "FAIL", worstRatio, kMostSlowdown, 100 * cpuShare,
              100 * kMostGuiCpu, leastRedraws, kLeastRedrawsPerSecond, ok ? "" : "; a unit did not pass");
  return ok && timeOk && cpuOk && redrawOk ? 0 : 1;
}
