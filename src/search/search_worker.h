#pragma once
// The C-FIND of one search, run off the UI thread. RunSearch is the worker's
// whole job and touches no widget; SearchRunner starts it and hands the
// outcome back on the UI thread.

#include <QMetaType>
#include <QObject>
#include <atomic>
#include <cstddef>
#include <optional>

#include "dicom/archive.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "work/runner.h"

namespace morvanta::search {

struct SearchOutcome {
  dicom::DataSetList results;
  // The number of results; wide, so any count is just "too many" (see
  // IsTooMany), never an overflow.
  std::size_t count = 0;
  std::optional<dicom::Failure> error;  // set: the search failed, results empty
  bool ok() const { return !error.has_value(); }
  // Set on a success whose answer the archive cut short by itself: the
  // results are shown, and this is reported as the error it is.
  std::optional<dicom::Failure> incomplete;
  // The search stopped at SearchControl::resultLimit and the archive had
  // more: show the count as "400+".
  bool truncated = false;
  // Ended by the cancel flag: no error, results empty, not to be logged (as
  // for a cancelled Send).
  bool cancelled = false;
  // Where the search's time went (the benchmarks' breakdown).
  dicom::FindPhases phases;
};

// What may end a search early; the defaults change nothing.
struct SearchControl {
  const std::atomic<bool>* cancel = nullptr;  // set from any thread; must outlive the search
  std::size_t resultLimit = 0;                // 0: every match
};

// One QueryClient with the archive's address, Study Root at STUDY level; one
// C-FIND with the identifier. Never throws: a failure comes back as the
// outcome's error.
SearchOutcome RunSearch(const dicom::ArchiveAddress& archive,
                        const dicom::DataSet& identifier);
// The same, with a cancel flag and a result limit.
SearchOutcome RunSearch(const dicom::ArchiveAddress& archive,
                        const dicom::DataSet& identifier,
                        const SearchControl& control);

// Runs one search at a time in the thread pool (work::Runner: destroying it
// cancels the search without waiting). Lives on the UI thread; finished() is
// emitted there.
class SearchRunner : public QObject {
  Q_OBJECT
 public:
  explicit SearchRunner(QObject* parent = nullptr);

  // Starts the search; false (and nothing started) while one is running.
  bool start(const dicom::ArchiveAddress& archive, const dicom::DataSet& identifier);
  // Later searches stop at this many results (0, the default: every match).
  void setResultLimit(std::size_t limit) { resultLimit_ = limit; }
  // Ends the running search within about a second and a half, whatever the
  // archive does; finished() then carries an outcome with cancelled set.
  void cancel() { runner_.cancel(); }
  // From start() until just before finished() is emitted.
  bool isRunning() const { return runner_.isRunning(); }

 signals:
  void finished(const morvanta::search::SearchOutcome& outcome);

 private:
  std::size_t resultLimit_ = 0;
  work::Runner<SearchOutcome> runner_;
};

}  // namespace morvanta::search

Q_DECLARE_METATYPE(morvanta::search::SearchOutcome)
