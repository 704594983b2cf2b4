#pragma once
// Records and stores for the records tests.
#include "records/records.h"
#include "support/spawn.h"
#include "support/test_helpers.h"

#include <csignal>

#include <QTimeZone>
#include <gtest/gtest.h>

// A record with every field set, the message in Chinese, finished `second`
// seconds (and some ms) into 2026-12-07.
inline records::Record FullRecord(int n, int second = 0, const QString &result = QStringLiteral("ok"),
                                  const QString &file = QStringLiteral("/srv/fw/main.hex")) {
  records::Record r;
  r.recordUid = QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'));
  r.startedAt = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).addMSecs(second * 1000LL - 1500 + n % 7);
  r.finishedAt = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).addMSecs(second * 1000LL + 123);
  r.host = QStringLiteral("bench-7");
  r.station = QStringLiteral("COM5");
  r.portPath = QStringLiteral("/dev/serial/by-id/usb-box-if00");
  r.frontEnd = QStringLiteral("window");
  r.operation = QStringLiteral("erase-program-verify");
  r.mode = QStringLiteral("Online");
  r.power = QStringLiteral("5V");
  r.count = n;
  r.chip = QStringLiteral("PAC5223");
  r.dataflash = QStringLiteral("0xB0");
  r.filePath = file;
  r.fileSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
  r.imageChecksum = QStringLiteral("CheckSum:  0x0012ABCD");
  r.sectors = QStringLiteral("FFFF0000");
  r.result = result;
  r.message = QStringLiteral("编程成功, \"第%1次\"").arg(n);
  r.bytesSent = 32768 + n;
  r.durationMs = 7118;
  r.programVersion = QStringLiteral("1.0");
  return r;
}

// Readable failure output.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

inline records::StoreLocation SqliteAt(const QString &path) {
  return *records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr);
}

inline QStringList Uids(const std::vector<records::Record> &rows) {
  QStringList out;
  for (const auto &r : rows)
    out << r.recordUid;
  return out;
}

// Runs the child that adds one record and is killed as Add returns.
inline void AddThenKill(const QString &url, const QString &spool, const QString &uid) {
  const SpawnResult child = Spawn(BinPath(QStringLiteral("records_child")), {url, spool, uid});
  ASSERT_TRUE(child.started);
  ASSERT_EQ(child.signal, SIGKILL) << child.output.toStdString();
}
