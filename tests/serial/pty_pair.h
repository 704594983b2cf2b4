#pragma once
// A pseudo-terminal pair: the component opens the slave by its path, the test
// plays the box on the master.

#include <QString>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

class PtyPair {
public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
      path_ = QString::fromLocal8Bit(ptsname(master_));
  }
  ~PtyPair() { CloseMaster(); }
  bool Ok() const { return master_ >= 0 && !path_.isEmpty(); }
  const QString &SlavePath() const { return path_; }
  int Master() const { return master_; }

  bool Write(const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0)
        return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Reads until `count` bytes arrived or `ms` passed.
  std::vector<uint8_t> Read(size_t count, int ms = 3000) {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0)
        break;
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
        break;
      uint8_t buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0)
        break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  void CloseMaster() {
    if (master_ >= 0)
      ::close(master_);
    master_ = -1;
  }

private:
  int master_ = -1;
  QString path_;
};
