// morvanta-archive: a small DICOM archive for demonstrations, tests and for
// checking a workstation's configuration.
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <set>
#include <string>

#include "platform/process.h"
#include "platform/socket.h"
#include "server.h"

namespace {

const char* const kHelp = R"(Usage: morvanta-archive [options]

A small DICOM archive: answers C-ECHO, C-FIND at STUDY level (Study Root),
C-MOVE at STUDY level (Study Root) and C-STORE (forwarding requests and
ordinary images).

  --port P              TCP port to listen on (default 11112); 0: a free port
                        the system picks, named in the first line of output
  --aet AET             this archive's AE title (default ARCHIVE); associations
                        calling another AE title are rejected
  --accept-any-aet      accept any called AE title
  --demo N              hold N made-up studies: deterministic, study dates on
                        today and the four weeks before, several modalities,
                        patient names with umlauts and other Latin-1 letters
  --today YYYYMMDD      the date the demo studies count back from (default: today)
  --data DIR            also hold the studies of the DICOM files in DIR (recursive)
  --node AET=HOST:PORT  a C-MOVE destination (repeatable): a C-MOVE of a study
                        to AET sends its images there by C-STORE; a destination
                        not listed is answered with 0xA801
  --journal FILE        append one JSON object a line for every C-ECHO, C-FIND
                        identifier, end of a C-FIND ("find-done", with the number
                        of matches sent), C-MOVE and C-STORE received
  --charset CS          character set of the answers: "ISO_IR 100" (default),
                        "ISO_IR 192" (UTF-8), or "none" (Latin-1 without (0008,0005))
  --max-associations N  associations served at the same time (default 32)
  --tls-cert FILE       speak TLS only (BCP 195 non-downgrading), with this
                        certificate (PEM) ...
  --tls-key FILE        ... and its unencrypted private key (PEM)
  --tls-ca FILE         require a client certificate signed by a CA in FILE
  --help                this text

Misbehaviours, for tests:
  --refuse WHY          reject every association: called (called AE title not
                        recognised), calling (calling AE title not recognised)
                        or noreason
  --delay MS            wait MS milliseconds before every response
  --hang                accept associations but never answer a request (a
                        C-CANCEL is not read either)
  --hang-association    never answer an association request
  --fail-store N[:HEX]  answer the N-th C-STORE (counted from 1) with status
                        HEX (default A700, out of resources); any status goes,
                        FE00 and FF00 too
  --find-status HEX     end every C-FIND with status HEX after the matches
  --find-abort          abort the association after the matches instead of
                        sending the final C-FIND response
  --results N           answer every C-FIND with N made-up studies, whatever
                        it asks for
  --odd-first KIND      make the first match of every C-FIND odd: long (a
                        65,534-byte Patient's Name), huge (a 40 MiB one),
                        invalid (bytes that are not
                        UTF-8 under "ISO_IR 192"), charset (an unknown
                        Specific Character Set, "ISO_IR 999"), japanese,
                        korean (ISO 2022 names) or chinese (GB18030)
  --no-study-uid N      leave the Study Instance UID out of the first N matches
                        of every C-FIND
  --abort-store N       abort the association when the N-th C-STORE (from 1)
                        arrives, instead of answering it
  --hang-store N        never answer the N-th C-STORE (from 1)
  --hang-release        never answer a release request
  --nest-depth N        the first match of every C-FIND, and the final
                        response of every C-MOVE, carry a sequence whose items
                        nest N levels deep
  --nest-command N      the command set of the first C-FIND response, and of
                        every C-STORE response, carries a sequence whose items
                        nest N levels deep
  --ignore-cancel       a C-FIND goes on after C-CANCEL: after its matches it
                        sends pending responses as fast as it can, without end
  --wait-cancel N       after the N-th match of a C-FIND, send nothing more
                        until a C-CANCEL comes (or the association ends)
  --wrong-message-id    C-FIND responses answer another message ID
  --oversize-pdu        the first match of every C-FIND comes in one PDU twice
                        as long as the client's maximum
  --endless-match       the first match of every C-FIND has a data set that
                        never ends: PDVs without end, none of them the last
)";

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "morvanta-archive: " << problem << "\nTry morvanta-archive --help\n";
  std::exit(2);
}

int Number(const std::string& option, const std::string& text, int low, int high) {
  try {
    std::size_t used = 0;
    const long value = std::stol(text, &used, 10);
    if (used == text.size() && value >= low && value <= high) return static_cast<int>(value);
  } catch (const std::exception&) {
  }
  Usage(option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
        ", not \"" + text + "\"");
}

