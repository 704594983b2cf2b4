#include "pty_runner.h"

#include "box_engine.h"
#include "tx_scheduler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace boxsim {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char c = 1;
  [[maybe_unused]] const auto n = write(g_signalPipe[1], &c, 1);
  errno = saved;
}

bool InstallSignals() {
  if (pipe(g_signalPipe) != 0)
    return false;
  for (int fd : g_signalPipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0)
    return;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
}

struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;
};

bool OpenPty(Pty &pty, std::string &error) {
  pty.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  const char *name = ptsname(pty.master);
  if (!name) {
    error = std::string("ptsname: ") + std::strerror(errno);
    return false;
  }
  pty.path = name;
  pty.slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (pty.slave < 0) {
    error = "cannot open " + pty.path + ": " + std::strerror(errno);
    return false;
  }
  MakeRaw(pty.slave);
  MakeRaw(pty.master);
  fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  fcntl(pty.master, F_SETFD, FD_CLOEXEC);
  fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
  return true;
}

// Replaces whatever is at `link` by a symbolic link to `target`, in one step.
bool PublishLink(const std::string &link, const std::string &target, std::string &error) {
  const std::string temp = link + ".tmp" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
    error = "cannot create the link " + link + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// Removes the link only if it still points at our device.
void RemoveLink(const std::string &link, const std::string &target) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target)
    unlink(link.c_str());
}

// A process that is gone, or a zombie nobody has reaped yet, counts as ended.
bool ProcessGone(long pid) {
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
    return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (stat && std::getline(stat, line)) {
    const size_t paren = line.rfind(')');
    if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z')
      return true;
  }
  return false;
}

class LogFile {
public:
  bool Open(const std::string &path, std::string &error) {
    if (path.empty())
      return true;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
      error = "cannot open the log " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
  }
  ~LogFile() {
    if (file_)
      std::fclose(file_);
  }
  void Write(const std::vector<std::string> &lines) {
    if (!file_ || lines.empty())
      return;
    for (const auto &l : lines) {
      std::fputs(l.c_str(), file_);
      std::fputc('\n', file_);
    }
    std::fflush(file_); // readable by a test while the simulator runs
  }

private:
  std::FILE *file_ = nullptr;
};

// A reply on its way out.
struct Sending {
  Reply reply;
  int64_t startUs = 0;
  size_t written = 0;
  int64_t lineEndUs = 0; // set when every byte is written
  bool drainedOnce = false;
};

constexpr int64_t kDrainLimitUs = 1'000'000;
constexpr int64_t kIdleWakeUs = 200'000;

} // namespace

int RunBoxSim(const Config &cfg) {
  std::string error;
  Pty pty;
  LogFile log;
  if (!InstallSignals() || !OpenPty(pty, error) || !log.Open(cfg.logPath, error) ||
      (!cfg.linkPath.empty() && !PublishLink(cfg.linkPath, pty.path, error))) {
    std::fprintf(stderr, "kavrin-boxsim: %s\n", error.empty() ? std::strerror(errno) : error.c_str());
    return 1;
  }
  std::printf("%s\n", pty.path.c_str());
  std::fflush(stdout);

  const auto t0 = std::chrono::steady_clock::now();
  auto now = [&] {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  };
  const pid_t firstParent = getppid();

  BoxEngine engine(cfg.box);
  TxScheduler sched;
  LineClock inputLine;
  std::optional<Sending> cur;
  std::vector<uint8_t> rx(65536);
  int64_t masterQuietUntil = 0; // after a hang-up on the master, poll it less eagerly

  bool stop = false;
  while (!stop) {
    // The program marks the port for exclusive use when it opens it. Because the
    // simulator holds the device too, the mark would outlive the program's
    // descriptor and refuse its next open, so it is cleared again.
    ioctl(pty.slave, TIOCNXCL);

    int64_t t = now();
    engine.Tick(t);
    log.Write(engine.TakeLog());

    if (!cur && sched.Waiting() > 0 && sched.NextStartUs() <= t) {
      cur = Sending{sched.Start(), t};
      log.Write({"{\"t\":" + std::to_string(t / 1000) + ",\"dir\":\"tx\"," + cur->reply.describe + "}"});
    }

    int64_t wakeUs = t + kIdleWakeUs;
    bool wantWrite = false;
    if (cur) {
      Sending &s = *cur;
      const auto &bytes = s.reply.bytes;
      if (s.written < bytes.size()) {
        const size_t allowed = cfg.paced ? BytesStarted(s.startUs, t, bytes.size()) : bytes.size();
        if (allowed > s.written) {
          const ssize_t n = write(pty.master, bytes.data() + s.written, allowed - s.written);
          if (n > 0)
            s.written += static_cast<size_t>(n);
          else if (errno == EAGAIN || errno == EINTR)
            wantWrite = true;
          else
            s.written = bytes.size(); // the line is gone: the reply is lost
        }
        if (s.written == bytes.size())
          s.lineEndUs = cfg.paced ? s.startUs + LineTimeUs(bytes.size()) : now();
        else if (!wantWrite)
          wakeUs = std::min(wakeUs, s.startUs + LineTimeUs(s.written));
      }
      if (s.written == bytes.size()) {
        t = now();
        if (t < s.lineEndUs) {
          wakeUs = std::min(wakeUs, s.lineEndUs);
        } else {
          // Silence starts when the reader on the slave side has taken every byte.
          int queued = 0;
          ioctl(pty.slave, FIONREAD, &queued);
          if (queued == 0 && s.drainedOnce) {
            sched.Finished(t);
            cur.reset();
          } else if (queued > 0 && t - s.lineEndUs > kDrainLimitUs) {
            tcflush(pty.slave, TCIFLUSH);
            log.Write({"{\"t\":" + std::to_string(t / 1000) +
                       ",\"dir\":\"tx\",\"kind\":\"dropped\",\"len\":" + std::to_string(queued) + "}"});
            sched.Finished(t);
            cur.reset();
          } else {
            s.drainedOnce = queued == 0;
            wakeUs = std::min(wakeUs, t + 1000);
          }
        }
      }
    }
    if (!cur && sched.Waiting() > 0)
      wakeUs = std::min(wakeUs, sched.NextStartUs());

    pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0}, {pty.master, 0, 0}};
    if (t >= masterQuietUntil)
      fds[1].events = POLLIN;
    if (wantWrite)
      fds[1].events |= POLLOUT;
    if (t < masterQuietUntil)
      wakeUs = std::min(wakeUs, masterQuietUntil);
    const int64_t waitUs = std::max<int64_t>(0, wakeUs - now());
    const int timeoutMs = static_cast<int>((waitUs + 999) / 1000);
    const int ready = poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR)
      break;

    if (fds[0].revents & POLLIN)
      stop = true;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(pty.master, rx.data(), rx.size());
      if (n > 0) {
        const int64_t readAt = now();
        const int64_t doneAt = cfg.paced ? inputLine.Arrive(static_cast<size_t>(n), readAt) : readAt;
        sched.Add(engine.Feed(rx.data(), static_cast<size_t>(n), doneAt));
        log.Write(engine.TakeLog());
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        masterQuietUntil = now() + 50'000;
      }
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      masterQuietUntil = now() + 50'000;
    }

    if (cfg.exitWithParent && getppid() != firstParent)
      stop = true;
    if (cfg.parentPid && ProcessGone(*cfg.parentPid))
      stop = true;
  }

  if (!cfg.linkPath.empty())
    RemoveLink(cfg.linkPath, pty.path);
  close(pty.slave);
  close(pty.master);
  return 0;
}

} // namespace boxsim
