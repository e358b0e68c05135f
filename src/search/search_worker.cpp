#include "search/search_worker.h"

#include <QtConcurrent/QtConcurrentRun>

#include "search/return_keys.h"

namespace morvanta::search {

SearchOutcome RunSearch(const dicom::ArchiveAddress& archive,
                        const dicom::DataSet& identifier) {
  return RunSearch(archive, identifier, SearchControl{});
}

SearchOutcome RunSearch(const dicom::ArchiveAddress& archive,
                        const dicom::DataSet& identifier,
                        const SearchControl& control) {
  SearchOutcome outcome;
  try {
    dicom::QueryClient client;
    client.SetParameters(archive);
    client.SetQueryRoot("STUDY");
    client.SetReturnKeys(kReturnKeys);
    client.SetResultLimit(control.resultLimit);
    client.SetCancelFlag(control.cancel);
    outcome.results = client.Find(identifier);
    outcome.count = outcome.results.Count();
    outcome.truncated = outcome.results.Truncated();
    outcome.incomplete = outcome.results.EndedEarly();
    outcome.phases = client.LastPhases();
  } catch (...) {
    outcome.results = {};
    outcome.count = 0;
    outcome.incomplete.reset();
    dicom::Failure failure = dicom::CurrentFailure();
    if (dicom::IsCancel(failure)) {
      outcome.cancelled = true;  // the user's choice, not a failure
    } else {
      outcome.error = std::move(failure);
    }
  }
  return outcome;
}

SearchRunner::SearchRunner(QObject* parent) : QObject(parent) {
  connect(&watcher_, &QFutureWatcher<SearchOutcome>::finished, this, [this] {
    SearchOutcome outcome = watcher_.result();
    running_ = false;
    emit finished(outcome);
  });
}

SearchRunner::~SearchRunner() {
  // The worker holds only its own copies, but waiting keeps the binding's
  // sockets from outliving the window that asked for them.
  watcher_.disconnect(this);
  watcher_.waitForFinished();
}

bool SearchRunner::start(const dicom::ArchiveAddress& archive,
                         const dicom::DataSet& identifier) {
  if (running_) return false;
  running_ = true;
  cancel_.store(false);
  SearchControl control;
  control.cancel = &cancel_;
  control.resultLimit = resultLimit_;
  watcher_.setFuture(QtConcurrent::run(
      [archive, identifier, control] { return RunSearch(archive, identifier, control); }));
  return true;
}

}  // namespace morvanta::search
