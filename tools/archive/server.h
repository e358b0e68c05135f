#pragma once
// The archive's DICOM service: C-ECHO, C-FIND (Study Root, STUDY level) and
// C-STORE on a pool of association threads, with the misbehaviours tests ask
// for.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace morvanta::archive {

enum class Refusal { None, CalledAET, CallingAET, NoReason };

// Where a C-MOVE destination's AE title is reached.
struct Node {
  std::string host;
  int port = 0;
};

struct Options {
  int port = 11112;
  std::string aet = "ARCHIVE";
  bool acceptAnyAET = false;
  int demo = 0;
  std::string dataDir;
  std::string journal;
  std::string today;                  // "YYYYMMDD"; empty: the real current date
  std::string charset = "ISO_IR 100";  // of responses: "ISO_IR 100", "ISO_IR 192" or "" (none)
  int maxAssociations = 32;
  std::map<std::string, Node> nodes;  // C-MOVE destinations by AE title
  // TLS (BCP 195 non-downgrading) when tlsCert is set: every association
  // must come over TLS. With tlsCa, clients must show a certificate signed
  // by it; without, none is asked for.
  std::string tlsCert;
  std::string tlsKey;
  std::string tlsCa;
  // Misbehaviours.
  Refusal refuse = Refusal::None;
  int delayMs = 0;
  bool hang = false;             // accept the association, never answer a request
  bool hangAssociation = false;  // never answer the association request
  int failStoreAt = 0;           // 1-based number of the C-STORE that fails
  std::uint16_t failStoreStatus = 0xA700;
  std::optional<std::uint16_t> findStatus;  // final C-FIND status instead of success
  bool findAbort = false;                   // abort after the matches instead of the final status
  std::optional<int> results;               // answer every C-FIND with this many made-up studies
  std::string oddFirst;  // first match of every C-FIND: "long", "invalid" or "charset" (see --odd-first)
  int noStudyUid = 0;    // the first N matches of every C-FIND carry no Study Instance UID
  int abortStoreAt = 0;  // 1-based number of the C-STORE answered by an abort
  int hangStoreAt = 0;   // 1-based number of the C-STORE never answered
  bool hangRelease = false;  // never answer a release request
  int nestDepth = 0;             // the first match (and a C-MOVE's final response) nests sequences this deep
  int nestCommand = 0;           // the first C-FIND response's and every C-STORE response's command set nests this deep
  bool ignoreCancel = false;     // C-FIND: never stop for C-CANCEL, stream pending responses without end
  int waitCancelAfter = 0;       // C-FIND: after this many matches, nothing more until a C-CANCEL
  bool wrongMessageId = false;   // C-FIND responses answer another message ID than the request's
  bool oversizePdu = false;      // the first match comes in one PDU twice the client's maximum
  bool endlessMatch = false;     // the first match's data set never ends
};

// Runs until the process is ended. Returns a process exit code on failure to start.
int Serve(const Options& options);

}  // namespace morvanta::archive
