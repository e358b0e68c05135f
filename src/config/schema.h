#pragma once
// Every key of Settings.ini in one table: where it is, what it holds and
// what a missing key reads as. The loader and the store name keys only
// through these entries, so a key's spelling and default live in one place.

#include <string>
#include <string_view>

#include "config/profile.h"

namespace morvanta {

enum class SettingType {
  Text,    // taken as it is
  Flag,    // a decimal number (non-zero is on) or True / False
  Number,  // a whole decimal number
  Port,    // a TCP port; the text is kept to quote it when it is none
  Choice,  // one of a few words, any letter case
  Path,    // a file; a relative one is taken from the program folder
  Node,    // "alias|AE title", one key per node button slot
};

struct SettingKey {
  std::string_view section;
  std::string_view key;  // for Node: the prefix, "Node0" .. "Node7" in the file
  SettingType type;
  std::string_view defaultValue;  // what a missing key reads as
};

namespace setting {

inline constexpr SettingKey kLocalAET{"Local", "AET", SettingType::Text, ""};
inline constexpr SettingKey kStudyDateRange{"GENERAL", "StudyDate", SettingType::Flag, "0"};
inline constexpr SettingKey kQueryAET{"Query", "AET", SettingType::Text, ""};
inline constexpr SettingKey kQueryIP{"Query", "IP", SettingType::Text, ""};
// Missing is told apart from any text the file may hold (PortProblem).
inline constexpr SettingKey kQueryPort{"Query", "Port", SettingType::Port, "\x01"};
// Not positive or missing: dicom::kDefaultTimeoutSeconds.
inline constexpr SettingKey kQueryTimeout{"Query", "Timeout", SettingType::Number, ""};
inline constexpr SettingKey kModalityKey{"Query", "ModalityKey", SettingType::Choice, "Modality"};
inline constexpr SettingKey kForwardMethod{"Forward", "Method", SettingType::Choice, "REDIRECT"};
inline constexpr SettingKey kActiveNode{"Forward", "Active", SettingType::Text, ""};
inline constexpr SettingKey kNode{"Forward", "Node", SettingType::Node, ""};
// Twips.
inline constexpr SettingKey kSearchHeight{"Size", "SearchHeight", SettingType::Number, "10000"};
inline constexpr SettingKey kTlsEnabled{"TLS", "Enabled", SettingType::Flag, "0"};
inline constexpr SettingKey kTlsCACertificates{"TLS", "CACertificates", SettingType::Path, ""};
inline constexpr SettingKey kTlsCertificate{"TLS", "Certificate", SettingType::Path, ""};
inline constexpr SettingKey kTlsPrivateKey{"TLS", "PrivateKey", SettingType::Path, ""};
inline constexpr SettingKey kTlsServerName{"TLS", "ServerName", SettingType::Text, ""};
inline constexpr SettingKey kTlsCRL{"TLS", "CRL", SettingType::Path, ""};
// The audit record repository, host:port; empty: the system log only.
// Optional, edited by hand and never written by the program.
inline constexpr SettingKey kAuditRepository{"Audit", "Repository", SettingType::Text, ""};
// TLS (RFC 5425, with the [TLS] files) or UDP (RFC 5426).
inline constexpr SettingKey kAuditTransport{"Audit", "Transport", SettingType::Choice, "TLS"};

}  // namespace setting

// The key's name in the file; `slot` numbers a Node key.
inline std::string SettingKeyName(const SettingKey& k, int slot = -1) {
  return slot < 0 ? std::string(k.key) : std::string(k.key) + std::to_string(slot);
}

// The key's value in a snapshot, its default when missing.
inline std::string ReadSetting(const ProfileSnapshot& ini, const SettingKey& k, int slot = -1) {
  return ini.Get(k.section, SettingKeyName(k, slot), k.defaultValue, kProfileBufferSize);
}

// The same straight from the file.
inline std::string ReadSetting(const std::filesystem::path& file, const SettingKey& k) {
  return ReadINI(k.section, k.key, k.defaultValue, file, kProfileBufferSize);
}

// One key of a write.
inline ProfileEntry SettingEntry(const SettingKey& k, std::string value, int slot = -1) {
  return {std::string(k.section), SettingKeyName(k, slot), std::move(value)};
}

}  // namespace morvanta
