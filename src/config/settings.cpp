#include "config/settings.h"

#include <charconv>

#include "config/profile.h"

namespace morvanta {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

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
  const ProfileSnapshot ini = ProfileSnapshot::Read(settingsFile);
  const auto read = [&](const char* section, const char* key, const char* def) {
    return ini.Get(section, key, def, kProfileBufferSize);
  };
  values.LocalAET = read("Local", "AET", "");
  values.QueryAET = read("Query", "AET", "");
  values.QueryIP = read("Query", "IP", "");
  // A default no value can hold tells a missing key from one holding "0".
  static constexpr const char* kNoPort = "\x01";
  std::string portText = read("Query", "Port", kNoPort);
  if (portText == kNoPort) {
    values.QueryPortText.reset();
    portText = "0";
  } else {
    values.QueryPortText = portText;
  }
  if (const auto port = ParseInt32(portText)) values.QueryPort = *port;
  if (const auto flag = ParseFlag(read("GENERAL", "StudyDate", "0"))) values.ExtStudyDate = *flag;
  const auto timeout = ParseInt32(read("Query", "Timeout", ""));
  values.TimeoutSeconds = timeout && *timeout > 0 ? *timeout : kDefaultTimeoutSeconds;
  values.QueryModalityKey = ParseModalityKey(read("Query", "ModalityKey", ""));
  values.ForwardBy = ParseForwardMethod(read("Forward", "Method", ""));
  LoadTlsSettings(values.Tls, settingsFile);
}

void LoadTlsSettings(TlsValues& values, const std::filesystem::path& settingsFile) {
  const auto read = [&](const char* key, const char* def) {
    return ReadINI("TLS", key, def, settingsFile, kProfileBufferSize);
  };
  if (const auto flag = ParseFlag(read("Enabled", "0"))) values.Enabled = *flag;
  // The files are looked for beside the program, whatever the working
  // folder: a station's shortcut may start it from anywhere.
  const auto path = [&](const char* key) {
    const std::string value(Trim(read(key, "")));
    if (value.empty()) return value;
    const std::filesystem::path p(value);
    return p.is_absolute() ? value : (settingsFile.parent_path() / p).lexically_normal().string();
  };
  values.CACertificates = path("CACertificates");
  values.Certificate = path("Certificate");
  values.PrivateKey = path("PrivateKey");
  values.CRL = path("CRL");
  values.ServerName = std::string(Trim(read("ServerName", "")));
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

std::string NodeKey(int slot) { return "Node" + std::to_string(slot); }

}  // namespace morvanta
