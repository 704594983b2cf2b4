#include "records/replies.h"

namespace records {

bool ReplyPort::Send(std::function<void()> call) const {
  if (!gate_)
    return false;
  // Posted under the lock, so that the receiver cannot be deleted meanwhile.
  const std::lock_guard lock(gate_->mutex);
  if (!gate_->receiver)
    return false;
  return QMetaObject::invokeMethod(gate_->receiver, std::move(call), Qt::QueuedConnection);
}

Replies::Replies() : gate_(std::make_shared<ReplyPort::Gate>()) { gate_->receiver = new QObject; }

Replies::~Replies() {
  QObject *receiver = nullptr;
  {
    const std::lock_guard lock(gate_->mutex);
    receiver = std::exchange(gate_->receiver, nullptr);
  }
  // Takes the calls still waiting for it along, unrun.
  delete receiver;
}

} // namespace records
