#include "search/search_worker.h"

#include <QtConcurrent/QtConcurrentRun>

namespace morvanta::search {

SearchOutcome RunSearch(const ArchiveAddress& archive,
                        const dicom::DataSet& identifier) {
  SearchOutcome outcome;
  try {
    dicom::QueryClient client;
    client.SetPort(archive.port);
    client.SetHost(archive.host);
    client.SetCalledAET(archive.calledAET);
    client.SetCallingAET(archive.callingAET);
    client.SetQueryRoot("STUDY");
    client.SetTimeout(archive.timeoutSeconds);
    outcome.results = client.Find(identifier);
    outcome.count = outcome.results.Count();
  } catch (...) {
    outcome.results = {};
    outcome.count = 0;
    outcome.error = CurrentToolkitError();
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

bool SearchRunner::start(const ArchiveAddress& archive,
                         const dicom::DataSet& identifier) {
  if (running_) return false;
  running_ = true;
  watcher_.setFuture(QtConcurrent::run(RunSearch, archive, identifier));
  return true;
}

}  // namespace morvanta::search
