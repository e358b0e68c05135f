#pragma once
// The settings dialogs (password prompt, settings dialog, node editor) reach
// the main window only through SettingsHost, so this library never depends on
// the window's code and tests can stand in for the window.

#include <filesystem>

#include "config/settings.h"
#include "config/store.h"

class QWidget;

namespace morvanta::ui {
class MessageSink;
}

namespace morvanta::settings_ui {

class SettingsHost {
 public:
  virtual ~SettingsHost() = default;

  // Re-reads the archive and local settings from the file into values() and
  // shows or hides the window's study-date range row.
  virtual void GetINI() = 0;
  virtual const SettingsValues& values() const = 0;
  // Apply hands over what it wrote (TakeApplied in config/store.h).
  virtual void TakeApplied(const DialogSettings& applied) = 0;
  // Shows or hides the study-date range row (its label, the "-" and both pickers).
  virtual void SetDateRangeVisible(bool visible) = 0;
  // Re-reads Node0..Node7 and rebuilds the forward-node buttons.
  virtual void LoadNodeButtons() = 0;
  // Settings.ini, read and written only through the store.
  virtual const SettingsStore& store() const = 0;
  // Every message box of the dialogs goes through here.
  virtual ui::MessageSink& messages() = 0;
};

// The Settings menu command: the password prompt modally over `mainWindow`;
// after an accepted password, and once the prompt has closed, the settings
// dialog modally over (and centred on) `mainWindow`. Returns when both are
// closed.
void OpenSettingsFromMenu(QWidget* mainWindow, SettingsHost& host);

}  // namespace morvanta::settings_ui
