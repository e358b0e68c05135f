#pragma once
// The C-FIND of one search, run off the UI thread. RunSearch is the worker's
// whole job and touches no widget; SearchRunner starts it and hands the
// outcome back on the UI thread.

#include <QFutureWatcher>
#include <QMetaType>
#include <QObject>
#include <optional>

#include "dicom/dicom.h"
#include "search/archive.h"

namespace morvanta::search {

struct SearchOutcome {
  dicom::DataSetList results;
  // The number of results; wide, so any count is just "too many" (see
  // IsTooMany), never an overflow.
  std::size_t count = 0;
  std::optional<ToolkitError> error;  // set: the search failed, results empty
  bool ok() const { return !error.has_value(); }
};

// One QueryClient with the archive's address, Study Root at STUDY level; one
// C-FIND with the identifier. Never throws: a failure comes back as the
// outcome's error.
SearchOutcome RunSearch(const ArchiveAddress& archive,
                        const dicom::DataSet& identifier);

// Runs one search at a time in the thread pool. Lives on the UI thread;
// finished() is emitted there.
class SearchRunner : public QObject {
  Q_OBJECT
 public:
  explicit SearchRunner(QObject* parent = nullptr);
  // Waits for a search still running, so no worker outlives the window.
  ~SearchRunner() override;

  // Starts the search; false (and nothing started) while one is running.
  bool start(const ArchiveAddress& archive, const dicom::DataSet& identifier);
  // From start() until just before finished() is emitted.
  bool isRunning() const { return running_; }

 signals:
  void finished(const morvanta::search::SearchOutcome& outcome);

 private:
  QFutureWatcher<SearchOutcome> watcher_;
  bool running_ = false;
};

}  // namespace morvanta::search

Q_DECLARE_METATYPE(morvanta::search::SearchOutcome)
