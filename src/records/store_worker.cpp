#include "records/store_worker.h"

#include <QThread>
#include <future>

namespace records {

class StoreWorker::Thread : public QThread {
public:
  explicit Thread(StoreWorker &worker) : worker_(worker) {}

  // Set once the thread's event loop can take posts.
  std::promise<void> ready;

protected:
  void run() override {
    ready.set_value();
    exec();
    // What the tasks left is closed on the thread that made it.
    worker_.connections_.clear();
    delete worker_.context_;
    worker_.context_ = nullptr;
  }

private:
  StoreWorker &worker_;
};

StoreWorker::StoreWorker(const QString &name) : thread_(std::make_unique<Thread>(*this)) {
  thread_->setObjectName(name);
  context_ = new QObject;
  context_->moveToThread(thread_.get());
  // Returns once the thread made its event dispatcher, so that the first post
  // finds it made (and a race detector sees it made before).
  std::future<void> running = thread_->ready.get_future();
  thread_->start();
  running.wait();
}

StoreWorker::~StoreWorker() { Stop(); }

bool StoreWorker::Post(std::function<void()> task) {
  const std::lock_guard lock(mutex_);
  if (stopping_)
    return false;
  return QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void StoreWorker::Stop() {
  {
    const std::lock_guard lock(mutex_);
    // Queued behind every task posted so far: they all run before the loop ends.
    if (!stopping_.exchange(true))
      QMetaObject::invokeMethod(context_, [this] { thread_->quit(); }, Qt::QueuedConnection);
  }
  if (!OnWorkerThread())
    thread_->wait();
}

bool StoreWorker::OnWorkerThread() const { return QThread::currentThread() == thread_.get(); }

db::Connection &StoreWorker::Connection(const StoreLocation &where, db::Connection::Target target,
                                        const char *purpose, bool readOnly) {
  std::unique_ptr<db::Connection> &c = connections_[purpose];
  if (!c) {
    c = std::make_unique<db::Connection>(where, target, purpose);
    if (readOnly)
      c->ReadOnly();
  }
  return *c;
}

} // namespace records
