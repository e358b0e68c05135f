#pragma once
// What the controller records in the audit trail (audit/): each search with
// the identifier as sent, and each Send per patient. Kept apart from the
// controller so that its flow shows only where a record is made.

#include <string>
#include <vector>

#include "audit/events.h"
#include "config/settings.h"
#include "dicom/dicom.h"
#include "forward/send.h"
#include "search/search_worker.h"

namespace morvanta::operations {

// A study as Send takes it: its UID ("" when the archive listed it without
// one) and, for the audit trail, its patient as the grid shows them.
struct SendStudy {
  std::string uid;
  std::string patientId;
  std::string patientName;
};

// The search's identifier, recorded when its outcome is known.
audit::QueryRecord QueryStarted(const dicom::DataSet& identifier);
void RecordSearch(const SettingsValues& settings, audit::QueryRecord query, const search::SearchOutcome& outcome);

// `studies` in the order Send sent their non-empty UIDs.
void RecordSend(const SettingsValues& settings, const std::vector<SendStudy>& studies, bool move,
                const std::string& destination, const forward::SendOutcome& outcome);

}  // namespace morvanta::operations
