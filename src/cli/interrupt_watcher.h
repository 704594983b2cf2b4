#pragma once
// Ctrl+C and SIGTERM for the command line, the Qt way: the signal handler only
// writes one byte into a pipe; a QSocketNotifier on the pipe's other end calls
// OnInterrupt on the event loop's thread, where stopping the sessions is safe.
// A second signal after the first ends the process at once with status 130,
// from the handler, so an operator is never stuck behind a box that does not
// stop. One watcher at a time (signal dispositions belong to the process);
// destroying it puts the previous dispositions back.

#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace cli {

inline constexpr int kExitInterrupted = 130;

class InterruptWatcher {
public:
  InterruptWatcher();
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher &) = delete;
  InterruptWatcher &operator=(const InterruptWatcher &) = delete;

  // False when the handlers could not be put in place; Error() says why.
  bool Installed() const { return installed_; }
  const QString &Error() const { return error_; }
  // The first SIGINT or SIGTERM arrived.
  bool Requested() const { return requested_; }

  // Called once, on the thread that created the watcher, for the first signal.
  std::function<void()> OnInterrupt;

private:
  void Drain();
  bool ownsPipe_ = false;
  bool installed_ = false;
  bool requested_ = false;
  QString error_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace cli
