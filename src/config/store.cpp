#include "config/store.h"

#include <system_error>
#include <vector>

#include "config/profile.h"

namespace morvanta {

namespace {

SaveResult From(const WriteResult& written) { return {written.ok, written.missing, written.error}; }

}  // namespace

bool SettingsStore::Exists() const {
  std::error_code ec;
  return std::filesystem::is_regular_file(file_, ec);
}

void SettingsStore::LoadArchive(SettingsValues& values) const { LoadArchiveSettings(values, file_); }

void SettingsStore::LoadTls(TlsValues& values) const { LoadTlsSettings(values, file_); }

std::array<std::string, kNodeSlots> SettingsStore::ForwardNodes() const {
  const ProfileSnapshot ini = ProfileSnapshot::Read(file_);
  std::array<std::string, kNodeSlots> nodes;
  for (int i = 0; i < kNodeSlots; ++i) nodes[static_cast<std::size_t>(i)] = ini.Get("Forward", NodeKey(i), "");
  return nodes;
}

std::string SettingsStore::ActiveNode() const { return ReadINI("Forward", "Active", "", file_); }

std::optional<std::int32_t> SettingsStore::SearchHeight() const {
  return ParseInt32(ReadINI("Size", "SearchHeight", "10000", file_));
}

SaveResult SettingsStore::SaveActiveNode(const std::string& aet) const {
  return From(WriteINI("Forward", "Active", aet, file_, IfMissing::Keep));
}

SaveResult SettingsStore::SaveSearchHeight(int twips) const {
  return From(WriteINI("Size", "SearchHeight", std::to_string(twips), file_, IfMissing::Keep));
}

SaveResult SettingsStore::Apply(const DialogSettings& settings) const {
  std::vector<ProfileEntry> entries{
      {"Local", "AET", settings.localAET},
      {"GENERAL", "StudyDate", settings.extStudyDate ? "1" : "0"},
      {"Query", "AET", settings.queryAET},
      {"Query", "IP", settings.queryIP},
      {"Query", "Port", settings.queryPort},
  };
  for (int i = 0; i < kNodeSlots; ++i)
    entries.push_back({"Forward", NodeKey(i), settings.nodes[static_cast<std::size_t>(i)]});
  const ProfileSnapshot ini = ProfileSnapshot::Read(file_);
  const auto present = [&](const char* section, const char* key) {
    static constexpr const char* kAbsent = "\x01" "absent";
    return ini.Get(section, key, kAbsent) != kAbsent;
  };
  if (settings.modalityKey != ModalityKey::Modality || present("Query", "ModalityKey"))
    entries.push_back({"Query", "ModalityKey", std::string(ModalityKeyText(settings.modalityKey))});
  if (settings.forwardBy != ForwardMethod::Redirect || present("Forward", "Method"))
    entries.push_back({"Forward", "Method", std::string(ForwardMethodText(settings.forwardBy))});
  return From(WriteINI(entries, file_));
}

}  // namespace morvanta
