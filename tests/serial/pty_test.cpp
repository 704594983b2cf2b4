// The component over a real pseudo-terminal: the terminal layer's reads,
// writes, exclusive open and hang-up handling.
#include "comm_fixture.h"
#include "pty_pair.h"
#include "serial/posix_serial.h"
#include "serial/serial_devices.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <mutex>
#include <poll.h>
#include <set>
#include <thread>

using namespace serial;

namespace {
QString OpenError(TComm &comm) {
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    return e.Message();
  }
  return QStringLiteral("<opened>");
}

// The threads of this process, by id.
std::set<QString> Threads() {
  const QStringList ids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  return {ids.begin(), ids.end()};
}

// A manual clock that also tells whether the line's waiting threads have
// looked at it since it last moved: a thread waiting on a manual clock holds
// one watch of its moves, taken before it reads the time, and takes a new one
// each time it looks again. Once every watch was taken at the present moment,
// each thread has acted on that moment (and posted what it had to) and waits.
class ObservedClock : public base::Clock {
public:
  int64_t NowMs() const override { return clock_.NowMs(); }
  std::unique_ptr<base::Alarm> MakeAlarm(std::function<void()> fire) override {
    return clock_.MakeAlarm(std::move(fire));
  }
  std::shared_ptr<void> WatchMoves(std::function<void()> woken) override {
    struct Watch {
      std::shared_ptr<void> inner;
      int64_t takenAt;
    };
    auto watch = std::make_shared<Watch>(Watch{clock_.WatchMoves(std::move(woken)), clock_.NowMs()});
    std::lock_guard lock(mutex_);
    ++taken_;
    std::erase_if(watches_, [](const auto &w) { return w.first.expired(); });
    watches_.emplace_back(watch, watch->takenAt);
    return watch;
  }
  void Advance(int64_t ms) { clock_.Advance(ms); }
  // How many watches were taken so far: a thread that woke (for bytes, say)
  // takes a new one before it waits again.
  size_t Taken() {
    std::lock_guard lock(mutex_);
    return taken_;
  }
  // Whether exactly `threads` watches live, all taken at the present moment.
  bool Looked(size_t threads) {
    std::lock_guard lock(mutex_);
    size_t live = 0;
    for (const auto &[watch, takenAt] : watches_)
      if (!watch.expired()) {
        if (takenAt != clock_.NowMs())
          return false;
        ++live;
      }
    return live == threads;
  }

private:
  base::ManualClock clock_;
  std::mutex mutex_;
  std::vector<std::pair<std::weak_ptr<void>, int64_t>> watches_;
  size_t taken_ = 0;
};

std::vector<uint8_t> DataOf(const std::vector<CommEvent> &events) {
  std::vector<uint8_t> all;
  for (const CommEvent &e : events)
    if (e.kind == "data")
      all.insert(all.end(), e.bytes.begin(), e.bytes.end());
  return all;
}
} // namespace

class PtyCommTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    comm = std::make_unique<TComm>(nullptr, std::make_shared<PosixSerialLayer>());
    ConfigureAsComm1(*comm, pty.SlavePath());
    RecordEvents(*comm, events);
  }
  void TearDown() override {
    if (comm)
      comm->ClosePort();
  }
  bool WaitFor(const std::string &kind, size_t count, int ms = 3000) {
    return PumpUntil([&] { return CountOf(events, kind) >= count; }, ms);
  }
  void OpenIdle() {
    comm->OpenPort();
    ASSERT_TRUE(WaitFor("empty", 1));
  }
  PtyPair pty;
  ObservedClock clock; // for a test's own layer; outlives the port and its threads
  std::unique_ptr<TComm> comm;
  std::vector<CommEvent> events;
};

