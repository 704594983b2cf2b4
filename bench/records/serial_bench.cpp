// Serial numbers drawn from a PostgreSQL server (a cluster of its own on
// 127.0.0.1, syncing its disk as in production): what a unit waits for its
// number from the engine's provider (the store's work runs on the provider's
// own thread while units are programmed; units here are 50 ms apart, real ones
// take seconds); what drawing costs when done synchronously (a station's block
// reserved when it runs out, then the number marked allocated and used), for
// one station alone; then eight
// stations drawing at once, each with its own connection: units per second,
// the per-unit figures under that load, and whether every number is distinct.
// Usage: bench_records_serial [units per station [block size]]
#include "records/recorder.h"
#include "records/serial_pool.h"
#include "session/serial_numbers.h"
#include "support/postgres_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace {

struct Figures {
  std::vector<double> unitMs;
  std::vector<qint64> numbers;
  QString error;
};

// One station's run of `units` units: each one's drawing time in ms.
Figures Station(const records::StoreLocation &where, const QString &name, int units, int block) {
  Figures f;
  records::db::Connection c(where, records::db::Connection::Target::Store, "bench");
  const records::PoolStation s{QStringLiteral("bench"), QStringLiteral("count start=1 step=1"), -1,
                               QStringLiteral("bench-host"), name};
  std::deque<qint64> reserve;
  QString error;
  qint64 skipped = 0, failed = 0;
  if (!records::ReclaimLeftovers(c, s, &skipped, &failed, &error)) {
    f.error = error;
    return f;
  }
  for (int u = 0; u < units; ++u) {
    QElapsedTimer t;
    t.start();
    if (reserve.empty()) {
      std::vector<qint64> got;
      if (!records::ReserveNumbers(c, s, block, &got, &error)) {
        f.error = error;
        return f;
      }
      reserve.assign(got.begin(), got.end());
    }
    const qint64 idx = reserve.front();
    reserve.pop_front();
    const QString value = QString::number(idx + 1);
    if (!records::MarkNumber(c, s, idx, records::kNumberAllocated, value, name, &error) ||
        !records::MarkNumber(c, s, idx, records::kNumberUsed, value, name, &error)) {
      f.error = error;
      return f;
    }
    f.unitMs.push_back(double(t.nsecsElapsed()) / 1e6);
    f.numbers.push_back(idx);
  }
  records::ReleaseNumbers(c, s, &skipped, &error);
  return f;
}

void Print(const char *what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms)
    sum += m;
  const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
  std::printf("  %s: mean %.2f ms, median %.2f ms, 99th percentile %.2f ms, worst %.2f ms (%zu units)\n", what,
              sum / double(ms.size()), at(0.5), at(0.99), ms.back(), ms.size());
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int units = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
  const int block = argc > 2 ? std::clamp(atoi(argv[2]), 1, 1000) : 10;
  constexpr int kStations = 8;
  if (PostgresServer::BinDir().isEmpty()) {
    std::fprintf(stderr, "the PostgreSQL server tools are not installed\n");
    return 1;
  }
  PostgresServer server(true);
  QString error;
  if (!server.Start(&error) || !server.CreateDatabase(QStringLiteral("bench"), &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const auto where = records::ParseStoreUrl(server.Url(QStringLiteral("bench")), nullptr, QString());
  {
    // The schema is made by the first connection, not counted.
    records::db::Connection c(*where, records::db::Connection::Target::Store, "schema");
    if (!c.Open(&error)) {
      std::fprintf(stderr, "%s\n", qPrintable(error));
      return 1;
    }
  }
  std::vector<double> waited;
  {
    numbering::SerialPlan plan;
    plan.address = 0x7F00;
    plan.blockSize = block;
    records::Recorder recorder(*records::ParseStoreUrl(server.Url(QStringLiteral("bench")), nullptr,
                                                       QDir::temp().filePath(QStringLiteral("bench-serial-spool.sqlite"))));
    session::SerialNumbers numbers(plan, {}, {}, QStringLiteral("bench-provider"), &recorder,
                                   QStringLiteral("provider"));
    for (int u = 0; u < units; ++u) {
      session::UnitStatus status;
      status.box = 1;
      status.unitUid = QStringLiteral("unit-%1").arg(u);
      bool got = false;
      QElapsedTimer t;
      t.start();
      numbers.Provide({1, QStringLiteral("p"), status.unitUid, QStringLiteral("bench-provider"), QString()},
                      [&](session::UnitData data) {
                        got = data.refusal.isEmpty();
                        if (!got)
                          std::fprintf(stderr, "%s\n", qPrintable(data.refusal));
                        waited.push_back(double(t.nsecsElapsed()) / 1e6);
                      });
      while (waited.size() < size_t(u + 1))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
      if (!got)
        return 1;
      status.state = session::UnitState::Pass;
      numbers.Ended(status);
      QElapsedTimer between;
      between.start();
      while (!between.hasExpired(50))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
  }
  std::printf("Serial numbers on PostgreSQL, blocks of %d:\n", block);
  Print("what a unit waits for its number from the provider (the first waits for the first block)", waited);

  const Figures alone = Station(*where, QStringLiteral("alone"), units, block);
  if (!alone.error.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(alone.error));
    return 1;
  }
  Print("drawn synchronously, one station alone, per unit", alone.unitMs);

  std::vector<Figures> runs(kStations);
  QElapsedTimer total;
  total.start();
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] { runs[size_t(s)] = Station(*where, QStringLiteral("station-%1").arg(s), units, block); });
  for (auto &t : stations)
    t.join();
  const double seconds = double(total.nsecsElapsed()) / 1e9;
  std::vector<double> all;
  std::set<qint64> distinct;
  size_t drawn = 0;
  for (const Figures &f : runs) {
    if (!f.error.isEmpty()) {
      std::fprintf(stderr, "%s\n", qPrintable(f.error));
      return 1;
    }
    all.insert(all.end(), f.unitMs.begin(), f.unitMs.end());
    distinct.insert(f.numbers.begin(), f.numbers.end());
    drawn += f.numbers.size();
  }
  std::printf("%d stations x %d units at once: %zu numbers drawn, %zu distinct, %.2f s, %.0f units/s\n", kStations,
              units, drawn, distinct.size(), seconds, double(drawn) / seconds);
  Print("drawn synchronously, per unit under that load", all);
  return drawn == distinct.size() ? 0 : 1;
}
