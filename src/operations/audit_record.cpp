#include "operations/audit_record.h"

#include <cstdio>
#include <map>

#include "audit/trail.h"

#include "messages/message.h"

namespace morvanta::operations {

audit::QueryRecord QueryStarted(const dicom::DataSet& identifier) {
  audit::QueryRecord query;
  if (!audit::Installed()) return query;
  try {
    query.identifier = dicom::EncodeDataSet(identifier);
  } catch (...) {
    // The readable keys below still say what was asked.
  }
  for (const dicom::Attribute& a : identifier.Attributes().items()) {
    if (a.Value().empty()) continue;
    char tag[16];
    std::snprintf(tag, sizeof tag, "(%04X,%04X)", a.tag().group, a.tag().element);
    query.keys += (query.keys.empty() ? "" : "; ") + std::string(tag) + "=" + a.Value();
  }
  const std::string& id = identifier.PatientID();
  if (!id.empty() && id.find_first_of("*?\\") == std::string::npos) query.patientId = id;
  return query;
}

void RecordSearch(const SettingsValues& settings, audit::QueryRecord query, const search::SearchOutcome& outcome) {
  if (!audit::Installed()) return;
  query.results = outcome.count;
  if (outcome.cancelled) {
    query.outcome = audit::Outcome::MinorFailure;
    query.outcomeText = "Cancelled by the user after " + std::to_string(outcome.count) + " results";
  } else if (outcome.error) {
    query.outcome = audit::Outcome::SeriousFailure;
    query.outcomeText = ui::ErrorText(outcome.error->number, QString::fromStdString(outcome.error->description))
                            .toStdString();
  } else if (outcome.incomplete) {
    query.outcome = audit::Outcome::MinorFailure;
    query.outcomeText = std::to_string(outcome.count) + " results, incomplete: " +
                        ui::ErrorText(outcome.incomplete->number,
                                      QString::fromStdString(outcome.incomplete->description))
                            .toStdString();
  }
  audit::Record(audit::Query(audit::ContextFrom(settings), query));
}

void RecordSend(const SettingsValues& settings, const std::vector<SendStudy>& studies, bool move,
                const std::string& destination, const forward::SendOutcome& outcome) {
  if (!audit::Installed() || studies.empty()) return;
  audit::TransferRecord transfer;
  transfer.move = move;
  transfer.destination = destination;
  transfer.failed = !outcome.ok();
  if (outcome.error)
    transfer.outcomeText =
        ui::ErrorText(outcome.error->number, QString::fromStdString(outcome.error->description)).toStdString();
  else if (outcome.cancelled)
    transfer.outcomeText = "cancelled by the user";
  // The requests went in the order given, and a Send stops at its first
  // failure: the first `done` studies with a UID are the ones carried out.
  std::map<std::pair<std::string, std::string>, std::size_t> patientIndex;
  int sent = 0;
  for (const SendStudy& study : studies) {
    const auto key = std::make_pair(study.patientId, study.patientName);
    auto [it, added] = patientIndex.emplace(key, transfer.patients.size());
    if (added) transfer.patients.push_back({study.patientId, study.patientName, {}});
    const bool done = !study.uid.empty() && sent++ < outcome.done;
    transfer.patients[it->second].studies.push_back({study.uid, done});
  }
  for (const audit::Message& message : audit::Transfer(audit::ContextFrom(settings), transfer))
    audit::Record(message);
}

}  // namespace morvanta::operations
