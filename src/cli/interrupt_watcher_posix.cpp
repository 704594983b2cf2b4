// The interrupt watcher over POSIX signals and a self-pipe.
#include "cli/interrupt_watcher.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// Shared with the handler: only lock-free atomics and plain descriptors.
std::atomic<int> gPipeWrite{-1};
std::atomic<int> gSignals{0};
int gPipeRead = -1;
struct sigaction gPreviousInt {};
struct sigaction gPreviousTerm {};

void OnSignal(int) {
  const int savedErrno = errno;
  if (gSignals.fetch_add(1) > 0)
    _exit(kExitInterrupted);
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(gPipeWrite.load(), &byte, 1);
  errno = savedErrno;
}

} // namespace

InterruptWatcher::InterruptWatcher() {
  if (gPipeWrite.load() >= 0) {
    error_ = QStringLiteral("another interrupt watcher is active");
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = qt_error_string(errno);
    return;
  }
  ownsPipe_ = true;
  gPipeRead = fds[0];
  gPipeWrite.store(fds[1]);
  gSignals.store(0);
  notifier_ = std::make_unique<QSocketNotifier>(gPipeRead, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { Drain(); });

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART; // other system calls carry on undisturbed
  if (sigaction(SIGINT, &action, &gPreviousInt) != 0) {
    error_ = qt_error_string(errno);
    return;
  }
  if (sigaction(SIGTERM, &action, &gPreviousTerm) != 0) {
    error_ = qt_error_string(errno);
    sigaction(SIGINT, &gPreviousInt, nullptr);
    return;
  }
  installed_ = true;
}

InterruptWatcher::~InterruptWatcher() {
  if (installed_) {
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
  }
  if (!ownsPipe_)
    return;
  notifier_.reset();
  close(gPipeRead);
  close(gPipeWrite.exchange(-1));
  gPipeRead = -1;
}

void InterruptWatcher::Drain() {
  char bytes[16];
  while (read(gPipeRead, bytes, sizeof bytes) > 0) {
  }
  if (requested_)
    return;
  requested_ = true;
  if (OnInterrupt)
    OnInterrupt();
}

} // namespace cli
