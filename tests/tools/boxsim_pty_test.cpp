// The kavrin-boxsim executable over its pseudo-terminal, as the program meets it.
#include "boxsim_wire.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace boxsim_test;
using Clock = std::chrono::steady_clock;

namespace {

std::string SimulatorPath() {
  if (const char *dir = std::getenv("KAVRIN_BIN_DIR"); dir && *dir)
    return std::string(dir) + "/kavrin-boxsim";
  // Tests and tools share the build's bin folder.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/')) + "/kavrin-boxsim";
}

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Reads exactly n bytes or gives up after timeoutMs.
Bytes ReadBytes(int fd, size_t n, int timeoutMs) {
  Bytes out;
  const auto start = Clock::now();
  while (out.size() < n) {
    const int64_t left = timeoutMs - MsSince(start);
    if (left <= 0)
      break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0)
      continue;
    uint8_t buf[8192];
    const ssize_t got = read(fd, buf, std::min(sizeof buf, n - out.size()));
    if (got > 0)
      out.insert(out.end(), buf, buf + got);
    else if (got == 0 || (errno != EAGAIN && errno != EINTR))
      break;
  }
  return out;
}

void WriteAll(int fd, const Bytes &b) {
  size_t off = 0;
  while (off < b.size()) {
    const ssize_t n = write(fd, b.data() + off, b.size() - off);
    if (n > 0) {
      off += static_cast<size_t>(n);
    } else if (errno == EAGAIN || errno == EINTR) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      FAIL() << "write failed: " << errno;
    }
  }
}

int OpenRaw(const std::string &path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return fd;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
  tcflush(fd, TCIOFLUSH);
  return fd;
}

// A process with its standard output on a pipe.
class Child {
public:
  explicit Child(const std::vector<std::string> &argv) {
    int out[2];
    if (pipe(out) != 0)
      return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<char *> args;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    out_ = out[0];
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
      close(out_);
  }
  pid_t Pid() const { return pid_; }
  // One line of standard output, without its newline.
  std::string ReadLine(int timeoutMs = 5000) {
    std::string line;
    const auto start = Clock::now();
    while (MsSince(start) < timeoutMs) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0)
        continue;
      char c;
      if (read(out_, &c, 1) != 1)
        break;
      if (c == '\n')
        return line;
      line += c;
    }
    return line;
  }
  std::string ReadAll(int timeoutMs = 5000) {
    std::string all;
    for (std::string line; !(line = ReadLine(timeoutMs)).empty();)
      all += line + "\n";
    return all;
  }
  // Exit status, or -1 when the process is still running after timeoutMs.
  int Wait(int timeoutMs) {
    const auto start = Clock::now();
    while (MsSince(start) < timeoutMs) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
};

std::vector<QJsonObject> ReadLog(const std::string &path) {
  std::vector<QJsonObject> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    out.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
  return out;
}

} // namespace

TEST(BoxSimProcess, AnswersOverItsTerminalAndSurvivesAReconnect) {
  QTemporaryDir dir;
  const std::string link = dir.filePath("box").toStdString();
  const std::string logPath = dir.filePath("box.log").toStdString();
  Child sim({SimulatorPath(), "--link", link, "--log", logPath});
  ASSERT_GT(sim.Pid(), 0);
  const std::string pts = sim.ReadLine();
  ASSERT_EQ(pts.rfind("/dev/", 0), 0u) << pts;

  char target[4096];
  const ssize_t n = readlink(link.c_str(), target, sizeof target);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(target, static_cast<size_t>(n)), pts);

  int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  WriteAll(fd, SetFrame(0x55, 0x50, 0x12, 0x34));
  EXPECT_EQ(ReadBytes(fd, 5, 3000), Status(0x06, 0x99));

  // The program closes the port and opens it again.
  close(fd);
  fd = OpenRaw(pts);
  ASSERT_GE(fd, 0);
  Bytes two = CheckFrame();
  const Bytes set = SetFrame(0xAA, 0x33, 0x00, 0x00);
  two.insert(two.end(), set.begin(), set.end());
  WriteAll(fd, two);
  EXPECT_EQ(ReadBytes(fd, 5, 3000), Status(0x03, 0x00)); // nothing loaded yet
  const auto firstAt = Clock::now();
  EXPECT_EQ(ReadBytes(fd, 5, 3000), Status(0x06, 0x99));
  // Two replies reach the program as two bursts: well over 100 ms apart.
  EXPECT_GE(MsSince(firstAt), 110);
  close(fd);

  kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(3000), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the simulator";

  const auto log = ReadLog(logPath);
  std::vector<std::string> seen;
  for (const auto &o : log)
    seen.push_back(o.value("dir").toString().toStdString() + " " + o.value("kind").toString().toStdString() + " " +
                   o.value("status").toString().toStdString());
  EXPECT_EQ(seen, (std::vector<std::string>{"rx set ", "tx status 99", "rx check ", "rx set ", "tx status 00",
                                            "tx status 99"}));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0].value("count").toString(), "1234");
}

TEST(BoxSimProcess, TakesAFullLoadInTheRequestedOrder) {
  QTemporaryDir dir;
  const std::string logPath = dir.filePath("box.log").toStdString();
  Child sim({SimulatorPath(), "--order", "3,1,1,2,4,5,6,7", "--log", logPath});
  const std::string pts = sim.ReadLine();
  const int fd = OpenRaw(pts);
  ASSERT_GE(fd, 0);

  WriteAll(fd, LoadFrame());
  WriteAll(fd, Record(0));
  std::vector<int> asked;
  Bytes last;
  for (int i = 0; i < 10; ++i) {
    last = ReadBytes(fd, 5, 3000);
    if (last.size() == 5 && last[3] == 0x55) {
      last.push_back(ReadBytes(fd, 1, 1000).at(0));
      asked.push_back(last[4]);
      WriteAll(fd, Record(last[4]));
      continue;
    }
    break;
  }
  EXPECT_EQ(asked, (std::vector<int>{3, 1, 1, 2, 4, 5, 6, 7}));
  EXPECT_EQ(last, Status(0x00, 0x99));
  close(fd);
  kill(sim.Pid(), SIGINT);
  EXPECT_EQ(sim.Wait(3000), 0);

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
  Child sim({SimulatorPath(), "--parent-pid", std::to_string(watched.Pid())});
  ASSERT_FALSE(sim.ReadLine().empty());
  EXPECT_EQ(sim.Wait(300), -1);
  // Killed but not yet reaped: a zombie counts as ended.
  kill(watched.Pid(), SIGKILL);
  EXPECT_EQ(sim.Wait(3000), 0);
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
