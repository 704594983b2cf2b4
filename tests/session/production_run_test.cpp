// Units of a job on simulated boxes over the in-memory line: each box's far
// end is the simulator's protocol engine, fed what the port writes; time is a
// manual clock that moves only while the line is quiet.
#include "image/firmware_image.h"
#include "records/query.h"
#include "records/database.h"
#include "records/recorder.h"
#include "records/yield.h"
#include "session/operator_text.h"
#include "session/production_run.h"
#include "session/serial_numbers.h"
#include "support/memory_serial.h"
#include "support/test_helpers.h"

#include "box_engine.h"

#include <QAbstractEventDispatcher>
#include <QCryptographicHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <gtest/gtest.h>
#include <future>
#include <random>
#include <set>

// Readable failure output.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList &l, std::ostream *os) { *os << '[' << l.join(QStringLiteral(" | ")).toStdString() << ']'; }

// Names as this test used them before each folder had its namespace.
using image::kImageTextEntries;
using image::kLoadImageSize;
using protocol::Outcome;
using serial::SerialLayer;

namespace {

using session::ProductionRun;
using session::UnitState;
using session::UnitStatus;

std::vector<uint8_t> ImageBytes(uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(image::kLoadImageSize);
  for (auto &b : out)
    b = uint8_t(gen());
  return out;
}

job::OpenedJob Opened(const std::vector<uint8_t> &bytes, job::Operation operation, int retries) {
  job::OpenedJob o;
  job::Job j;
  j.name = QStringLiteral("motor board");
  j.firmware = QStringLiteral("fw.hex");
  j.operation = operation;
  j.mode = base::BoxMode::Online;
  j.retries = retries;
  j.lotSize = 10;
  j.timeoutSeconds = 3;
  o.job = j;
  o.jobSha256 = QStringLiteral("5e").repeated(32);
  o.release = {true, QStringLiteral("released by Wang Li for lot 12"), QStringLiteral("D7E8AB7FA5B4C1C3")};
  o.firmwarePath = QStringLiteral("/srv/fw.hex");
  o.firmware.fileRead = true;
  o.firmware.image.Put(0, std::span(bytes).first(image::kLoadImageSize));
  o.firmware.sha256 = QStringLiteral("ab").repeated(32);
  o.firmware.checksumCaption = QStringLiteral("CheckSum:  0x00000000");
  return o;
}

session::RunOptions Options(std::shared_ptr<serial::SerialLayer> layer, const QString &lot = {}) {
  session::RunOptions o;
  o.lot = lot;
  o.operatorName = QStringLiteral("王芳");
  o.fastReplies = true;
  o.layer = std::move(layer);
  return o;
}

// Boxes whose replies come from the simulator's engine.
struct Bench {
  base::ManualClock clock;
  std::shared_ptr<MemorySerialLayer> layer = [this] {
    auto made = std::make_shared<MemorySerialLayer>(clock);
    // A change on the line wakes the test's event loop, which waits for that or for a queued call.
    made->OnChange([dispatcher = QAbstractEventDispatcher::instance()] { dispatcher->wakeUp(); });
    return made;
  }();
  struct Far {
    std::shared_ptr<MemoryDevice> device;
    boxsim::BoxEngine engine;
    size_t taken = 0;
  };
  std::vector<std::unique_ptr<Far>> boxes;
  QStringList ports;

  void Add(const boxsim::BoxOptions &options) {
    ports << QStringLiteral("BOX%1").arg(boxes.size() + 1);
    boxes.push_back(std::make_unique<Far>(Far{layer->AddDevice(ports.back()), boxsim::BoxEngine(options), 0}));
  }

  ProductionRun *run = nullptr;
  std::map<int, int> stepsOf; // steps ended, by box
  std::map<int, QString> stepKey;

  void Watch(ProductionRun &r) {
    run = &r;
    QObject::connect(&r, &ProductionRun::StepEnded, [this](const UnitStatus &s) { ++stepsOf[s.box]; });
  }

