#pragma once
// One audit message in the DICOM audit message format (PS3.15 A.5): the
// event, who took part, where it was recorded and what it concerned. Plain
// values, written out as XML by ToXml; every text is escaped there, so any
// value (a patient name from the archive included) may be put in as it came.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace morvanta::audit {

// A coded value: csd-code, codeSystemName, originalText.
struct Code {
  std::string code;
  std::string system;
  std::string meaning;
};

// EventOutcomeIndicator (PS3.15 A.5.1).
enum class Outcome { Success = 0, MinorFailure = 4, SeriousFailure = 8 };

struct Participant {
  std::string userId;
  std::string alternativeUserId;  // "AETITLES=..." for a DICOM node
  std::string userName;
  bool requestor = false;
  std::string accessPoint;  // NetworkAccessPointID
  int accessPointType = 0;  // 1 machine name, 2 IP address; 0: none given
  std::vector<Code> roles;
};

// ParticipantObjectDetail: a type and a value (any bytes; base64 when written).
struct Detail {
  std::string type;
  std::string value;
};

struct ParticipantObject {
  std::string id;
  int typeCode = 0;  // 1 person, 2 system object
  int role = 0;      // 1 patient, 3 report, 13 security resource, 24 query
  Code idType;
  std::string name;   // ParticipantObjectName (a patient's name)
  std::string query;  // ParticipantObjectQuery (any bytes; base64 when written); excludes `name`
  std::vector<Detail> details;
  std::string description;
  std::vector<std::string> studies;  // ParticipantObjectContainsStudy
};

struct Message {
  Code event;
  char action = 'E';  // EventActionCode: C R U D E
  Outcome outcome = Outcome::Success;
  std::chrono::system_clock::time_point time;
  std::vector<Code> types;
  std::string outcomeDescription;
  std::vector<Participant> participants;
  std::string sourceId;  // AuditSourceID
  std::vector<ParticipantObject> objects;
};

// The message as one line of XML (no line breaks: a line break in a value is
// written as a character reference), UTF-8.
std::string ToXml(const Message& message);

// `utf8` as XML character data or attribute value: markup characters as
// entities, the characters XML 1.0 forbids (most C0 controls, U+FFFE,
// U+FFFF, bytes that are no UTF-8) as U+FFFD, and line breaks, tabs, DEL,
// the C1 controls and the characters that reorder or hide text (bidi
// controls, zero-width characters) as character references, so that whoever
// reads the raw record sees them.
std::string XmlText(std::string_view utf8);

std::string Base64(std::string_view bytes);

// xs:dateTime in UTC with milliseconds: 2026-12-09T15:31:05.123Z
std::string XsDateTime(std::chrono::system_clock::time_point time);

}  // namespace morvanta::audit
