#include "search/search_worker.h"

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

SearchRunner::SearchRunner(QObject* parent)
    : QObject(parent), runner_([this](const SearchOutcome& outcome) { emit finished(outcome); }) {}

bool SearchRunner::start(const dicom::ArchiveAddress& archive,
                         const dicom::DataSet& identifier) {
  return runner_.start([archive, identifier, limit = resultLimit_](const work::CancelToken& cancel,
                                                                   const auto&) {
    return RunSearch(archive, identifier, SearchControl{cancel.flag(), limit});
  });
}

}  // namespace morvanta::search
