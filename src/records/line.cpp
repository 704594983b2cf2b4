#include "records/line.h"
#include "records/unit_row.h"
#include "records/yield.h"

#include <algorithm>
#include <map>

namespace records {

namespace {

const QString kPassed = QStringLiteral("passed");
const QString kFailed = QStringLiteral("failed");

bool Later(const QDateTime &a, const QDateTime &b) { return a.isValid() && (!b.isValid() || a > b); }

} // namespace

double StationFigures::YieldPercent() const { return records::YieldPercent(passedToday, failedToday); }

qint64 StationFigures::IdleMinutes(const QDateTime &now) const {
  if (running > 0)
    return -1;
  if (!lastActive.isValid())
    return 0;
  return std::max<qint64>(0, lastActive.msecsTo(now) / 60000);
}

double LineFigures::YieldPercent() const { return records::YieldPercent(passed, failed); }

QDateTime LineSince(const QDateTime &now, const QDateTime &dayStart) { return std::min(dayStart, now.addSecs(-3600)); }

QDateTime LocalDayStart(const QDateTime &now) { return QDateTime(now.toLocalTime().date(), QTime(0, 0)).toUTC(); }

LineFigures LineOf(std::span<const LineUnit> units, std::span<const LotCount> lots, const QDateTime &now,
                   const QDateTime &dayStart) {
  struct Station {
    StationFigures figures;
    QDateTime lastStart; // of the unit giving its job and lot
    bool today = false;  // it started or ended a unit today
  };
  std::map<std::pair<QString, QString>, Station> stations;
  std::map<std::pair<QString, QString>, LotFigures> lotsToday;
  const QDateTime hourAgo = now.addSecs(-3600);
  const QDateTime aheadAfter = now.addSecs(kClockAheadToleranceS);
  LineFigures line;
  line.now = now;
  for (const LineUnit &u : units) {
    Station &s = stations[{u.station, u.host}];
    StationFigures &f = s.figures;
    f.station = u.station;
    f.host = u.host;
    if (!u.port.isEmpty() && !f.ports.contains(u.port))
      f.ports.insert(std::lower_bound(f.ports.begin(), f.ports.end(), u.port), u.port);
    const bool ended = !u.verdict.isEmpty();
    const bool ahead = ended && u.endedAt > aheadAfter;
    const bool running = StillRunning(u.verdict, u.holdsUntil, now);
    const bool endedToday = ended && u.endedAt >= dayStart;
    const bool startedToday = u.startedAt >= dayStart;
    s.today = s.today || endedToday || startedToday || running;
    if (Later(u.startedAt, s.lastStart)) {
      s.lastStart = u.startedAt;
      f.job = u.job;
      f.lot = u.lot;
    }
    if (ahead) {
      f.clockAhead += u.units;
      line.clockAhead += u.units;
      continue;
    }
    // A unit that never ended shows when its station last did something by its start.
    if (const QDateTime active = ended ? u.endedAt : running ? QDateTime() : u.startedAt; Later(active, f.lastActive))
      f.lastActive = active;
    LotFigures *lot = nullptr;
    if (endedToday || startedToday || running) {
      lot = &lotsToday[{u.job, u.lot}];
      lot->job = u.job;
      lot->lot = u.lot;
    }
    if (running) {
      f.running += u.units;
      line.running += u.units;
      lot->running += u.units;
      continue;
    }
    const bool passed = u.verdict == kPassed, failed = u.verdict == kFailed;
    if ((passed || failed) && u.endedAt >= hourAgo)
      (passed ? f.passedHour : f.failedHour) += u.units;
    if (passed || failed) {
      if (!endedToday)
        continue;
      (passed ? f.passedToday : f.failedToday) += u.units;
      (passed ? line.passed : line.failed) += u.units;
      (passed ? lot->passed : lot->failed) += u.units;
      if (failed && Later(u.endedAt, f.lastFailureAt)) {
        f.lastFailureAt = u.endedAt;
        f.lastFailure = u.result;
      }
    } else if (endedToday || (!ended && startedToday)) {
      // Stopped, or without a verdict past its hold: neither passed nor failed.
      f.interruptedToday += u.units;
      line.interrupted += u.units;
    }
  }
  for (auto &[key, s] : stations)
    if (s.today)
      line.stations.push_back(std::move(s.figures));
  std::map<std::pair<QString, QString>, const LotCount *> counted;
  for (const LotCount &c : lots)
    counted[{c.job, c.lot}] = &c;
  for (auto &[key, lot] : lotsToday) {
    if (const auto it = counted.find(key); it != counted.end()) {
      lot.passed = it->second->passed;
      lot.failed = it->second->failed;
      lot.size = it->second->size;
    }
    line.lots.push_back(std::move(lot));
  }
  return line;
}

} // namespace records
