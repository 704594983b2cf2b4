#pragma once
// Figures and records shared by the records benchmarks.
#include "records/records.h"

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

inline double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

inline const char *const kBenchResults[] = {"ok", "ok", "ok", "ok", "ok", "ok", "ok", "ok", "ok", "verify-mismatch",
                                            "ok", "ok", "ok", "ok", "ok", "ok", "ok", "ok", "ok", "box-failed"};

// A record as a station writes it; n picks its result (90% ok), file (one of 50) and time.
inline records::Record BenchRecord(qint64 n, const QDateTime &finished) {
  records::Record r;
  r.recordUid = QStringLiteral("bench-%1").arg(n);
  r.startedAt = finished.addMSecs(-7118);
  r.finishedAt = finished;
  r.host = QStringLiteral("station-host");
  r.station = QStringLiteral("COM5");
  r.portPath = QStringLiteral("/dev/serial/by-id/usb-box-if00");
  r.frontEnd = QStringLiteral("window");
  r.operation = QStringLiteral("erase-program-verify");
  r.mode = QStringLiteral("Online");
  r.power = QStringLiteral("5V");
  r.count = n;
  r.chip = QStringLiteral("PAC5223");
  r.dataflash = QStringLiteral("0xB0");
  r.filePath =
      QStringLiteral("/srv/firmware/product-%1/fw-%2.hex").arg(n % 50 / 10).arg(n % 50, 2, 10, QLatin1Char('0'));
  r.fileSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
  r.imageChecksum = QStringLiteral("CheckSum:  0x0012ABCD");
  r.sectors = QStringLiteral("FFFFFFFF");
  r.result = QString::fromLatin1(kBenchResults[n % 20]);
  r.message = r.result == QLatin1String("ok") ? QStringLiteral("编程成功") : QStringLiteral("校验失败 at 0x1234");
  r.bytesSent = 32768;
  r.durationMs = 7118;
  r.programVersion = QStringLiteral("1.0");
  return r;
}