  // Carries bytes both ways. The clock moves only while the session owes the
  // box nothing and no reply waits for the session to act on it (a write or a
  // step's end), so a time-out passes only when a box is really silent,
  // however slow the line's threads are.
  bool Until(const std::function<bool()> &done) {
    // Per box: a step started that has not reached the line, or a reply
    // given that the session has not acted on yet.
    std::set<size_t> owed, awaiting;
    std::map<int, int> endedBefore = stepsOf;
    QElapsedTimer stuck;
    stuck.start();
    while (!done()) {
      if (stuck.hasExpired(20000))
        return false;
      QCoreApplication::processEvents();
      for (size_t i = 0; run && i < boxes.size(); ++i) {
        const int box = int(i) + 1;
        const UnitStatus &s = run->Unit(box);
        const QString key = QStringLiteral("%1/%2/%3").arg(s.unitUid).arg(s.attempt).arg(stepsOf[box]);
        if (key != stepKey[box] && run->Session(box).InProgress())
          owed.insert(i);
        stepKey[box] = key;
        if (stepsOf[box] != endedBefore[box]) {
          awaiting.erase(i);
          endedBefore[box] = stepsOf[box];
          stuck.restart();
        }
      }
      bool injected = false;
      for (size_t i = 0; i < boxes.size(); ++i) {
        Far &far = *boxes[i];
        const std::vector<uint8_t> written = far.device->Written();
        if (written.size() <= far.taken)
          continue;
        owed.erase(i);
        awaiting.erase(i);
        stuck.restart();
        for (const auto &reply :
             far.engine.Feed(written.data() + far.taken, written.size() - far.taken, clock.NowMs() * 1000)) {
          far.device->Inject(reply.bytes);
          awaiting.insert(i);
          injected = true;
        }
        far.taken = written.size();
      }
      if (injected) {
        clock.Advance(5); // the silence that ends the reply's read, whenever the read comes
        continue;
      }
      // A frame or block only partly on the line, or the block a load's
      // announcement promised: the rest is on its way.
      const bool partial = std::any_of(boxes.begin(), boxes.end(), [](const auto &far) {
        return far->device->WriteIsPending() || far->engine.PendingInput() > 0 || far->engine.AwaitedBlock() >= 0;
      });
      if (awaiting.empty() && owed.empty() && !partial) {
        clock.Advance(5);
      } else {
        // The line's threads or the store's worker owe the next move: wait for
        // it (a change on the line or a queued call), the bound only keeping
        // the stuck check above alive.
        QTimer bound;
        bound.start(1000);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      }
    }
    return true;
  }
};

// Every state a box showed, progress folded into one "BUSY" up to the whole
// attempt's "BUSY 100%", which the box's last answer shows before the verdict.
struct Tiles {
  std::map<int, QStringList> shown;
  std::vector<UnitStatus> ended;
  void Watch(ProductionRun &run) {
    QObject::connect(&run, &ProductionRun::UnitChanged, [this](const UnitStatus &s) {
      const QString word = s.state == UnitState::Busy && s.percent < 100 ? QStringLiteral("BUSY") : s.StateText();
      if (shown[s.box].isEmpty() || shown[s.box].back() != word)
        shown[s.box] << word;
    });
    QObject::connect(&run, &ProductionRun::UnitEnded, [this](const UnitStatus &s) { ended.push_back(s); });
  }
};

// Rows of SQL the store answers, each row's columns joined by blanks.
QStringList Rows(const records::StoreLocation &where, const QString &sql) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "check");
  QString error;
  EXPECT_TRUE(c.Open(&error)) << error.toStdString();
  QSqlQuery q(c.Database());
  EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
  QStringList rows;
  while (q.next()) {
    QStringList columns;
    for (int i = 0; i < q.record().count(); ++i)
      columns << q.value(i).toString();
    rows << columns.join(QLatin1Char(' '));
  }
  return rows;
}

