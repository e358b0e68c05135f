#include "work/runner.h"

#include <QMetaObject>
#include <QThreadPool>
#include <mutex>

namespace morvanta::work {

struct RunnerCore::Shared {
  std::mutex mutex;
  // Null once the runner is gone. Calls are queued to it only under the
  // lock, and its destructor clears it under the lock before ~QObject drops
  // the calls still queued: no call reaches a runner that is gone.
  RunnerCore* owner = nullptr;
  Show pending;         // the latest state not yet shown
  bool queued = false;  // a ShowLatest call is queued or its timer armed
};

RunnerCore::RunnerCore(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
  shared_->owner = this;
  throttle_.setSingleShot(true);
  connect(&throttle_, &QTimer::timeout, this, &RunnerCore::ShowLatest);
}

RunnerCore::~RunnerCore() {
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->owner = nullptr;
    shared_->pending = nullptr;
  }
  token_.cancel();
}

bool RunnerCore::start(Task task) {
  if (running_) return false;
  running_ = true;
  token_ = CancelToken();
  lastShown_.invalidate();
  QThreadPool::globalInstance()->start([shared = shared_, token = token_, task = std::move(task)] {
    Show outcome = task(token, [&shared](Show show) { PostProgress(*shared, std::move(show)); });
    const std::lock_guard lock(shared->mutex);
    if (shared->owner == nullptr) return;
    // Queued after any ShowLatest call of this job, so it runs after them.
    QMetaObject::invokeMethod(
        shared->owner, [owner = shared->owner, outcome = std::move(outcome)] { owner->Finish(outcome); },
        Qt::QueuedConnection);
  });
  return true;
}

void RunnerCore::cancel() {
  if (running_) token_.cancel();
}

void RunnerCore::PostProgress(Shared& shared, Show show) {
  const std::lock_guard lock(shared.mutex);
  if (shared.owner == nullptr) return;
  shared.pending = std::move(show);
  if (shared.queued) return;
  shared.queued = true;
  QMetaObject::invokeMethod(
      shared.owner, [owner = shared.owner] { owner->ShowLatest(); }, Qt::QueuedConnection);
}

void RunnerCore::ShowLatest() {
  const qint64 sinceShown = lastShown_.isValid() ? lastShown_.elapsed() : kProgressInterval.count();
  if (sinceShown < kProgressInterval.count()) {
    // Too soon after the last one: shown when the interval is up, as
    // whatever state is latest then.
    throttle_.start(std::chrono::milliseconds(kProgressInterval.count() - sinceShown));
    return;
  }
  Show show;
  {
    const std::lock_guard lock(shared_->mutex);
    show.swap(shared_->pending);
    shared_->queued = false;
  }
  lastShown_.start();
  if (show) show();
}

void RunnerCore::Finish(const Show& outcome) {
  throttle_.stop();
  Show last;
  {
    const std::lock_guard lock(shared_->mutex);
    last.swap(shared_->pending);
    shared_->queued = false;
  }
  if (last) last();
  running_ = false;
  outcome();
}

}  // namespace morvanta::work
