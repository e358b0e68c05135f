#include "settings_ui/settings_ui.h"

#include "settings_ui/frm_login.h"
#include "settings_ui/frm_settings.h"

namespace morvanta::settings_ui {

void OpenSettingsFromMenu(QWidget* mainWindow, SettingsHost& host) {
  bool accepted = false;
  {
    // A fresh prompt each time: it keeps nothing between openings.
    frmLogin login(mainWindow, host.messages());
    accepted = login.exec() == QDialog::Accepted;
  }
  if (!accepted) return;
  // Owned by the main window, not by the prompt (closed by now), so it is
  // centred over the main window.
  frmSettings settings(mainWindow, host);
  settings.exec();
}

}  // namespace morvanta::settings_ui
