#pragma once
// The settings values the program holds for the whole run, and the pure parts
// of loading them. The operations controller holds the values and reloads
// them from the file before each search or Send; the node buttons and the
// settings dialog's Apply change them only through it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/timeout.h"

namespace morvanta {

inline constexpr int kNodeSlots = 8;

// [Query] ModalityKey: the attribute the modality criterion is sent in. The
// station's archive matches Modality (0008,0060) at STUDY level, as stations
// have always asked it; a standard archive matches Modalities in Study
// (0008,0061) there (PS3.4 C.6.2.1.2).
enum class ModalityKey { Modality, ModalitiesInStudy };
// [Forward] Method: how Send forwards a study. Redirect stores the archive's
// private forwarding request; Move asks the archive by C-MOVE to send the
// study to the active forward node (PS3.4 C.4.2).
enum class ForwardMethod { Redirect, Move };

// [TLS]: DICOM over TLS for every association. The paths are absolute: a
// relative one in the file is taken from the program folder.
struct TlsValues {
  bool Enabled = false;  // [TLS] Enabled, read as [GENERAL] StudyDate
  std::string CACertificates;
  std::string Certificate;
  std::string PrivateKey;
  // The name or address the archive's certificate must carry where it is
  // not [Query] IP (not a path); empty: [Query] IP.
  std::string ServerName;
  std::string CRL;  // revocation lists; empty: none
};

// A forward node entry: alias, "|", AE title. Pieces after a second "|" are
// ignored; an entry without "|" is all alias with an empty AE title.
struct NodeEntry {
  std::string alias;
  std::string aet;
  bool hasBar = false;
  bool operator==(const NodeEntry&) const = default;
};
// [Forward] Node0..Node7: none for an empty (or missing) key.
using NodeEntries = std::array<std::optional<NodeEntry>, kNodeSlots>;

struct SettingsValues {

  std::string LocalAET;
  std::string QueryAET;
  std::string QueryIP;
  std::int32_t QueryPort = 0;
  // [Query] Port as the file holds it at the last load; none when the key is
  // missing. A port that does not convert is reported with this text.
  std::optional<std::string> QueryPortText;
  bool ExtStudyDate = false;
  std::string ActiveForwardAET;
  NodeEntries ForwardNodes;
  // [Query] Timeout, seconds: how long connecting, negotiating and each DICOM
  // response may take. Optional key; 30 when missing or not a positive number.
  int TimeoutSeconds = dicom::kDefaultTimeoutSeconds;
  // [Query] ModalityKey; Modality when missing or not one of the two words.
  ModalityKey QueryModalityKey = ModalityKey::Modality;
  // [Forward] Method; Redirect when missing or not one of the two words.
  ForwardMethod ForwardBy = ForwardMethod::Redirect;
  TlsValues Tls;
};

// "Modality" / "ModalitiesInStudy", as the key is written.
std::string_view ModalityKeyText(ModalityKey key);
// Either word in any letter case; anything else is the default, Modality.
ModalityKey ParseModalityKey(std::string_view text);
// "REDIRECT" / "MOVE", as the key is written.
std::string_view ForwardMethodText(ForwardMethod method);
// Either word in any letter case; anything else is the default, Redirect.
ForwardMethod ParseForwardMethod(std::string_view text);

// <program dir>/Settings.ini
std::filesystem::path SettingsPath(const std::filesystem::path& programDir);

// A whole decimal number in the 32-bit range, nothing else (no sign-less
// overflow, no trailing text). Spaces around it are ignored.
std::optional<std::int32_t> ParseInt32(std::string_view text);
// Any decimal number (non-zero is true) or the words True and False in any
// letter case.
std::optional<bool> ParseFlag(std::string_view text);

// GetINI's reading steps: LocalAET, QueryAET, QueryIP, QueryPort, ExtStudyDate
// (and TimeoutSeconds, QueryModalityKey, ForwardBy, Tls), each independent: a value that does not convert keeps
// its previous content. The file is read once for all of them, [TLS] included.
void LoadArchiveSettings(SettingsValues& values,
                         const std::filesystem::path& settingsFile);

// Why QueryPort cannot be used to reach the archive, quoting what
// Settings.ini holds ("abc", a 20-digit number, "11112.5"), or nothing when it
// is a TCP port (1 to 65535).
std::optional<std::string> PortProblem(const SettingsValues& values);

// The [TLS] section alone, one read of the file (the connection test reads
// it without touching the other values). An Enabled that is no flag keeps
// its previous value.
void LoadTlsSettings(TlsValues& values, const std::filesystem::path& settingsFile);

NodeEntry ParseNodeEntry(std::string_view entry);
std::string FormatNodeEntry(std::string_view alias, std::string_view aet);
// A key's text as a slot: none when empty.
std::optional<NodeEntry> NodeSlot(std::string_view entry);
// What a slot writes: "alias|AET", or nothing for none.
std::string NodeSlotText(const std::optional<NodeEntry>& slot);
// "Node0" .. "Node7"
std::string NodeKey(int slot);

}  // namespace morvanta
