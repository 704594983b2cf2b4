// Eight stations recording at once into one PostgreSQL server (a cluster of
// its own on 127.0.0.1, syncing its disk as in production), each through its
// own Recorder and spool: the records per second from the first Add until the
// last record is on the server, and the Add times meanwhile.
// Usage: bench_records_postgres [records per station]
#include "bench_records.h"
#include "support/postgres_server.h"

#include <QCoreApplication>
#include <cstdio>
#include <mutex>
#include <thread>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int each = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
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
  QTemporaryDir spools;
  std::mutex mutex;
  std::vector<double> addMs;
  std::atomic<int> drained{0};
  QElapsedTimer total;
  total.start();
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      const auto where = records::ParseStoreUrl(server.Url(QStringLiteral("bench")), nullptr,
                                                spools.filePath(QStringLiteral("spool-%1.sqlite").arg(s)));
      records::Recorder recorder(*where);
      std::vector<double> mine;
      for (int n = 0; n < each; ++n) {
        const records::Record r = BenchRecord(s * each + n, QDateTime::currentDateTimeUtc());
        QElapsedTimer t;
        t.start();
        recorder.Add(r);
        mine.push_back(double(t.nsecsElapsed()) / 1e6);
      }
      drained += recorder.WaitForwarded(600000);
      std::lock_guard lock(mutex);
      addMs.insert(addMs.end(), mine.begin(), mine.end());
    });
  for (auto &t : stations)
    t.join();
  const double seconds = double(total.nsecsElapsed()) / 1e9;
  QString output;
  server.Psql(QStringLiteral("bench"), QStringLiteral("SELECT COUNT(DISTINCT record_uid) FROM programming_records"),
              &error, &output);
  std::printf("PostgreSQL, %d stations x %d records: %s on the server, all forwarded: %s\n", kStations, each,
              qPrintable(output), drained == kStations ? "yes" : "NO");
  std::printf("  %.0f records/s from the first Add to the last record on the server (%.2f s)\n",
              kStations * each / seconds, seconds);
  std::printf("  Add (into the spool) median %.3f ms, p99 %.3f ms, worst %.3f ms\n", Percentile(addMs, 0.5),
              Percentile(addMs, 0.99), Percentile(addMs, 1.0));
  return drained == kStations && output.toInt() == kStations * each ? 0 : 1;
}