TEST_F(PtyCommTest, BytesBothWays) {
  OpenIdle();
  // Bytes a terminal would otherwise interpret pass unchanged both ways.
  const auto frame = Bytes({0x68, 0x00, 0x11, 0x13, 0x16, 0x0A, 0x0D, 0x03, 0x1A, 0x7F});
  ASSERT_TRUE(comm->SendData(frame.data(), static_cast<uint16_t>(frame.size())));
  EXPECT_EQ(pty.Read(frame.size()), frame);
  const auto reply = Bytes({0x55, 0x01, 0x0D, 0x0A, 0x00, 0x11, 0x13, 0x03, 0x04, 0xFF});
  ASSERT_TRUE(pty.Write(reply));
  ASSERT_TRUE(WaitFor("data", 1));
  EXPECT_EQ(events.back().bytes, reply);
  EXPECT_TRUE(events.back().zeroAfterData);
  // A 4120-byte block, larger than the driver's queue, is written whole.
  const std::vector<uint8_t> block = Pattern(4120, 3);
  ASSERT_TRUE(comm->SendData(block.data(), 4120));
  EXPECT_EQ(pty.Read(block.size()), block);
  EXPECT_TRUE(PumpUntil([&] { return comm->SendDataEmpty() && CountOf(events, "empty") == 2; }));
  // A pseudo-terminal has no modem lines: no line event, and that is no failure.
  EXPECT_EQ(CountOf(events, "modem") + CountOf(events, "error") + CountOf(events, "hangup"), 0u);
}

TEST_F(PtyCommTest, LineChangesWhileOpenReachTheTerminal) {
  OpenIdle();
  termios t{};
  // (A pseudo-terminal keeps 8 data bits without parity whatever it is told.)
  comm->SetBaudRate(115200);
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  comm->SetStopBits(TStopBits::_2);
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  comm->SetBaudRate(12345); // a rate the terminal does not know is refused silently
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  comm->SetOutx_XonXoffFlow(true);
  comm->SetInx_XonXoffFlow(true);
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  // The link still carries bytes.
  ASSERT_TRUE(pty.Write(Bytes({0x41, 0x42})));
  ASSERT_TRUE(WaitFor("data", 1));
  EXPECT_EQ(events.back().bytes, Bytes({0x41, 0x42}));
}

TEST_F(PtyCommTest, LineIsRaw38400_8N1WithoutFlowControl) {
  OpenIdle();
  termios t{};
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0); // the master reports its slave's settings
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
}

