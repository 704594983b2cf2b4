#pragma once
// Driving the kavrin-boxsim executable from tests: start it, learn its device,
// talk to it raw, stop it, read its log. Header-only, POSIX plus Qt Core for the
// JSON log.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace boxsim_test {

using Clock = std::chrono::steady_clock;

// The simulator next to the test executables (both are built into the bin folder).
inline std::string SimulatorPath() {
  if (const char *dir = std::getenv("KAVRIN_BIN_DIR"); dir && *dir)
    return std::string(dir) + "/kavrin-boxsim";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/')) + "/kavrin-boxsim";
}

inline int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Reads exactly n bytes or gives up after timeoutMs.
inline std::vector<uint8_t> ReadBytes(int fd, size_t n, int timeoutMs) {
  std::vector<uint8_t> out;
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

// Writes every byte; false when the device fails.
inline bool WriteAll(int fd, const std::vector<uint8_t> &b) {
  size_t off = 0;
  while (off < b.size()) {
    const ssize_t n = write(fd, b.data() + off, b.size() - off);
    if (n > 0) {
      off += static_cast<size_t>(n);
    } else if (errno == EAGAIN || errno == EINTR) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      return false;
    }
  }
  return true;
}

// Opens a terminal device raw at 38400 baud, non-blocking; -1 on failure.
inline int OpenRaw(const std::string &path) {
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
    // Neither end leaks into other children; dup2 gives the child its own copy.
    fcntl(out[0], F_SETFD, FD_CLOEXEC);
    fcntl(out[1], F_SETFD, FD_CLOEXEC);
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
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
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
    if (pid_ <= 0)
      return -1; // never started: waitpid(-1) would reap someone else's child
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

// The simulator's log, one object per line.
inline std::vector<QJsonObject> ReadLog(const std::string &path) {
  std::vector<QJsonObject> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    out.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
  return out;
}

// A running simulator: started with the given options, its device path read
// from its first line of output.
class BoxSim {
public:
  explicit BoxSim(std::vector<std::string> options) : child_(WithProgram(std::move(options))) {
    if (child_.Pid() > 0)
      device_ = child_.ReadLine();
  }
  bool Started() const { return device_.rfind("/dev/", 0) == 0; }
  const std::string &Device() const { return device_; }
  pid_t Pid() const { return child_.Pid(); }
  // SIGTERM, then the exit status (-1 if it did not end in time).
  int Stop(int timeoutMs = 3000) {
    // kill(-1) would signal every process; a simulator that never started has nothing to stop.
    if (child_.Pid() <= 0)
      return -1;
    kill(child_.Pid(), SIGTERM);
    return child_.Wait(timeoutMs);
  }
  Child &Process() { return child_; }

private:
  static std::vector<std::string> WithProgram(std::vector<std::string> options) {
    options.insert(options.begin(), SimulatorPath());
    return options;
  }
  Child child_;
  std::string device_;
};

} // namespace boxsim_test
