#pragma once
// The settings store: typed reads and writes of Settings.ini for the windows
// and dialogs, which never see the profile routines. Every read looks at the
// file as it is now (a change made by hand counts at once); every write keeps
// the profile writer's rules (in place in a locked folder, never over a file
// the user may not write, nothing written when nothing changes), and the
// dialog's Apply is one write for all its keys.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "config/settings.h"

namespace morvanta {

// What the settings dialog's Apply keeps: the fields as the user left them.
struct DialogSettings {
  std::string localAET;
  bool extStudyDate = false;
  std::string queryAET;
  std::string queryIP;
  std::string queryPort;  // as typed; the dialog checks it is a port first
  NodeEntries nodes;
  ModalityKey modalityKey = ModalityKey::Modality;
  ForwardMethod forwardBy = ForwardMethod::Redirect;
};

// What a successful Apply changes in the values the program holds: the node
// entries it wrote and the two choices. (The archive and local keys are
// reloaded from the file before each operation.)
void TakeApplied(SettingsValues& values, const DialogSettings& applied);

// What a write did: ok, or why not in words that name the file.
struct SaveResult {
  bool ok = true;
  bool missing = false;  // the file is not there, and this write does not make it
  std::string error;
  explicit operator bool() const { return ok; }
};

class SettingsStore {
 public:
  explicit SettingsStore(std::filesystem::path settingsFile) : file_(std::move(settingsFile)) {}

  const std::filesystem::path& file() const { return file_; }
  bool Exists() const;

  // The archive, local, date-row, search and forwarding settings, one read of
  // the file; a value that does not convert keeps its previous content.
  void LoadArchive(SettingsValues& values) const;
  // [TLS] alone.
  void LoadTls(TlsValues& values) const;
  // [Forward] Node0..Node7, one read.
  NodeEntries ForwardNodes() const;
  // [Forward] Active.
  std::string ActiveNode() const;
  // [Size] SearchHeight in twips; none when it is not a number (default 10000).
  std::optional<std::int32_t> SearchHeight() const;

  // The node button's choice and the height at close: a missing file is not
  // created (a stub holding one key would hide its absence at the next start).
  SaveResult SaveActiveNode(const std::string& aet) const;
  SaveResult SaveSearchHeight(int twips) const;
  // Apply: every key in one write. The optional keys (ModalityKey, Method)
  // are written only when they differ from the default or are in the file
  // already, so a file that never had them keeps its shape.
  SaveResult Apply(const DialogSettings& settings) const;

 private:
  std::filesystem::path file_;
};

}  // namespace morvanta