// "passed/ok@2" for each unit row, in the order they started.
QStringList Verdicts(const records::StoreLocation &where) {
  QStringList out;
  for (const QString &row : Rows(where, QStringLiteral("SELECT verdict, result, attempts FROM units ORDER BY "
                                                       "started_at"))) {
    const QStringList c = row.split(QLatin1Char(' '));
    out << QStringLiteral("%1/%2@%3").arg(c.value(0), c.value(1), c.value(2));
  }
  return out;
}

// "load:box-failed@1" for each record, oldest first.
QStringList Steps(const records::StoreLocation &where, QString *unit = nullptr) {
  QString error;
  auto rows = records::Query(where, {}, &error);
  std::reverse(rows.begin(), rows.end());
  QStringList out;
  for (const auto &r : rows) {
    out << QStringLiteral("%1:%2@%3").arg(r.operation, r.result).arg(r.attempt);
    if (unit && (r.unitUid != rows.front().unitUid || r.jobName != QStringLiteral("motor board") || r.lot != "L1" ||
                 r.operatorName != QStringLiteral("王芳") || r.jobSha256 != QStringLiteral("5e").repeated(32) ||
                 r.jobRelease != QStringLiteral("released by Wang Li for lot 12")))
      *unit = QStringLiteral("records differ in unit, job, lot, operator or release");
  }
  return out;
}

