// The time Recorder::Add takes on the calling thread for a SQLite store: one
// committed, fully synced transaction per record. Usage: bench_records_write
// [count [folder]]; the folder (default: a temporary one) should be on the
// disk the stores live on.
#include "bench_records.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;
  QTemporaryDir temporary(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/records-bench-XXXXXX")
                                   : QString());
  const QString path = temporary.filePath(QStringLiteral("records.sqlite"));
  records::Recorder recorder(*records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr));
  int warnings = 0;
  QObject::connect(&recorder, &records::Recorder::Warning, [&](const QString &text) {
    ++warnings;
    std::fprintf(stderr, "%s\n", qPrintable(text));
  });
  std::vector<double> ms;
  const QDateTime start = QDateTime::currentDateTimeUtc();
  for (int n = 0; n < count; ++n) {
    const records::Record r = BenchRecord(n, start.addMSecs(n));
    QElapsedTimer t;
    t.start();
    recorder.Add(r);
    ms.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  if (warnings || !recorder.WaitForwarded(0))
    return 1;
  std::printf("Recorder::Add on SQLite (WAL, full sync), %d records in %s:\n", count, qPrintable(path));
  std::printf("  median %6.3f ms, p90 %6.3f ms, p99 %6.3f ms, worst %6.3f ms\n", Percentile(ms, 0.5),
              Percentile(ms, 0.9), Percentile(ms, 0.99), Percentile(ms, 1.0));
  return 0;
}
