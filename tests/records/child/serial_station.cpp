// A station drawing serial numbers from a shared pool, one unit after another:
// each unit takes the next number of the station's block (reserving a new
// block when it is empty), marks it allocated, then used, and prints it. At the
// end the block's rest goes back to the pool. With a kill-after count it
// kills itself right after allocating that unit's number, as a station killed
// mid-run. Arguments: store URL, spool path, pool, station, units, block
// size[, kill-after].
#include "records/serial_pool.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <deque>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 7 && argc != 8)
    return 2;
  QString error;
  const auto where = records::ParseStoreUrl(QString::fromUtf8(argv[1]), &error, QString::fromUtf8(argv[2]));
  if (!where)
    return 2;
  const records::PoolStation s{QString::fromUtf8(argv[3]), QStringLiteral("count start=1 step=1"), -1,
                               QStringLiteral("test-host"), QString::fromUtf8(argv[4])};
  const int units = atoi(argv[5]), block = atoi(argv[6]), killAfter = argc == 8 ? atoi(argv[7]) : -1;
  records::db::Connection c(*where, records::db::Connection::Target::Store, "station");
  qint64 skipped = 0, failed = 0;
  if (!records::ReclaimLeftovers(c, s, &skipped, &failed, &error)) {
    fprintf(stderr, "leftovers: %s\n", qPrintable(error));
    return 1;
  }
  std::deque<qint64> reserve;
  for (int u = 1; u <= units; ++u) {
    if (reserve.empty()) {
      std::vector<qint64> got;
      if (!records::ReserveNumbers(c, s, block, &got, &error) || got.empty()) {
        fprintf(stderr, "reserve: %s\n", qPrintable(error));
        return 1;
      }
      reserve.assign(got.begin(), got.end());
    }
    const qint64 idx = reserve.front();
    reserve.pop_front();
    const QString value = QString::number(idx + 1);
    if (!records::MarkNumber(c, s, idx, records::kNumberAllocated, value, QStringLiteral("u%1").arg(u), &error))
      return 1;
    if (u == killAfter)
      raise(SIGKILL);
    if (!records::MarkNumber(c, s, idx, records::kNumberUsed, value, QStringLiteral("u%1").arg(u), &error))
      return 1;
    printf("%lld\n", static_cast<long long>(idx));
    fflush(stdout); // a kill must not lose what was printed
  }
  if (!records::ReleaseNumbers(c, s, &skipped, &error))
    return 1;
  return 0;
}