TEST(ProductionRun, RetriesWhatTheJobAllowsAndRecordsEveryAttempt) {
  struct Case {
    const char *name;
    boxsim::BoxOptions box;
    job::Operation operation;
    int retries;
    QStringList tiles;
    QStringList records;
    protocol::Outcome outcome;
    const char *verdict; // the unit's row
    bool openFails = false;
  };
  boxsim::BoxOptions failsOnce;
  failsOnce.failAtBlock = 2;
  failsOnce.failTimes = 1;
  boxsim::BoxOptions failsAlways;
  failsAlways.failAtBlock = 2;
  boxsim::BoxOptions mismatch;
  mismatch.mismatchAddr = 0x1234;
  boxsim::BoxOptions silent;
  silent.silent = true;
  boxsim::BoxOptions protectedChip;
  protectedChip.protectedChip = true;
  const auto Load = job::Operation::Load;
  const auto LoadVerify = job::Operation::LoadVerify;
  const Case cases[] = {
      {"good box",
       {},
       LoadVerify,
       2,
       {"BUSY", "BUSY 100%", "PASS"},
       {"set:ok@1", "load:ok@1", "verify:ok@1"},
       protocol::Outcome::Ok,
       "passed/ok@1"},
      {"fails once, retried",
       failsOnce,
       Load,
       2,
       {"BUSY", "RETRY 1/2", "BUSY", "BUSY 100%", "PASS"},
       {"set:ok@1", "load:box-failed@1", "set:ok@2", "load:ok@2"},
       protocol::Outcome::Ok,
       "passed/ok@2"},
      {"fails once, no retries",
       failsOnce,
       Load,
       0,
       {"BUSY", "FAIL"},
       {"set:ok@1", "load:box-failed@1"},
       protocol::Outcome::BoxFailed,
       "failed/box-failed@1"},
      {"fails always: the limit",
       failsAlways,
       Load,
       2,
       {"BUSY", "RETRY 1/2", "BUSY", "RETRY 2/2", "BUSY", "FAIL"},
       {"set:ok@1", "load:box-failed@1", "set:ok@2", "load:box-failed@2", "set:ok@3", "load:box-failed@3"},
       protocol::Outcome::BoxFailed,
       "failed/box-failed@3"},
      {"verify mismatch is never retried",
       mismatch,
       LoadVerify,
       3,
       {"BUSY", "FAIL"},
       {"set:ok@1", "load:ok@1", "verify:verify-mismatch@1"},
       protocol::Outcome::VerifyMismatch,
       "failed/verify-mismatch@1"},
      {"a read-protected chip fails at once",
       protectedChip,
       LoadVerify,
       2,
       {"BUSY", "FAIL"},
       {"set:ok@1", "load:ok@1", "verify:read-protected@1"},
       protocol::Outcome::ReadProtected,
       "failed/read-protected@1"},
      {"a port that does not open fails its unit once",
       {},
       Load,
       2,
       {"BUSY", "FAIL"},
       {"load:port-unavailable@1"},
       protocol::Outcome::PortUnavailable,
       "failed/port-unavailable@1",
       true},
      {"no answer, retried",
       silent,
       Load,
       1,
       {"BUSY", "RETRY 1/1", "BUSY", "FAIL"},
       {"set:no-answer@1", "set:no-answer@2"},
       protocol::Outcome::NoAnswer,
       "failed/no-answer@2"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder folder;
    const records::StoreLocation store = *records::ParseStoreUrl("sqlite:" + folder.File("r.sqlite"), nullptr);
    Bench bench;
    bench.Add(c.box);
    bench.boxes[0]->device->SetOpenFails(c.openFails);
    {
      records::Recorder recorder(store);
      ProductionRun run(Opened(ImageBytes(1), c.operation, c.retries), bench.ports, bench.clock, &recorder,
                        Options(bench.layer, QStringLiteral("L1")));
      Tiles tiles;
      tiles.Watch(run);
      bench.Watch(run);
      ASSERT_TRUE(run.Start(1));
      ASSERT_TRUE(bench.Until([&] { return !tiles.ended.empty(); }));
      EXPECT_EQ(tiles.shown[1], c.tiles);
      EXPECT_EQ(tiles.ended.back().outcome, c.outcome);
      ASSERT_TRUE(bench.Until([&] { return run.Counters().passed + run.Counters().failed == 1; }));
      EXPECT_EQ(run.Counters().passed, c.outcome == protocol::Outcome::Ok ? 1 : 0);
    }
    QString unitFault;
    EXPECT_EQ(Steps(store, &unitFault), c.records);
    EXPECT_TRUE(unitFault.isEmpty()) << unitFault.toStdString();
    EXPECT_EQ(Verdicts(store), QStringList{QLatin1String(c.verdict)});
  }
}

// A load of no job: one attempt, whatever the box answered, of no job and
// no lot, started without an operator named, claiming no station; the run
// counts its own units.
TEST(ProductionRun, ALoadOfNoJobTakesOneAttemptOfNoLot) {
  ProgramFolder folder;
  const records::StoreLocation store = *records::ParseStoreUrl("sqlite:" + folder.File("r.sqlite"), nullptr);
  Bench bench;
  boxsim::BoxOptions failsOnce;
  failsOnce.failAtBlock = 2;
  failsOnce.failTimes = 1;
  bench.Add(failsOnce);
  const job::OpenedJob opened = Opened(ImageBytes(1), job::Operation::Load, 0);
  session::LoadOrder order;
  order.firmware = opened.firmware;
  order.firmwarePath = opened.firmwarePath;
  order.set = session::OperationRequest{};
  order.set->operation = session::BoxOperation::Set;
  order.load.operation = session::BoxOperation::Load;
  order.load.count = 999999;
  order.timeoutSeconds = 3;
  {
    records::Recorder recorder(store);
    ProductionRun run(order, bench.ports, bench.clock, &recorder, Options(bench.layer, QStringLiteral("L1")));
    run.SetOperator(QString());
    Tiles tiles;
    tiles.Watch(run);
    bench.Watch(run);
    ASSERT_TRUE(run.Start(1)) << run.StartRefusal().toStdString();
    ASSERT_TRUE(bench.Until([&] { return !tiles.ended.empty(); }));
    EXPECT_EQ(tiles.shown[1], (QStringList{"BUSY", "FAIL"}));
    EXPECT_EQ(run.Lot(), QString());
    EXPECT_EQ(run.Counters().failed, 1);
    EXPECT_EQ(Rows(store, QStringLiteral("SELECT station FROM station_leases")), QStringList{})
        << "a load claims no station";
  }
  EXPECT_EQ(Steps(store), (QStringList{"set:ok@1", "load:box-failed@1"}));
  EXPECT_EQ(Verdicts(store), QStringList{"failed/box-failed@1"});
  EXPECT_EQ(Rows(store, QStringLiteral("SELECT DISTINCT job_name || '|' || lot FROM programming_records")),
            QStringList{"|"});
}

TEST(ProductionRun, CountersComeBackFromTheRecordsOfTheirLot) {
  ProgramFolder folder;
  const records::StoreLocation store = *records::ParseStoreUrl("sqlite:" + folder.File("r.sqlite"), nullptr);
  boxsim::BoxOptions broken;
  broken.failAtBlock = 1;
  // The run's counters once the store has answered for its units.
  const auto counted = [&](const QString &lot, int units, bool slowAtFirst) {
    Bench bench;
    bench.Add({});
    if (units != 1)
      bench.Add(broken);
    records::Recorder recorder(store);
    // A store slow at first: the first count is still under way as the units start and end.
    std::promise<void> slow;
    if (slowAtFirst)
      recorder.OnStore(QString(), QString(),
                       [gate = slow.get_future().share()](records::db::Connection &, const QString &) { gate.wait(); });
    ProductionRun run(Opened(ImageBytes(2), job::Operation::Load, 0), bench.ports, bench.clock, &recorder,
                      Options(bench.layer, lot));
    bench.Watch(run);
    if (units > 0)
      run.StartAll();
    if (slowAtFirst)
      slow.set_value();
    EXPECT_TRUE(bench.Until([&] { return !run.Busy(); }));
    // What the store answers for the last unit's end, before the run's clock
    // moves on (its own refresh would hide a count that missed a unit).
    EXPECT_TRUE(PumpUntil([&] { return run.CountsSettled() && run.Counters().loaded; }));
    return std::pair(run.Counters().passed, run.Counters().failed);
  };
  const struct {
    const char *name;
    const char *lot;
    int units; // on a good box, and (2) a broken one
    bool slowAtFirst;
    std::pair<qint64, qint64> counters;
  } runs[] = {
      {"two units", "L1", 2, false, {1, 1}},
      {"a restart", "L1", 0, false, {1, 1}},
      {"two more, each counted once though the store was slow", "L1", 2, true, {2, 2}},
      {"one more, counted as its end is written", "L1", 1, false, {3, 2}},
      {"another lot", "L2", 0, false, {0, 0}},
  };
  for (const auto &r : runs) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(counted(QLatin1String(r.lot), r.units, r.slowAtFirst), r.counters);
  }
}

