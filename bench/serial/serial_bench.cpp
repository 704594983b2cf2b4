// Serial link benchmarks over a pseudo-terminal (the component opens the
// slave, the benchmark plays the box on the master):
//  1. idle: the port open and nothing on the line for 5 s; CPU time used and
//     wake-ups (voluntary context switches of all threads) per second;
//  2. latency: from the end of the 100 ms silence that closes a burst to the
//     OnReceiveData call on the GUI thread; median, 90th percentile, maximum.
#include "serial/comm.h"
#include "serial/posix_serial.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {
double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Voluntary context switches summed over the process's threads: each is a
// thread going to sleep, so it counts the wake-ups before it.
long WakeUps() {
  long total = 0;
  const QDir tasks(QStringLiteral("/proc/self/task"));
  for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile status(tasks.filePath(tid) + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
      continue;
    for (const QByteArray &line : status.readAll().split('\n'))
      if (line.startsWith("voluntary_ctxt_switches:"))
        total += line.mid(24).trimmed().toLong();
  }
  return total;
}

void RunFor(int ms) {
  QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(), &QCoreApplication::quit);
  QCoreApplication::exec();
}

struct Pty {
  int master = -1;
  QString slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
      slave = QString::fromLocal8Bit(ptsname(master));
  }
  ~Pty() {
    if (master >= 0)
      close(master);
  }
};

std::unique_ptr<serial::TComm> OpenOn(const Pty &pty) {
  auto comm = std::make_unique<serial::TComm>(nullptr, serial::MakePlatformSerialLayer());
  comm->SetCommName(pty.slave);
  comm->SetBaudRate(38400);
  comm->SetDtrControl(serial::TDtrControl::DtrDisable);
  comm->SetRtsControl(serial::TRtsControl::RtsDisable);
  comm->SetOutx_XonXoffFlow(false);
  comm->SetInx_XonXoffFlow(false);
  comm->OpenPort();
  return comm;
}

void IdleBench() {
  Pty pty;
  auto comm = OpenOn(pty);
  RunFor(300); // let both threads settle into their waits
  const double cpu0 = CpuMs();
  const long wake0 = WakeUps();
  const auto t0 = Clock::now();
  RunFor(5000);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = CpuMs() - cpu0;
  const long wakes = WakeUps() - wake0;
  comm->ClosePort();
  std::printf("idle open port: %.1f s, CPU %.2f ms (%.3f %%), %ld wake-ups (%.2f per second, all threads)\n", seconds,
              cpu, cpu / (seconds * 10.0), wakes, wakes / seconds);
}

void LatencyBench() {
  Pty pty;
  auto comm = OpenOn(pty);
  const int rounds = 40;
  std::vector<double> latencies;
  Clock::time_point lastWrite{};
  comm->OnReceiveData = [&](serial::TComm *, const uint8_t *, uint16_t) {
    const auto silenceEnd = lastWrite + std::chrono::milliseconds(comm->ReadIntervalTimeout());
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - silenceEnd).count());
    if (static_cast<int>(latencies.size()) == rounds)
      QCoreApplication::quit();
    else
      QTimer::singleShot(20, [&] {
        const unsigned char reply[] = {0x55, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x16};
        if (write(pty.master, reply, sizeof reply) == static_cast<ssize_t>(sizeof reply))
          lastWrite = Clock::now();
      });
  };
  QTimer::singleShot(200, [&] {
    const unsigned char reply[] = {0x55, 0x01};
    if (write(pty.master, reply, sizeof reply) == static_cast<ssize_t>(sizeof reply))
      lastWrite = Clock::now();
  });
  QTimer::singleShot(60000, QCoreApplication::instance(), &QCoreApplication::quit);
  QCoreApplication::exec();
  comm->ClosePort();
  if (latencies.empty()) {
    std::printf("latency: no burst arrived\n");
    return;
  }
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))]; };
  std::printf("silence end -> OnReceiveData on the GUI thread, %zu bursts: median %.3f ms, p90 %.3f ms, max %.3f ms "
              "(target: median under 2 ms)\n",
              latencies.size(), at(0.5), at(0.9), latencies.back());
}
} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  IdleBench();
  LatencyBench();
  return 0;
}
