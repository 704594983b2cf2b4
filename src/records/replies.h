#pragma once
// Replies: where a StoreWorker's answers land on the thread of the object
// that asked. The asker keeps a Replies as a member (made on its own thread,
// declared last so that it goes first) and hands its Port to the tasks it
// posts; a task calls Port().Send(call) from the worker, and `call` runs on
// the asker's thread by a queued call. Once the Replies is destroyed, a Send
// does nothing and a call already on its way is dropped unrun, so an answer
// never reaches an asker that is gone, and no queued call owns the object it
// is delivered to (whose teardown would then happen inside Qt's own).

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

namespace records {

class ReplyPort {
public:
  ReplyPort() = default;
  // From any thread. False when the Replies is gone and `call` was dropped.
  bool Send(std::function<void()> call) const;

  struct Gate {
    std::mutex mutex;
    QObject *receiver = nullptr; // null once the Replies is gone
  };

private:
  friend class Replies;
  explicit ReplyPort(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  std::shared_ptr<Gate> gate_;
};

class Replies {
public:
  Replies();
  ~Replies();
  Replies(const Replies &) = delete;
  Replies &operator=(const Replies &) = delete;

  ReplyPort Port() const { return ReplyPort(gate_); }

private:
  std::shared_ptr<ReplyPort::Gate> gate_;
};

} // namespace records