std::uint16_t Status(const std::string& option, const std::string& text) {
  try {
    std::size_t used = 0;
    const std::string digits = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
    const unsigned long value = std::stoul(digits, &used, 16);
    if (used == digits.size() && value <= 0xFFFF) return static_cast<std::uint16_t>(value);
  } catch (const std::exception&) {
  }
  Usage(option + " needs a DICOM status in hex (for example A700), not \"" + text + "\"");
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = morvanta::platform::LocalTime(now);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  using morvanta::archive::Refusal;
  morvanta::archive::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--port") {
      options.port = Number(arg, value(), 0, 65535);
    } else if (arg == "--aet") {
      options.aet = value();
      if (options.aet.empty() || options.aet.size() > 16) Usage("--aet needs 1 to 16 characters");
    } else if (arg == "--accept-any-aet") {
      options.acceptAnyAET = true;
    } else if (arg == "--demo") {
      options.demo = Number(arg, value(), 0, 1000000);
    } else if (arg == "--today") {
      options.today = value();
      if (options.today.size() != 8 || options.today.find_first_not_of("0123456789") != std::string::npos)
        Usage("--today needs a date as YYYYMMDD");
    } else if (arg == "--data") {
      options.dataDir = value();
    } else if (arg == "--journal") {
      options.journal = value();
    } else if (arg == "--charset") {
      std::string cs = value();
      for (char& c : cs)
        if (c == '_') c = ' ';
      if (cs == "ISO IR 100") cs = "ISO_IR 100";
      if (cs == "ISO IR 192") cs = "ISO_IR 192";
      if (cs == "none") cs.clear();
      if (!cs.empty() && cs != "ISO_IR 100" && cs != "ISO_IR 192")
        Usage("--charset takes \"ISO_IR 100\", \"ISO_IR 192\" or none");
      options.charset = cs;
    } else if (arg == "--node") {
      const std::string spec = value();
      const auto equals = spec.find('=');
      const auto colon = spec.rfind(':');
      if (equals == std::string::npos || colon == std::string::npos || colon < equals || equals == 0 ||
          equals > 16 || colon == equals + 1)
        Usage("--node needs AET=HOST:PORT, not \"" + spec + "\"");
      morvanta::archive::Node node;
      node.host = spec.substr(equals + 1, colon - equals - 1);
      node.port = Number(arg, spec.substr(colon + 1), 1, 65535);
      options.nodes[spec.substr(0, equals)] = node;
    } else if (arg == "--tls-cert") {
      options.tlsCert = value();
    } else if (arg == "--tls-key") {
      options.tlsKey = value();
    } else if (arg == "--tls-ca") {
      options.tlsCa = value();
    } else if (arg == "--max-associations") {
      options.maxAssociations = Number(arg, value(), 1, 1000);
    } else if (arg == "--refuse") {
      const std::string why = value();
      if (why == "called") options.refuse = Refusal::CalledAET;
      else if (why == "calling") options.refuse = Refusal::CallingAET;
      else if (why == "noreason") options.refuse = Refusal::NoReason;
      else Usage("--refuse takes called, calling or noreason");
    } else if (arg == "--delay") {
      options.delayMs = Number(arg, value(), 0, 3600000);
    } else if (arg == "--hang") {
      options.hang = true;
    } else if (arg == "--hang-association") {
      options.hangAssociation = true;
    } else if (arg == "--fail-store") {
      const std::string spec = value();
      const auto colon = spec.find(':');
      options.failStoreAt = Number(arg, spec.substr(0, colon), 1, 1000000000);
      if (colon != std::string::npos) options.failStoreStatus = Status(arg, spec.substr(colon + 1));
    } else if (arg == "--find-status") {
      options.findStatus = Status(arg, value());
    } else if (arg == "--find-abort") {
      options.findAbort = true;
    } else if (arg == "--odd-first") {
      options.oddFirst = value();
      static const std::set<std::string> kOdd{"long", "huge", "invalid", "charset", "japanese", "korean", "chinese"};
      if (!kOdd.contains(options.oddFirst))
        Usage("--odd-first takes long, huge, invalid, charset, japanese, korean or chinese");
    } else if (arg == "--no-study-uid") {
      options.noStudyUid = Number(arg, value(), 0, 1000000000);
    } else if (arg == "--abort-store") {
      options.abortStoreAt = Number(arg, value(), 1, 1000000000);
    } else if (arg == "--hang-store") {
      options.hangStoreAt = Number(arg, value(), 1, 1000000000);
    } else if (arg == "--hang-release") {
      options.hangRelease = true;
    } else if (arg == "--nest-depth") {
      options.nestDepth = Number(arg, value(), 1, 1000000);
    } else if (arg == "--nest-command") {
      options.nestCommand = Number(arg, value(), 1, 1000000);
    } else if (arg == "--ignore-cancel") {
      options.ignoreCancel = true;
    } else if (arg == "--wait-cancel") {
      options.waitCancelAfter = Number(arg, value(), 1, 1000000000);
    } else if (arg == "--wrong-message-id") {
      options.wrongMessageId = true;
    } else if (arg == "--oversize-pdu") {
      options.oversizePdu = true;
    } else if (arg == "--endless-match") {
      options.endlessMatch = true;
    } else if (arg == "--results") {
      options.results = Number(arg, value(), 0, 1000000);
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (options.today.empty()) options.today = Today();
  if (options.tlsCert.empty() != options.tlsKey.empty()) Usage("--tls-cert and --tls-key go together");
  if (!options.tlsCa.empty() && options.tlsCert.empty()) Usage("--tls-ca needs --tls-cert and --tls-key");

  // DCMTK leaves Nagle's algorithm on unless this is set before the first
  // association; with it on every response waits for a delayed ACK.
  morvanta::platform::SetEnvironment("TCP_NODELAY", "1");
  // A client that disconnects mid-answer must not end the archive.
  morvanta::platform::IgnoreBrokenPipes();
  morvanta::platform::StartSockets();
  return morvanta::archive::Serve(options);
}
