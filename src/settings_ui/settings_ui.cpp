#include "settings_ui/settings_ui.h"

#include "audit/events.h"
#include "audit/trail.h"

#include "settings_ui/frm_login.h"
#include "settings_ui/frm_settings.h"

namespace morvanta::settings_ui {

void OpenSettingsFromMenu(QWidget* mainWindow, SettingsHost& host) {
  bool accepted = false;
  {
    // A fresh prompt each time: it keeps nothing between openings.
    frmLogin login(mainWindow, host.messages());
    QObject::connect(&login, &frmLogin::passwordRefused, &login, [&host] {
      audit::Record(audit::LoginRefused(audit::ContextFrom(host.values())));
    });
    accepted = login.exec() == QDialog::Accepted;
  }
  if (!accepted) return;
  // Owned by the main window, not by the prompt (closed by now), so it is
  // centred over the main window.
  frmSettings settings(mainWindow, host);
  settings.exec();
}

}  // namespace morvanta::settings_ui
