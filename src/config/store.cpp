#include "config/store.h"

#include <system_error>
#include <vector>

#include "config/profile.h"
#include "config/schema.h"

namespace morvanta {

namespace {

SaveResult From(const WriteResult& written) { return {written.ok, written.missing, written.error}; }

}  // namespace

void TakeApplied(SettingsValues& values, const DialogSettings& applied) {
  values.ForwardNodes = applied.nodes;
  values.QueryModalityKey = applied.modalityKey;
  values.ForwardBy = applied.forwardBy;
}

bool SettingsStore::Exists() const {
  std::error_code ec;
  return std::filesystem::is_regular_file(file_, ec);
}

void SettingsStore::LoadArchive(SettingsValues& values) const { LoadArchiveSettings(values, file_); }

void SettingsStore::LoadTls(TlsValues& values) const { LoadTlsSettings(values, file_); }

NodeEntries SettingsStore::ForwardNodes() const {
  const ProfileSnapshot ini = ProfileSnapshot::Read(file_);
  NodeEntries nodes;
  for (int i = 0; i < kNodeSlots; ++i) nodes[static_cast<std::size_t>(i)] = NodeSlot(ReadSetting(ini, setting::kNode, i));
  return nodes;
}

std::string SettingsStore::ActiveNode() const { return ReadSetting(file_, setting::kActiveNode); }

std::optional<std::int32_t> SettingsStore::SearchHeight() const {
  return ParseInt32(ReadSetting(file_, setting::kSearchHeight));
}

SaveResult SettingsStore::SaveActiveNode(const std::string& aet) const {
  const SettingKey& key = setting::kActiveNode;
  return From(WriteINI(key.section, key.key, aet, file_, IfMissing::Keep));
}

SaveResult SettingsStore::SaveSearchHeight(int twips) const {
  const SettingKey& key = setting::kSearchHeight;
  return From(WriteINI(key.section, key.key, std::to_string(twips), file_, IfMissing::Keep));
}

SaveResult SettingsStore::Apply(const DialogSettings& settings) const {
  using namespace setting;
  std::vector<ProfileEntry> entries{
      SettingEntry(kLocalAET, settings.localAET),
      SettingEntry(kStudyDateRange, settings.extStudyDate ? "1" : "0"),
      SettingEntry(kQueryAET, settings.queryAET),
      SettingEntry(kQueryIP, settings.queryIP),
      SettingEntry(kQueryPort, settings.queryPort),
  };
  for (int i = 0; i < kNodeSlots; ++i)
    entries.push_back(SettingEntry(kNode, NodeSlotText(settings.nodes[static_cast<std::size_t>(i)]), i));
  const ProfileSnapshot ini = ProfileSnapshot::Read(file_);
  const auto present = [&](const SettingKey& key) {
    static constexpr const char* kAbsent = "\x01" "absent";
    return ini.Get(key.section, key.key, kAbsent) != kAbsent;
  };
  if (settings.modalityKey != ModalityKey::Modality || present(kModalityKey))
    entries.push_back(SettingEntry(kModalityKey, std::string(ModalityKeyText(settings.modalityKey))));
  if (settings.forwardBy != ForwardMethod::Redirect || present(kForwardMethod))
    entries.push_back(SettingEntry(kForwardMethod, std::string(ForwardMethodText(settings.forwardBy))));
  return From(WriteINI(entries, file_));
}

}  // namespace morvanta