// Hands every unit a serial number written at 0x7FF0, or refuses the second.
struct Serials : session::UnitDataProvider {
  int next = 41;
  bool refuseSecond = false;
  std::vector<UnitStatus> ended;
  void Provide(const session::UnitRequest &, std::function<void(session::UnitData)> done) override {
    const int n = next++;
    session::UnitData data;
    if (refuseSecond && n == 42) {
      data.refusal = QStringLiteral("no numbers left");
    } else {
      data.serial = QString::number(n);
      data.patches = {{0x7FF0, QByteArray(1, char(n))}};
    }
    done(data);
  }
  std::optional<records::NumberChange> Ended(const UnitStatus &unit) override {
    ended.push_back(unit);
    return std::nullopt;
  }
};

TEST(ProductionRun, EachUnitGetsItsOwnImageFromTheProvider) {
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse);
    Bench bench;
    bench.Add({});
    bench.Add({});
    const auto bytes = ImageBytes(3);
    ProductionRun run(Opened(bytes, job::Operation::Load, 0), bench.ports, bench.clock, nullptr, Options(bench.layer));
    bench.Watch(run);
    Serials serials;
    serials.refuseSecond = refuse;
    run.SetUnitDataProvider(&serials);
    run.StartAll();
    ASSERT_TRUE(bench.Until([&] { return !run.Busy(); }));
    ASSERT_EQ(serials.ended.size(), refuse ? 1u : 2u) << "a refused unit's data is no one's to end";
    EXPECT_EQ(run.Unit(1).serial, QStringLiteral("41"));
    EXPECT_EQ(run.Unit(1).state, UnitState::Pass) << session::English(run.Unit(1).reason).toStdString();
    EXPECT_EQ(bench.boxes[0]->engine.LastImage().bytes[0x7FF0], 41);
    EXPECT_EQ(bench.boxes[0]->engine.LastImage().bytes[0x7FEF], bytes[0x7FEF]);
    if (refuse) {
      EXPECT_EQ(run.Unit(2).state, UnitState::Fail);
      EXPECT_EQ(run.Unit(2).reason.Designed(), QStringLiteral("no numbers left"));
      EXPECT_EQ(bench.boxes[1]->device->WrittenSize(), 0u); // the box was never touched
    } else {
      EXPECT_EQ(run.Unit(2).serial, QStringLiteral("42"));
      EXPECT_EQ(bench.boxes[1]->engine.LastImage().bytes[0x7FF0], 42);
    }
  }
}

