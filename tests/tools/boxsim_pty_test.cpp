// The kavrin-boxsim executable over its pseudo-terminal, as the program meets it.
#include "boxsim_process.h"
#include "boxsim_wire.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

using namespace boxsim_test;

TEST(BoxSimProcess, AnswersOverItsTerminalAndSurvivesAReconnect) {
  QTemporaryDir dir;
  const std::string link = dir.filePath("box").toStdString();
  const std::string logPath = dir.filePath("box.log").toStdString();
  BoxSim sim({"--link", link, "--log", logPath});
  ASSERT_TRUE(sim.Started()) << sim.Device();
  const std::string pts = sim.Device();

  char target[4096];
  const ssize_t n = readlink(link.c_str(), target, sizeof target);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(target, static_cast<size_t>(n)), pts);

  int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, SetFrame(0x55, 0x50, 0x12, 0x34)));
  EXPECT_EQ(ReadBytes(fd, 5, 3000), Status(0x06, 0x99));

  // The program takes the port for exclusive use, closes it and opens it
  // again; the mark must not outlive its descriptor (as root the open itself
  // would succeed anyway, so look at the mark).
  ioctl(fd, TIOCEXCL);
  close(fd);
  // The simulator clears the mark on its next turn; until then a new look still sees it.
  int exclusive = -1;
  fd = -1;
  for (const auto start = Clock::now(); MsSince(start) < 3000 && exclusive != 0;) {
    if (fd >= 0) {
      close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(2)); // a pause between looks, not a guess at the time
    }
    fd = OpenRaw(pts);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  }
  EXPECT_EQ(exclusive, 0);
  Bytes two = CheckFrame();
  const Bytes set = SetFrame(0xAA, 0x33, 0x00, 0x00);
  two.insert(two.end(), set.begin(), set.end());
  ASSERT_TRUE(WriteAll(fd, two));
  EXPECT_EQ(ReadBytes(fd, 5, 3000), Status(0x03, 0x00)); // nothing loaded yet
  EXPECT_EQ(ReadBytes(fd, 5, 3000), Status(0x06, 0x99));
  close(fd);

  EXPECT_EQ(sim.Stop(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the simulator";

  const auto log = ReadLog(logPath);
  std::vector<std::string> seen;
  for (const auto &o : log)
    seen.push_back(o.value("dir").toString().toStdString() + " " + o.value("kind").toString().toStdString() + " " +
                   o.value("status").toString().toStdString());
  EXPECT_EQ(seen, (std::vector<std::string>{"rx set ", "tx status 99", "rx check ", "rx set ", "tx status 00",
                                            "tx status 99"}));
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0].value("count").toString(), "1234");
  // Two replies reach the program as two bursts: the second starts at least
  // 120 ms after the first (each time cut to whole ms), by the simulator's
  // own clock, so a test that reads late cannot shorten the gap.
  EXPECT_GE(log[5].value("t").toInteger() - log[4].value("t").toInteger(), 119);
}

TEST(BoxSimProcess, TakesAFullLoadInTheRequestedOrder) {
  QTemporaryDir dir;
  const std::string logPath = dir.filePath("box.log").toStdString();
  BoxSim sim({"--order", "3,1,1,2,4,5,6,7", "--log", logPath});
  const int fd = OpenRaw(sim.Device());
  ASSERT_GE(fd, 0);

  ASSERT_TRUE(WriteAll(fd, LoadFrame()));
  ASSERT_TRUE(WriteAll(fd, Record(0)));
  std::vector<int> asked;
  Bytes last;
  for (int i = 0; i < 10; ++i) {
    last = ReadBytes(fd, 5, 3000);
    if (last.size() == 5 && last[3] == 0x55) {
      last.push_back(ReadBytes(fd, 1, 1000).at(0));
      asked.push_back(last[4]);
      ASSERT_TRUE(WriteAll(fd, Record(last[4])));
      continue;
    }
    break;
  }
  EXPECT_EQ(asked, (std::vector<int>{3, 1, 1, 2, 4, 5, 6, 7}));
  EXPECT_EQ(last, Status(0x00, 0x99));
  close(fd);
  ASSERT_GT(sim.Pid(), 0);
  kill(sim.Pid(), SIGINT);
  EXPECT_EQ(sim.Process().Wait(3000), 0);

  // The log holds the exact image.
  std::string image[8];
  for (const auto &o : ReadLog(logPath))
    if (o.value("kind").toString() == "block" && o.value("ok").toBool())
      image[o.value("n").toInt()] = o.value("data").toString().toStdString();
  for (uint8_t b = 0; b < 8; ++b)
    EXPECT_EQ(image[b], Hex(BlockData(b))) << int(b);
}

TEST(BoxSimProcess, EndsWhenTheWatchedProcessEnds) {
  Child watched({"/bin/sleep", "30"});
  ASSERT_GT(watched.Pid(), 0);
  BoxSim sim({"--parent-pid", std::to_string(watched.Pid())});
  ASSERT_TRUE(sim.Started());
  EXPECT_EQ(sim.Process().Wait(300), -1);
  // Killed but not yet reaped: a zombie counts as ended.
  kill(watched.Pid(), SIGKILL);
  EXPECT_EQ(sim.Process().Wait(3000), 0);
  watched.Wait(1000);
}

TEST(BoxSimProcess, HelpAndBadOptions) {
  Child help({SimulatorPath(), "--help"});
  EXPECT_EQ(help.ReadLine(), "Usage: kavrin-boxsim [options]");
  EXPECT_EQ(help.Wait(3000), 0);
  Child bad({SimulatorPath(), "--order", "x"});
  EXPECT_TRUE(bad.ReadAll(1000).empty());
  EXPECT_EQ(bad.Wait(3000), 2);
}
