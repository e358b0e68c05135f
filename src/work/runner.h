#pragma once
// The one shape of every background operation (search, Send, the connection
// test). A job is a plain function: it takes a cancel token and a way to
// report its progress, and returns a plain outcome. The runner owns the rest:
// the thread, the token, and getting progress and outcome to the thread that
// owns the runner.
//
//   - One job at a time, in the global thread pool (the program's exit, like
//     the tests, waits for it there).
//   - Each job gets a fresh CancelToken; cancel() sets it.
//   - Progress is the job's latest state: a newer state replaces one not yet
//     shown, at most one call is queued to the owner's thread at a time, and
//     states are shown at most every kProgressInterval. A state the job
//     reported before it returned is never lost: if it was not shown yet, it
//     is shown just before the outcome, never after.
//   - The outcome is delivered exactly once, on the owner's thread;
//     isRunning() is true from start() until just before it is delivered.
//   - Lifetime: destroying the runner cancels the job and does not wait for
//     it, so a window never sits out an archive's time-out when it closes.
//     The job holds only copies and the shared state below; whatever it
//     reports afterwards is dropped, and no callback runs for a runner that
//     is gone.
//
// Qt Core only. The runner lives on the thread that creates it, which must
// turn an event loop.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <utility>

#include "work/cancel_token.h"

namespace morvanta::work {

// The untyped part: a QObject cannot be a template.
class RunnerCore : public QObject {
  Q_OBJECT
 public:
  // The shortest time between two progress states shown: a few dozen a
  // second is all a status bar can usefully show.
  static constexpr std::chrono::milliseconds kProgressInterval{40};

  // What shows a state or an outcome; run on the owner's thread only.
  using Show = std::function<void()>;
  // From the job's thread: the closure that shows its latest state.
  using Post = std::function<void(Show)>;
  // Runs on the pool; returns what shows its outcome.
  using Task = std::function<Show(const CancelToken&, const Post&)>;

  explicit RunnerCore(QObject* parent = nullptr);
  ~RunnerCore() override;

  // False (and nothing started) while a job runs.
  bool start(Task task);
  void cancel();
  bool isRunning() const { return running_; }

 private:
  struct Shared;
  static void PostProgress(Shared& shared, Show show);
  void ShowLatest();
  void Finish(const Show& outcome);

  // Shared with the running job; its owner pointer is cleared, under its
  // lock, before this object goes.
  std::shared_ptr<Shared> shared_;
  CancelToken token_;
  bool running_ = false;
  QElapsedTimer lastShown_;
  QTimer throttle_;
};

struct NoProgress {};

// The typed front. `showOutcome` and `showProgress` run on the owner's
// thread only, and only while the runner lives.
template <class Outcome, class Progress = NoProgress>
class Runner {
 public:
  // Called by the job, from its thread, as often as it likes.
  using Report = std::function<void(const Progress&)>;
  using Job = std::function<Outcome(const CancelToken&, const Report&)>;

  explicit Runner(std::function<void(const Outcome&)> showOutcome,
                  std::function<void(const Progress&)> showProgress = {})
      : showOutcome_(std::move(showOutcome)), showProgress_(std::move(showProgress)) {}
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  bool start(Job job) {
    // The closures made on the job's thread carry `this` only to run on the
    // owner's thread, where the core runs them while it (and so this) lives.
    return core_.start([this, job = std::move(job)](const CancelToken& token,
                                                   const RunnerCore::Post& post) -> RunnerCore::Show {
      const Report report = [this, &post](const Progress& state) {
        post([this, state] {
          if (showProgress_) showProgress_(state);
        });
      };
      return [this, outcome = job(token, report)] { showOutcome_(outcome); };
    });
  }
  void cancel() { core_.cancel(); }
  bool isRunning() const { return core_.isRunning(); }

 private:
  std::function<void(const Outcome&)> showOutcome_;
  std::function<void(const Progress&)> showProgress_;
  RunnerCore core_;
};

}  // namespace morvanta::work