TEST(ProductionRun, ALostPortIsRetriedOnceItIsBack) {
  struct Case {
    const char *name;
    bool comesBack;
    bool goneAgain; // lost once more in the pause before the retry, and does not open
    UnitState state;
    protocol::Outcome outcome;
    int attempt;
  };
  const Case cases[] = {
      {"back", true, false, UnitState::Pass, protocol::Outcome::Ok, 2},
      {"not back within the time-out", false, false, UnitState::Fail, protocol::Outcome::PortLost, 1},
      // A port that does not open is no fault a retry mends, whatever attempts are left.
      {"back, then gone before the retry", true, true, UnitState::Fail, protocol::Outcome::PortUnavailable, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.Add({});
    ProductionRun run(Opened(ImageBytes(5), job::Operation::Load, 2), bench.ports, bench.clock, nullptr,
                      Options(bench.layer));
    Tiles tiles;
    tiles.Watch(run);
    bench.Watch(run);
    run.StartAll();
    ASSERT_TRUE(bench.Until([&] { return bench.boxes[0]->engine.AwaitedBlock() == 3; }));
    Bench::Far &far = *bench.boxes[0];
    far.device->SetOpenFails(true);
    far.device->Unplug();
    far.engine = boxsim::BoxEngine({}); // the box starts afresh with its cable
    ASSERT_TRUE(PumpUntil([&] { return run.Unit(1).state == UnitState::Retry; })); // the line's threads tell
    far.taken = far.device->Written().size();
    bench.clock.Advance(1500); // the watch finds the port still gone
    far.device->SetOpenFails(!c.comesBack);
    if (c.goneAgain) {
      bench.clock.Advance(500); // the watch's next look opens it
      ASSERT_TRUE(far.device->IsOpen());
      far.device->SetOpenFails(true);
      far.device->Unplug();
      ASSERT_TRUE(PumpUntil([&] { return !far.device->IsOpen(); }));
    }
    ASSERT_TRUE(bench.Until([&] { return !tiles.ended.empty(); }));
    EXPECT_EQ(run.Unit(1).state, c.state);
    EXPECT_EQ(run.Unit(1).outcome, c.outcome);
    EXPECT_EQ(run.Unit(1).attempt, c.attempt);
  }
}

TEST(ProductionRun, StopEndsUnitsNeitherPassedNorFailed) {
  for (const UnitState stopIn : {UnitState::Busy, UnitState::Retry}) {
    SCOPED_TRACE(int(stopIn));
    ProgramFolder folder;
    const records::StoreLocation store = *records::ParseStoreUrl("sqlite:" + folder.File("r.sqlite"), nullptr);
    records::Recorder recorder(store);
    Bench bench;
    boxsim::BoxOptions silent;
    silent.silent = true;
    bench.Add(silent);
    ProductionRun run(Opened(ImageBytes(4), job::Operation::Load, 3), bench.ports, bench.clock, &recorder,
                      Options(bench.layer, QStringLiteral("L1")));
    Tiles tiles;
    tiles.Watch(run);
    bench.Watch(run);
    run.StartAll();
    ASSERT_TRUE(bench.Until([&] { return run.Unit(1).state == stopIn; }));
    EXPECT_FALSE(run.Start(1)); // a box at work takes no new unit
    run.Stop();
    ASSERT_TRUE(bench.Until([&] { return run.Unit(1).state == UnitState::Ready; })); // once its end is written
    EXPECT_EQ(run.Unit(1).outcome, protocol::Outcome::Interrupted);
    EXPECT_EQ(run.Counters().passed + run.Counters().failed, 0);
    // The retry's pause passing changes nothing any more.
    bench.clock.Advance(ProductionRun::kRetryPauseMs * 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(run.Unit(1).state, UnitState::Ready);
    EXPECT_EQ(tiles.ended.size(), 1u);
    // The records agree: a restart counts the unit neither way either.
    records::LotCounters counted{-1, -1};
    QString error;
    ASSERT_TRUE(records::CountLot(store, QStringLiteral("motor board"), QStringLiteral("L1"), &counted, &error));
    EXPECT_EQ(counted, (records::LotCounters{0, 0}));
  }
}

// Numbers drawn by the serial-number provider from a SQLite pool, one unit
// after another on one box: what each unit is given, how it ends, and the
// state each number is left in, with the unit's own row.
TEST(ProductionRun, SerialNumbersTravelWithTheirUnits) {
  boxsim::BoxOptions failsFirst;
  failsFirst.failAtBlock = 2;
  failsFirst.failTimes = 1;
  struct Case {
    const char *name;
    const char *format; // empty: a list of one line
    uint64_t start;
    bool keepFailed;
    boxsim::BoxOptions box;
    int units;
    QStringList serials;  // of each unit, as it ended
    QStringList verdicts; // each unit's row
    QStringList numbers;  // idx, state, value and unit of each number, by idx
    const char *storeSql = ""; // run on the store before the run
    const char *refused = "";  // a table the store refuses every write to
  };
  const Case cases[] = {
      {"a failed number is given up", "dec:4", 1, false, failsFirst, 2,
       {"0001", "0002"}, {"failed/box-failed@1", "passed/ok@1"},
       {"0 failed 0001 u1", "1 used 0002 u2", "2 free  ", "3 free  ", "4 free  ", "5 free  "}}, // the block ahead too
      {"a failed number goes to the next good unit", "dec:4", 1, true, failsFirst, 2,
       {"0001", "0001"}, {"failed/box-failed@1", "passed/ok@1"},
       {"0 used 0001 u2", "1 free  ", "2 free  "}},
      {"the format's last number is given, then none", "dec:1", 8, false, {}, 3,
       {"8", "9", ""}, {"passed/ok@1", "passed/ok@1", "failed/file-refused@1"},
       {"0 used 8 u1", "1 used 9 u2"}},
      {"a list's last line is given, then none", "", 0, false, {}, 2,
       {"SN-A", ""}, {"passed/ok@1", "failed/file-refused@1"},
       {"0 used SN-A u1"}},
      // The station's fault, not the board's: recorded, yet counted as no failure and holding no place.
      {"a store that cannot hand out numbers", "dec:4", 1, false, {}, 1, {""}, {"interrupted/file-refused@1"}, {},
       "DROP TABLE serial_pools"},
      {"a unit whose step was not recorded gives its number up", "dec:4", 1, true, {}, 1,
       {"0001"}, {"interrupted/interrupted@1"},
       {"0 failed 0001 u1", "1 free  ", "2 free  "}, "", "programming_records"},
      {"a unit whose start was not recorded gives its number back", "dec:4", 1, false, {}, 1,
       {"0001"}, {},
       {"0 free  ", "1 free  ", "2 free  "}, "", "units"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder folder;
    const records::StoreLocation store = *records::ParseStoreUrl("sqlite:" + folder.File("r.sqlite"), nullptr);
    job::OpenedJob opened = Opened(ImageBytes(6), job::Operation::Load, 0);
    numbering::SerialPlan plan;
    plan.address = 0x7F00;
    plan.overwrite = true;
    plan.start = c.start;
    plan.blockSize = 3;
    plan.giveUpOnFail = !c.keepFailed;
    if (*c.format) {
      ASSERT_TRUE(numbering::ParseFormat(QLatin1String(c.format), &plan.format, &plan.digits));
    } else {
      plan.listFile = QStringLiteral("list.txt");
      opened.list = numbering::ParseList("SN-A\n");
    }
    opened.job->serial = plan;
    Bench bench;
    bench.Add(c.box);
    QStringList serials, uids;
    QStringList allocatedWhileBusy;
    if (*c.storeSql) {
      records::db::Connection made(store, records::db::Connection::Target::Store, "made");
      QString error;
      ASSERT_TRUE(made.Open(&error) && made.Exec(QLatin1String(c.storeSql), &error)) << error.toStdString();
    }
    // Its board is loaded unless its start was refused or it was refused its number.
    const bool starts = std::string_view(c.refused) != "units" && !*c.storeSql;
    {
      records::Recorder recorder(store);
      if (*c.refused) {
        records::db::Connection db(store, records::db::Connection::Target::Store, "refuse");
        QString error;
        ASSERT_TRUE(db.Open(&error) && db.Exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON %1 "
                                                              "BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                                                   .arg(QLatin1String(c.refused)),
                            &error))
            << error.toStdString();
      }
      session::SerialNumbers numbers(plan, opened.list, {}, opened.job->name, &recorder, QStringLiteral("bench"));
      ProductionRun run(opened, bench.ports, bench.clock, &recorder, Options(bench.layer, QStringLiteral("L1")));
      run.SetUnitDataProvider(&numbers);
      Tiles tiles;
      tiles.Watch(run);
      bench.Watch(run);
      for (int u = 1; u <= c.units; ++u) {
        ASSERT_TRUE(run.Start(1)) << run.StartRefusal().toStdString();
        // Read through the store while the board is being loaded: its number is allocated, not used.
        if (u == 1 && starts) {
          ASSERT_TRUE(bench.Until([&] {
            if (bench.boxes[0]->engine.AwaitedBlock() < 1)
              return false;
            allocatedWhileBusy = Rows(store, QStringLiteral("SELECT state, unit_uid FROM serial_numbers WHERE idx = 0"));
            return true;
          }));
        }
        ASSERT_TRUE(bench.Until([&] { return tiles.ended.size() == size_t(u); }));
        serials << tiles.ended.back().serial;
        uids << tiles.ended.back().unitUid;
      }
      ASSERT_TRUE(bench.Until([&] { return run.Counters().loaded; }));
    }
    EXPECT_EQ(serials, c.serials);
    if (starts) {
      EXPECT_EQ(allocatedWhileBusy, QStringList{QStringLiteral("allocated ") + uids.value(0)});
    }
    EXPECT_EQ(Verdicts(store), c.verdicts);
    QStringList numbers = Rows(store, QStringLiteral("SELECT idx, state, value, unit_uid FROM serial_numbers ORDER BY idx"));
    for (QString &row : numbers)
      for (int u = 0; u < uids.size(); ++u)
        row.replace(uids[u], QStringLiteral("u%1").arg(u + 1));
    EXPECT_EQ(numbers, c.numbers);
  }
}

} // namespace