TEST_F(PtyCommTest, ShortGapsJoinIntoOneBlockAndALongGapSplits) {
  // The silence is measured on a clock the test moves, so only the order of
  // writes and moves decides; the terminal itself is real.
  comm = std::make_unique<TComm>(nullptr, std::make_shared<PosixSerialLayer>(clock));
  ConfigureAsComm1(*comm, pty.SlavePath());
  RecordEvents(*comm, events);
  OpenIdle();
  // A second look at the terminal (root passes its exclusive mark): the port
  // has taken the bytes in once the terminal holds none for it any more.
  const int look = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(look, 0);
  auto send = [&](const std::vector<uint8_t> &bytes) {
    const size_t taken = clock.Taken();
    ASSERT_TRUE(pty.Write(bytes));
    // The terminal hands what the master wrote on to its readers later (a
    // poll of the slave hurries it), so an empty queue alone may mean the
    // bytes are not there yet: the port's reader must also have woken for
    // them and be waiting again at the present moment.
    pollfd flush{look, POLLIN, 0};
    ::poll(&flush, 1, 0);
    ASSERT_TRUE(PumpUntil([&] {
      int unread = -1;
      return ioctl(look, FIONREAD, &unread) == 0 && unread == 0 && clock.Taken() > taken && clock.Looked(2);
    }));
  };
  // Moves the clock, waits until both threads acted on the new moment, and
  // hands on what they posted.
  auto advance = [&](int64_t ms) {
    clock.Advance(ms);
    ASSERT_TRUE(PumpUntil([&] { return clock.Looked(2); }));
    QCoreApplication::sendPostedEvents();
  };
  send(Bytes({0x55, 0x01}));
  advance(99);
  send(Bytes({0x02, 0x03}));
  advance(99);
  send(Bytes({0x04}));
  advance(99);
  EXPECT_EQ(CountOf(events, "data"), 0u) << "no gap of 100 ms yet";
  // A thread takes its next watch before it acts on the moment, so a block
  // that is due is awaited (with a bound), not expected at once.
  advance(1);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(events, "data") == 1u; }));
  advance(500);
  send(Bytes({0x99, 0x00}));
  advance(100);
  ::close(look);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(events, "data") == 2u; }));
  EXPECT_EQ(events[1].bytes, Bytes({0x55, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(events[2].bytes, Bytes({0x99, 0x00}));
}

TEST_F(PtyCommTest, MoreThan65535BytesWithoutAGapArriveAsSeveralBlocks) {
  OpenIdle();
  const std::vector<uint8_t> data = Pattern(150000, 5);
  std::thread writer([&] { pty.Write(data); });
  const bool all = PumpUntil([&] { return DataOf(events).size() >= data.size(); }, 20000);
  writer.join();
  ASSERT_TRUE(all);
  EXPECT_EQ(DataOf(events), data);
  size_t blocks = 0, largest = 0;
  for (const CommEvent &e : events)
    if (e.kind == "data") {
      ++blocks;
      largest = std::max(largest, e.bytes.size());
    }
  EXPECT_GE(blocks, 3u);
  EXPECT_EQ(largest, 65535u);
}

TEST_F(PtyCommTest, SecondOpenerIsRefused) {
  OpenIdle();
  TComm second(nullptr, std::make_shared<PosixSerialLayer>());
  second.SetCommName(pty.SlavePath());
  EXPECT_EQ(OpenError(second), QStringLiteral("Error opening serial port"));
  EXPECT_FALSE(second.IsOpen());
  // The first keeps working.
  ASSERT_TRUE(pty.Write(Bytes({0x42})));
  EXPECT_TRUE(WaitFor("data", 1));
}

TEST_F(PtyCommTest, DeviceLockedByAnotherProgramIsRefusedEvenForRoot) {
  const QByteArray path = pty.SlavePath().toLocal8Bit();
  const int other = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(OpenError(*comm), QStringLiteral("Error opening serial port"));
  EXPECT_FALSE(comm->IsOpen());
  ::close(other);
  EXPECT_EQ(OpenError(*comm), QStringLiteral("<opened>"));
}

TEST_F(PtyCommTest, ReopensAfterClose) {
  for (int round = 0; round < 3; ++round) {
    comm->OpenPort();
    ASSERT_TRUE(pty.Write(Bytes({round})));
    ASSERT_TRUE(WaitFor("data", static_cast<size_t>(round + 1)));
    comm->ClosePort();
    EXPECT_FALSE(comm->IsOpen());
  }
}

TEST_F(PtyCommTest, PeerHangingUpEndsTheLinkWithoutSpinning) {
  const std::set<QString> before = Threads();
  OpenIdle();
  std::set<QString> ours; // the receive and transmit threads
  for (const QString &id : Threads())
    if (!before.count(id))
      ours.insert(id);
  ASSERT_EQ(ours.size(), 2u);
  auto running = [&] {
    const std::set<QString> now = Threads();
    return std::count_if(ours.begin(), ours.end(), [&](const QString &id) { return now.count(id) > 0; });
  };
  ASSERT_TRUE(pty.Write(Bytes({0x55, 0x01})));
  ASSERT_TRUE(WaitFor("data", 1));
  ASSERT_TRUE(pty.Write(Bytes({0x55, 0x02, 0x03})));
  pty.CloseMaster(); // mid-stream
  // The receive thread ends (a thread that kept polling the dead line would
  // never end); the transmit thread, idle, has no reason to look.
  ASSERT_TRUE(WaitFor("hangup", 1));
  ASSERT_TRUE(PumpUntil([&] { return running() == 1; }));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(CountOf(events, "hangup"), 1u);
  EXPECT_TRUE(comm->IsOpen());
  // The transmit thread learns of it at its next write, and ends too.
  const auto frame = Bytes({0x68, 0x16});
  ASSERT_TRUE(comm->SendData(frame.data(), 2));
  ASSERT_TRUE(PumpUntil([&] { return running() == 0; }));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(CountOf(events, "hangup"), 2u);
  EXPECT_FALSE(comm->SendData(frame.data(), 2));
  comm->ClosePort();
  EXPECT_FALSE(comm->IsOpen());
}

TEST_F(PtyCommTest, OrdinaryFileIsNotACommHandle) {
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  comm->SetCommName(file.fileName());
  EXPECT_EQ(OpenError(*comm), QStringLiteral("File handle is not a comm handle "));
  EXPECT_FALSE(comm->IsOpen());
  // A corrected name opens.
  comm->SetCommName(pty.SlavePath());
  EXPECT_EQ(OpenError(*comm), QStringLiteral("<opened>"));
}

TEST_F(PtyCommTest, MissingDeviceCannotBeOpened) {
  const QString names[] = {QStringLiteral("/dev/kavrin-no-such-port"), QStringLiteral("kavrin-no-such-port"),
                           QString()};
  for (const QString &name : names) {
    comm->SetCommName(name);
    EXPECT_EQ(OpenError(*comm), QStringLiteral("Error opening serial port")) << name.toStdString();
    EXPECT_FALSE(comm->IsOpen());
  }
}

QString OpenReason(TComm &comm) {
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    return e.Reason();
  }
  return QStringLiteral("<opened>");
}

TEST_F(PtyCommTest, FailedOpensSayWhyAndWhatToDo) {
  comm->SetCommName(QStringLiteral("/dev/kavrin-no-such-port"));
  EXPECT_EQ(OpenReason(*comm), QStringLiteral("/dev/kavrin-no-such-port: No such file or directory (check the name "
                                              "and that the adapter is plugged in)"));
  comm->SetCommName(pty.SlavePath());
  const int other = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(OpenReason(*comm), pty.SlavePath() + QStringLiteral(": locked by another program (in use by another program)"));
  ::close(other);
}

TEST_F(PtyCommTest, TerminalsOfThisComputerAreNeverOpened) {
  for (const char *name : {"/dev/tty", "tty", "/dev/console", "tty0"}) {
    comm->SetCommName(QString::fromLatin1(name));
    EXPECT_EQ(OpenError(*comm), QStringLiteral("Error opening serial port")) << name;
    EXPECT_FALSE(comm->IsOpen()) << name;
  }
  // The terminal the program runs in (here: the one on its standard input).
  const int slave = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  const int savedStdin = ::dup(STDIN_FILENO);
  ASSERT_EQ(::dup2(slave, STDIN_FILENO), STDIN_FILENO);
  comm->SetCommName(pty.SlavePath());
  const QString reason = OpenReason(*comm);
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
  ::close(slave);
  EXPECT_TRUE(reason.contains(QStringLiteral("not a serial port"))) << reason.toStdString();
  EXPECT_EQ(OpenError(*comm), QStringLiteral("<opened>")) << "once it is no longer ours it opens";
}

// Character devices that take no line settings would be read as a box that
// never stops talking (or never answers); they are refused as they open.
TEST_F(PtyCommTest, DevicesThatAreNoTerminalAreRefused) {
  for (const char *name : {"/dev/zero", "/dev/urandom", "/dev/full", "/dev/null"}) {
    comm->SetCommName(QString::fromLatin1(name));
    EXPECT_EQ(OpenError(*comm), QStringLiteral("Error opening serial port")) << name;
    // The system's words differ by device (ENOTTY, EINVAL); they follow the refusal.
    const QString reason = OpenReason(*comm);
    EXPECT_TRUE(reason.startsWith(QString::fromLatin1(name) + QStringLiteral(": not a serial port (")) &&
                reason.endsWith(QLatin1Char(')')))
        << reason.toStdString();
    EXPECT_FALSE(comm->IsOpen()) << name;
  }
}

TEST_F(PtyCommTest, TerminalSettingsAreGivenBackOnClose) {
  const int slave = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_lflag |= ICANON | ECHO;
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(slave, &before), 0);

  OpenIdle();
  termios open{};
  ASSERT_EQ(tcgetattr(slave, &open), 0);
  EXPECT_EQ(cfgetospeed(&open), speed_t(B38400));
  EXPECT_EQ(open.c_lflag & (ICANON | ECHO), 0u);
  comm->ClosePort();
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  ::close(slave);
  EXPECT_EQ(cfgetospeed(&after), speed_t(B9600));
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST(SerialNames, PortNamesMapToDevices) {
  const std::pair<const char *, const char *> cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM5", "/dev/ttyS4"},
      {"COM12", "/dev/ttyS11"},
      {"com3", "/dev/ttyS2"},
      {"COM", "/dev/COM"},
      {"COM0", "/dev/COM0"},
      {"COM1x", "/dev/COM1x"},
      {"ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/serial/by-id/usb-box-if00", "/dev/serial/by-id/usb-box-if00"},
      {"./relative/port", "./relative/port"},
  };
  for (auto [name, path] : cases)
    EXPECT_EQ(PosixSerialLayer::DevicePath(QString::fromUtf8(name)), QString::fromUtf8(path)) << name;
}

TEST(SerialNames, StoredNameIsNeverRewritten) {
  TComm comm(nullptr, std::make_shared<PosixSerialLayer>());
  comm.SetCommName(QStringLiteral("COM12"));
  EXPECT_THROW(comm.OpenPort(), ECommsError);
  EXPECT_EQ(comm.CommName(), QStringLiteral("COM12"));
}

TEST(SerialNames, ListedDevicesExist) {
  for (const QString &path : ListSerialDevices()) {
    EXPECT_TRUE(path.startsWith(QLatin1String("/dev/"))) << path.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
  }
}
