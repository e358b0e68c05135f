#pragma once
// The events the program records, each as the audit message the DICOM
// standard defines for it (PS3.15 A.5.3, codes from PS3.16 CID 400-405).
// Every message names the person (the effective user's login and full
// name), the station (host name, this process, its AE title) and, where one
// is set, the archive (AE title, host:port).

#include <cstddef>
#include <string>
#include <vector>

#include "audit/message.h"
#include "config/settings.h"
#include "config/store.h"

namespace morvanta::audit {

struct Person {
  std::string login;     // from the effective uid; its number when it has no name
  std::string fullName;  // the passwd GECOS field's first part; may be empty
};
// The effective user, looked up each call (a set-uid change shows).
Person CurrentPerson();
std::string HostName();

struct Context {
  Person person;
  std::string hostName;
  std::string localAET;
  std::string archiveAET;
  std::string archiveHost;
  int archivePort = 0;
};
// The current person and host, and the station and archive as `values` hold them.
Context ContextFrom(const SettingsValues& values);

// Application Activity: the program started (true) or stopped.
Message ApplicationActivity(const Context& context, bool start);

struct QueryRecord {
  std::string identifier;   // the C-FIND identifier as sent (EncodeDataSet)
  std::string keys;         // the same, readable: "PatientID=12*; ModalitiesInStudy=CT"
  std::string patientId;    // the Patient ID key when it names one patient (no wildcard)
  std::size_t results = 0;
  Outcome outcome = Outcome::Success;
  std::string outcomeText;  // what went wrong, or ""
};
Message Query(const Context& context, const QueryRecord& query);

struct StudyRequest {
  std::string uid;  // "" : the archive listed it without one, never sent
  bool done = false;
};
struct PatientStudies {
  std::string patientId;
  std::string patientName;
  std::vector<StudyRequest> studies;
};
struct TransferRecord {
  bool move = false;           // C-MOVE to `destination`; otherwise the archive's forwarding request
  std::string destination;     // the C-MOVE destination's AE title
  std::vector<PatientStudies> patients;
  bool failed = false;         // ended by an error (not by the user)
  std::string outcomeText;     // the error's "number - description", or ""
};
// One message per patient (the standard's transfer messages name one).
std::vector<Message> Transfer(const Context& context, const TransferRecord& transfer);

// The settings dialog saved `changedKeys` ("[Query] Port") to `settingsFile`.
// Keys only: never a value.
Message SettingsChanged(const Context& context, const std::vector<std::string>& changedKeys,
                        const std::string& settingsFile);

// The settings password was refused.
Message LoginRefused(const Context& context);

// The keys of the settings dialog whose values differ between `before` and
// `after`, as "[Section] Key".
std::vector<std::string> ChangedDialogKeys(const SettingsValues& before, const DialogSettings& after);

}  // namespace morvanta::audit
