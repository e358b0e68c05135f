#include "config/settings.h"

#include <charconv>

#include "config/profile.h"
#include "config/schema.h"
#include "platform/path_text.h"
#include "text/trim.h"

namespace morvanta {
namespace {

std::string_view Trim(std::string_view s) { return text::Trim(s, text::kSpacesAndTabs); }

bool IsDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// [TLS] from a snapshot the caller has read: an operation's settings come
// from one read of the file, so a hand edit made meanwhile is seen whole or
// not at all.
void LoadTls(TlsValues& values, const ProfileSnapshot& ini, const std::filesystem::path& settingsFile) {
  using namespace setting;
  if (const auto flag = ParseFlag(ReadSetting(ini, kTlsEnabled))) values.Enabled = *flag;
  // Trimmed; the files are looked for beside the program, whatever the
  // working folder: a station's shortcut may start it from anywhere.
  const auto read = [&](const SettingKey& key) {
    const std::string value(Trim(ReadSetting(ini, key)));
    if (value.empty() || key.type != SettingType::Path) return value;
    const std::filesystem::path p = platform::PathFromUtf8(value);
    return p.is_absolute() ? value : platform::Utf8Of((settingsFile.parent_path() / p).lexically_normal());
  };
  values.CACertificates = read(kTlsCACertificates);
  values.Certificate = read(kTlsCertificate);
  values.PrivateKey = read(kTlsPrivateKey);
  values.CRL = read(kTlsCRL);
  values.ServerName = read(kTlsServerName);
}

}  // namespace

std::filesystem::path SettingsPath(const std::filesystem::path& programDir) {
  return programDir / "Settings.ini";
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
  text = Trim(text);
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  // One sign at most: "+-5" is no number.
  const std::string_view digits =
      !plus && !text.empty() && text.front() == '-' ? text.substr(1) : text;
  if (!IsDigits(digits)) return std::nullopt;
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<bool> ParseFlag(std::string_view text) {
  text = Trim(text);
  if (EqualsIgnoringCase(text, "true")) return true;
  if (EqualsIgnoringCase(text, "false")) return false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  // A decimal number, possibly with a fraction: "1", "-1", "0", "0.0", "2.5".
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  if (!whole.empty() && !IsDigits(whole)) return std::nullopt;
  if (dot != std::string_view::npos && !fraction.empty() && !IsDigits(fraction)) return std::nullopt;
  if (dot != std::string_view::npos && whole.empty() && fraction.empty()) return std::nullopt;
  return text.find_first_not_of("0.") != std::string_view::npos;
}

void LoadArchiveSettings(SettingsValues& values,
                         const std::filesystem::path& settingsFile) {
  // One read of the file for every key: a search or Send runs this each time.
  using namespace setting;
  const ProfileSnapshot ini = ProfileSnapshot::Read(settingsFile);
  values.LocalAET = ReadSetting(ini, kLocalAET);
  values.QueryAET = ReadSetting(ini, kQueryAET);
  values.QueryIP = ReadSetting(ini, kQueryIP);
  // A default no value can hold tells a missing key from one holding "0".
  std::string portText = ReadSetting(ini, kQueryPort);
  if (portText == kQueryPort.defaultValue) {
    values.QueryPortText.reset();
    portText = "0";
  } else {
    values.QueryPortText = portText;
  }
  if (const auto port = ParseInt32(portText)) values.QueryPort = *port;
  if (const auto flag = ParseFlag(ReadSetting(ini, kStudyDateRange))) values.ExtStudyDate = *flag;
  const auto timeout = ParseInt32(ReadSetting(ini, kQueryTimeout));
  values.TimeoutSeconds = timeout && *timeout > 0 ? *timeout : dicom::kDefaultTimeoutSeconds;
  values.QueryModalityKey = ParseModalityKey(ReadSetting(ini, kModalityKey));
  values.ForwardBy = ParseForwardMethod(ReadSetting(ini, kForwardMethod));
  LoadTls(values.Tls, ini, settingsFile);
}

void LoadTlsSettings(TlsValues& values, const std::filesystem::path& settingsFile) {
  LoadTls(values, ProfileSnapshot::Read(settingsFile), settingsFile);
}

std::optional<std::string> PortProblem(const SettingsValues& values) {
  if (values.QueryPort >= 1 && values.QueryPort <= 65535) return std::nullopt;
  const std::string archive = values.QueryAET.empty() ? "the archive" : values.QueryAET;
  if (!values.QueryPortText) {
    return "Settings.ini has no [Query] Port: the TCP port of " + archive +
           " (1 to 65535) is needed";
  }
  return "Port \"" + *values.QueryPortText + "\" of " + archive +
         " in Settings.ini is not a TCP port (1 to 65535)";
}

std::string_view ModalityKeyText(ModalityKey key) {
  return key == ModalityKey::ModalitiesInStudy ? "ModalitiesInStudy" : "Modality";
}

ModalityKey ParseModalityKey(std::string_view text) {
  return EqualsIgnoringCase(Trim(text), "ModalitiesInStudy") ? ModalityKey::ModalitiesInStudy
                                                              : ModalityKey::Modality;
}

std::string_view ForwardMethodText(ForwardMethod method) {
  return method == ForwardMethod::Move ? "MOVE" : "REDIRECT";
}

ForwardMethod ParseForwardMethod(std::string_view text) {
  return EqualsIgnoringCase(Trim(text), "MOVE") ? ForwardMethod::Move : ForwardMethod::Redirect;
}

NodeEntry ParseNodeEntry(std::string_view entry) {
  const std::size_t bar = entry.find('|');
  if (bar == std::string_view::npos) return {std::string(entry), "", false};
  const std::string_view rest = entry.substr(bar + 1);
  return {std::string(entry.substr(0, bar)), std::string(rest.substr(0, rest.find('|'))), true};
}

std::string FormatNodeEntry(std::string_view alias, std::string_view aet) {
  return std::string(alias) + "|" + std::string(aet);
}

std::optional<NodeEntry> NodeSlot(std::string_view entry) {
  if (entry.empty()) return std::nullopt;
  return ParseNodeEntry(entry);
}

std::string NodeSlotText(const std::optional<NodeEntry>& slot) {
  return slot ? FormatNodeEntry(slot->alias, slot->aet) : std::string();
}

std::string NodeKey(int slot) { return SettingKeyName(setting::kNode, slot); }

}  // namespace morvanta
