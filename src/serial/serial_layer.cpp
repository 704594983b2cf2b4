#include "serial/serial_layer.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace serial {

struct WorkerThread::State {
  enum class Phase { Suspended, Running, Cancelled };
  std::mutex mutex;
  std::condition_variable changed;
  Phase phase = Phase::Suspended;
  bool ended = false;
  std::thread thread;
};

WorkerThread::WorkerThread(std::function<void()> body) : state_(std::make_shared<State>()) {
  state_->thread = std::thread([state = state_, body = std::move(body)] {
    bool run;
    {
      std::unique_lock lock(state->mutex);
      state->changed.wait(lock, [&] { return state->phase != State::Phase::Suspended; });
      run = state->phase == State::Phase::Running;
    }
    if (run)
      body();
    std::lock_guard lock(state->mutex);
    state->ended = true;
    state->changed.notify_all();
  });
}

WorkerThread::~WorkerThread() {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->phase == State::Phase::Suspended)
      state_->phase = State::Phase::Cancelled;
    state_->changed.notify_all();
  }
  state_->thread.join();
}

void WorkerThread::Start() {
  std::lock_guard lock(state_->mutex);
  if (state_->phase == State::Phase::Suspended)
    state_->phase = State::Phase::Running;
  state_->changed.notify_all();
}

bool WorkerThread::WaitFor(uint32_t ms) {
  std::unique_lock lock(state_->mutex);
  if (state_->phase == State::Phase::Suspended)
    return false;
  return state_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_->ended; });
}

std::unique_ptr<WorkerThread> SerialLayer::CreateThread(ThreadRole, std::function<void()> body) {
  try {
    return std::make_unique<WorkerThread>(std::move(body));
  } catch (const std::system_error &) {
    return nullptr;
  }
}

void SerialLayer::SetCurrentThreadPriority(int) {}

Block SerialLayer::AllocateBlock(size_t size, BlockUse) { return Block(new (std::nothrow) uint8_t[size]()); }

bool SerialLayer::AcceptNotice(uint32_t) { return true; }

QString OpenFailureHint(OpenFailure::Kind kind) {
  switch (kind) {
  case OpenFailure::Kind::NoPermission:
    return QStringLiteral("add your user to the dialout group, then log in again");
  case OpenFailure::Kind::InUse:
    return QStringLiteral("in use by another program");
  case OpenFailure::Kind::Missing:
    return QStringLiteral("check the name and that the adapter is plugged in");
  case OpenFailure::Kind::NotASerialPort:
  case OpenFailure::Kind::Other:
    break;
  }
  return {};
}

QString OpenFailure::Text() const {
  QString text = device.isEmpty() ? detail : device + QStringLiteral(": ") + detail;
  if (const QString hint = OpenFailureHint(kind); !hint.isEmpty())
    text += QStringLiteral(" (") + hint + QLatin1Char(')');
  return text;
}

OpenFailure::Kind OpenFailureKindOf(int error) {
  switch (error) {
  case ENOENT:
  case ENODEV:
  case ENXIO:
  case ENOTDIR:
    return OpenFailure::Kind::Missing;
  case EACCES:
  case EPERM:
  case EROFS:
    return OpenFailure::Kind::NoPermission;
  case EBUSY:
  case EWOULDBLOCK:
    return OpenFailure::Kind::InUse;
  default:
    return OpenFailure::Kind::Other;
  }
}

} // namespace serial
