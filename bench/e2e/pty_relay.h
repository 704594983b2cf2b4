#pragma once
// A pseudo-terminal placed between the program and the simulated box, so that
// the benchmark sees the line itself: the program opens the relay's device, a
// thread forwards every byte both ways and notes the moment each run of the
// program's bytes became readable on the line, and the moment each run of the
// box's bytes had been handed to the program's side (steady clock). The
// relay's own forwarding delay lies outside both spans, so it never counts
// against the program.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

class PtyRelay {
public:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point at; // when the bytes were seen on the line
    uint8_t first = 0;
    size_t length = 0;
    std::array<uint8_t, 6> head{}; // the run's first bytes
  };

  // Opens the relay device and the far device (raw, 38400 baud); false on failure.
  bool Start(const std::string &farDevice) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      return false;
    slavePath_ = ptsname(master_);
    // Held open so the line stays up while the program closes and reopens it.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    far_ = open(farDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0 || far_ < 0 || pipe(stop_) != 0)
      return false;
    for (int fd : {slave_, far_}) {
      termios t{};
      tcgetattr(fd, &t);
      cfmakeraw(&t);
      cfsetspeed(&t, B38400);
      tcsetattr(fd, TCSANOW, &t);
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  ~PtyRelay() {
    if (thread_.joinable()) {
      const char c = 0;
      (void)!write(stop_[1], &c, 1);
      thread_.join();
    }
    for (int fd : {master_, slave_, far_, stop_[0], stop_[1]})
      if (fd >= 0)
        close(fd);
  }

  const std::string &DevicePath() const { return slavePath_; }

  std::vector<Chunk> FromProgram() const {
    std::lock_guard lock(mutex_);
    return fromProgram_;
  }
  std::vector<Chunk> ToProgram() const {
    std::lock_guard lock(mutex_);
    return toProgram_;
  }

private:
  static bool WriteAll(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
      const ssize_t n = write(fd, data, size);
      if (n > 0) {
        data += n;
        size -= size_t(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 100);
      } else {
        return false;
      }
    }
    return true;
  }

  static Chunk ChunkOf(Clock::time_point at, const std::vector<uint8_t> &buf, size_t n) {
    Chunk c{at, buf[0], n, {}};
    std::copy_n(buf.begin(), std::min(n, c.head.size()), c.head.begin());
    return c;
  }

  void Run() {
    std::vector<uint8_t> buf(65536);
    for (;;) {
      pollfd p[3] = {{master_, POLLIN, 0}, {far_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(p, 3, -1) < 0)
        continue;
      const Clock::time_point seen = Clock::now();
      if (p[2].revents)
        return;
      if (p[0].revents & POLLIN) {
        const ssize_t n = read(master_, buf.data(), buf.size());
        if (n > 0) {
          {
            std::lock_guard lock(mutex_);
            fromProgram_.push_back(ChunkOf(seen, buf, size_t(n)));
          }
          WriteAll(far_, buf.data(), size_t(n));
        }
      }
      if (p[1].revents & POLLIN) {
        const ssize_t n = read(far_, buf.data(), buf.size());
        if (n > 0 && WriteAll(master_, buf.data(), size_t(n))) {
          std::lock_guard lock(mutex_);
          toProgram_.push_back(ChunkOf(Clock::now(), buf, size_t(n)));
        }
      }
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int far_ = -1;
  int stop_[2] = {-1, -1};
  std::string slavePath_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<Chunk> fromProgram_;
  std::vector<Chunk> toProgram_;
};

} // namespace bench
