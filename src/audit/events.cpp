#include "audit/events.h"

#include "platform/process.h"
#include "platform/socket.h"

namespace morvanta::audit {

namespace {

// PS3.16 CID 400 (event IDs), 401 (event types), 402 (participant roles);
// RFC 3881 for the participant object ID types it defines.
Code Dcm(const char* code, const char* meaning) { return {code, "DCM", meaning}; }
const Code kApplicationActivity = Dcm("110100", "Application Activity");
const Code kBeginTransferring = Dcm("110102", "Begin Transferring DICOM Instances");
const Code kInstancesTransferred = Dcm("110104", "DICOM Instances Transferred");
const Code kQuery = Dcm("110112", "Query");
const Code kSecurityAlert = Dcm("110113", "Security Alert");
const Code kUserAuthentication = Dcm("110114", "User Authentication");
const Code kApplicationStart = Dcm("110120", "Application Start");
const Code kApplicationStop = Dcm("110121", "Application Stop");
const Code kLogin = Dcm("110122", "Login");
const Code kNetworkConfiguration = Dcm("110128", "Network Configuration");
const Code kSoftwareConfiguration = Dcm("110131", "Software Configuration");
const Code kApplication = Dcm("110150", "Application");
const Code kApplicationLauncher = Dcm("110151", "Application Launcher");
const Code kDestination = Dcm("110152", "Destination Role ID");
const Code kSource = Dcm("110153", "Source Role ID");
const Code kStudyInstanceUid = Dcm("110180", "Study Instance UID");
const Code kSopClassUid = Dcm("110181", "SOP Class UID");
const Code kPatientNumber{"2", "RFC-3881", "Patient Number"};
const Code kUri{"12", "RFC-3881", "URI"};

// Study Root Query/Retrieve Information Model - FIND (PS3.4 C.6.2).
constexpr const char* kStudyRootFind = "1.2.840.10008.5.1.4.1.2.2.1";
constexpr const char* kExplicitVRLittleEndian = "1.2.840.10008.1.2.1";

bool IsAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

Participant PersonParticipant(const Context& c) {
  Participant p;
  p.userId = c.person.login;
  p.userName = c.person.fullName;
  p.requestor = true;
  p.accessPoint = c.hostName;
  p.accessPointType = 1;
  return p;
}

// This process: its id, as the system log knows it, and its AE title.
Participant StationParticipant(const Context& c, bool requestor, std::vector<Code> roles) {
  Participant p;
  p.userId = std::to_string(platform::ProcessId());
  if (!c.localAET.empty()) p.alternativeUserId = "AETITLES=" + c.localAET;
  p.userName = "morvanta";
  p.requestor = requestor;
  p.accessPoint = c.hostName;
  p.accessPointType = 1;
  p.roles = std::move(roles);
  return p;
}

bool HasArchive(const Context& c) { return !c.archiveAET.empty() || !c.archiveHost.empty(); }

// The archive by its address (UserID) and AE title.
Participant ArchiveParticipant(const Context& c, std::vector<Code> roles) {
  Participant p;
  p.userId = c.archiveHost + ":" + std::to_string(c.archivePort);
  if (!c.archiveAET.empty()) p.alternativeUserId = "AETITLES=" + c.archiveAET;
  p.requestor = false;
  p.accessPoint = c.archiveHost;
  p.accessPointType = c.archiveHost.empty() ? 0 : IsAddress(c.archiveHost) ? 2 : 1;
  p.roles = std::move(roles);
  return p;
}

Message Base(const Context& c, Code event, Outcome outcome) {
  Message m;
  m.event = std::move(event);
  m.action = 'E';
  m.outcome = outcome;
  m.time = std::chrono::system_clock::now();
  m.sourceId = c.hostName;
  return m;
}

ParticipantObject PatientObject(const std::string& id, const std::string& name) {
  ParticipantObject o;
  o.id = id;
  o.typeCode = 1;
  o.role = 1;
  o.idType = kPatientNumber;
  o.name = name;
  return o;
}

std::string Archive(const Context& c) {
  return (c.archiveAET.empty() ? std::string("the archive") : c.archiveAET) + " at " + c.archiveHost + ":" +
         std::to_string(c.archivePort);
}

}  // namespace

Context ContextFrom(const SettingsValues& values) {
  return {CurrentPerson(), HostName(), values.LocalAET, values.QueryAET, values.QueryIP, values.QueryPort};
}

Message ApplicationActivity(const Context& c, bool start) {
  // PS3.15 A.5.3.1: the application (Application) and who started or
  // stopped it (Application Launcher, the requestor).
  Message m = Base(c, kApplicationActivity, Outcome::Success);
  m.types = {start ? kApplicationStart : kApplicationStop};
  m.participants.push_back(StationParticipant(c, false, {kApplication}));
  Participant person = PersonParticipant(c);
  person.roles = {kApplicationLauncher};
  m.participants.push_back(person);
  if (HasArchive(c)) m.participants.push_back(ArchiveParticipant(c, {}));
  return m;
}

Message Query(const Context& c, const QueryRecord& q) {
  // PS3.15 A.5.3.12: the process issuing the query (Source, requestor), the
  // one answering it (Destination), the person; the query as its SOP class
  // with the identifier in ParticipantObjectQuery.
  Message m = Base(c, kQuery, q.outcome);
  m.outcomeDescription = q.outcomeText.empty() ? std::to_string(q.results) + " results from " + Archive(c)
                                               : q.outcomeText;
  m.participants.push_back(StationParticipant(c, true, {kSource}));
  m.participants.push_back(ArchiveParticipant(c, {kDestination}));
  m.participants.push_back(PersonParticipant(c));
  ParticipantObject query;
  query.id = kStudyRootFind;
  query.typeCode = 2;
  query.role = 3;
  query.idType = kSopClassUid;
  query.query = q.identifier;
  query.details = {{"TransferSyntax", kExplicitVRLittleEndian}, {"NumberOfResults", std::to_string(q.results)}};
  query.description = q.keys;
  m.objects.push_back(std::move(query));
  if (!q.patientId.empty()) m.objects.push_back(PatientObject(q.patientId, {}));
  return m;
}

std::vector<Message> Transfer(const Context& c, const TransferRecord& t) {
  // The station asks; the archive sends. With the forwarding request the
  // archive has only been asked to begin (Begin Transferring DICOM
  // Instances, A.5.3.2), and the request does not say where it sends (the
  // archive keeps that for this station): the archive is the Source, the
  // station and person the requestors. A C-MOVE's final response counts
  // what the destination took: DICOM Instances Transferred (A.5.3.4) with
  // the destination node as Destination.
  std::vector<Message> messages;
  for (const PatientStudies& patient : t.patients) {
    int asked = 0;
    int done = 0;
    for (const StudyRequest& s : patient.studies) {
      ++asked;
      if (s.done) ++done;
    }
    const Outcome outcome = done == asked ? Outcome::Success
                            : t.failed && done == 0 ? Outcome::SeriousFailure
                                                    : Outcome::MinorFailure;
    Message m = Base(c, t.move ? kInstancesTransferred : kBeginTransferring, outcome);
    if (t.move) m.action = 'R';
    m.outcomeDescription = std::to_string(done) + " of " + std::to_string(asked) +
                           (t.move ? " studies moved by " + Archive(c) + " to " + t.destination
                                   : " forwarding requests stored by " + Archive(c)) +
                           (t.outcomeText.empty() ? std::string() : "; " + t.outcomeText);
    m.participants.push_back(ArchiveParticipant(c, {kSource}));
    if (t.move) {
      Participant destination;
      destination.userId = t.destination;
      destination.alternativeUserId = "AETITLES=" + t.destination;
      destination.roles = {kDestination};
      m.participants.push_back(destination);
    }
    m.participants.push_back(StationParticipant(c, true, {}));
    m.participants.push_back(PersonParticipant(c));
    for (const StudyRequest& s : patient.studies) {
      if (s.uid.empty()) continue;
      ParticipantObject study;
      study.id = s.uid;
      study.typeCode = 2;
      study.role = 3;
      study.idType = kStudyInstanceUid;
      study.description = s.done ? (t.move ? "moved" : "forwarding requested") : "not forwarded";
      study.studies = {s.uid};
      m.objects.push_back(std::move(study));
    }
    if (asked > static_cast<int>(m.objects.size()))
      m.outcomeDescription += "; " + std::to_string(asked - static_cast<int>(m.objects.size())) +
                              " studies without a Study Instance UID were not sent";
    m.objects.push_back(PatientObject(patient.patientId, patient.patientName));
    messages.push_back(std::move(m));
  }
  return messages;
}

Message SettingsChanged(const Context& c, const std::vector<std::string>& changedKeys,
                        const std::string& settingsFile) {
  // PS3.15 A.5.3.11: a change of the station's configuration is a Security
  // Alert; its type says which: the archive, the station's AE title and the
  // forward nodes are Network Configuration, the other choices Software
  // Configuration. The subject is Settings.ini, the detail the keys.
  Message m = Base(c, kSecurityAlert, Outcome::Success);
  bool network = false;
  bool software = false;
  std::string keys;
  for (const std::string& key : changedKeys) {
    (key.starts_with("[Query] AET") || key.starts_with("[Query] IP") || key.starts_with("[Query] Port") ||
     key.starts_with("[Local]") || key.starts_with("[Forward] Node"))
        ? network = true
        : software = true;
    keys += (keys.empty() ? "" : ", ") + key;
  }
  if (network) m.types.push_back(kNetworkConfiguration);
  if (software || changedKeys.empty()) m.types.push_back(kSoftwareConfiguration);
  m.outcomeDescription = changedKeys.empty() ? "Settings saved, nothing changed" : "Settings changed: " + keys;
  m.participants.push_back(PersonParticipant(c));
  m.participants.push_back(StationParticipant(c, false, {kApplication}));
  if (HasArchive(c)) m.participants.push_back(ArchiveParticipant(c, {}));
  ParticipantObject subject;
  subject.id = "file://" + c.hostName + settingsFile;
  subject.typeCode = 2;
  subject.role = 13;
  subject.idType = kUri;
  subject.details = {{"Alert Description", keys}};
  subject.description = keys;
  m.objects.push_back(std::move(subject));
  return m;
}

Message LoginRefused(const Context& c) {
  // PS3.15 A.5.3.13: the person who tried (requestor) and the process that
  // refused them; a failed login is a minor failure.
  Message m = Base(c, kUserAuthentication, Outcome::MinorFailure);
  m.types = {kLogin};
  m.outcomeDescription = "Settings password refused";
  m.participants.push_back(PersonParticipant(c));
  m.participants.push_back(StationParticipant(c, false, {kApplication}));
  if (HasArchive(c)) m.participants.push_back(ArchiveParticipant(c, {}));
  return m;
}

std::vector<std::string> ChangedDialogKeys(const SettingsValues& before, const DialogSettings& after) {
  std::vector<std::string> keys;
  if (before.LocalAET != after.localAET) keys.push_back("[Local] AET");
  if (before.ExtStudyDate != after.extStudyDate) keys.push_back("[GENERAL] StudyDate");
  if (before.QueryAET != after.queryAET) keys.push_back("[Query] AET");
  if (before.QueryIP != after.queryIP) keys.push_back("[Query] IP");
  if (before.QueryPortText.value_or("") != after.queryPort) keys.push_back("[Query] Port");
  if (before.QueryModalityKey != after.modalityKey) keys.push_back("[Query] ModalityKey");
  if (before.ForwardBy != after.forwardBy) keys.push_back("[Forward] Method");
  for (int slot = 0; slot < kNodeSlots; ++slot) {
    const auto& was = before.ForwardNodes[static_cast<std::size_t>(slot)];
    const auto& now = after.nodes[static_cast<std::size_t>(slot)];
    const bool same =
        was.has_value() == now.has_value() && (!was || (was->alias == now->alias && was->aet == now->aet));
    if (!same) keys.push_back("[Forward] " + NodeKey(slot));
  }
  return keys;
}

}  // namespace morvanta::audit
