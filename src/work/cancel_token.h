#pragma once
// The one way a running job is told to stop. The runner that starts a job
// makes a fresh token for it and keeps a copy; the job holds its own copy,
// so the flag lives as long as either of them, whichever goes last.

#include <atomic>
#include <memory>

namespace morvanta::work {

class CancelToken {
 public:
  CancelToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}

  // From any thread; the job sees it at its next check.
  void cancel() const { flag_->store(true); }
  bool cancelled() const { return flag_->load(); }
  // The binding takes the flag itself (QueryClient::SetCancelFlag and the
  // like). Valid while this token, or a copy of it, lives.
  const std::atomic<bool>* flag() const { return flag_.get(); }

 private:
  std::shared_ptr<std::atomic<bool>> flag_;
};

}  // namespace morvanta::work
