#pragma once
// frmSettings: the settings dialog. It edits the archive and local settings
// and the list of forward nodes, and writes them all to Settings.ini on Apply
// and OK.

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "config/settings.h"
#include "config/store.h"
#include "operations/connection_test.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace morvanta::settings_ui {

class CharFilterEdit;
class SettingsHost;

// Each row is one Node<i> key, so the list never grows past the file's slots.
inline constexpr int kMaxNodeRows = 8;

// A Remote Port Apply accepts: a whole number from 1 to 65535. The text is
// still written exactly as typed (leading zeros included).
bool IsValidPortText(const QString& text);

class frmSettings : public QDialog {
  Q_OBJECT

 public:
  // Loads at once: the list from the host's ForwardNodes, then the host's
  // GetINI, then the fields; Apply starts disabled.
  frmSettings(QWidget* owner, SettingsHost& host);
  // A connection test still running is cancelled; its worker ends on its own.
  ~frmSettings() override;

  // Writes every value in its fixed order, then shows or hides the window's
  // study-date range row and rebuilds the node buttons. Refuses an invalid
  // Remote Port before writing anything. Returns false, after telling the
  // user, when it refused or a write failed; the dialog keeps its values.
  bool Apply();

  // True while the Test button's C-ECHO runs.
  bool testing() const { return echo_.isRunning(); }

  // However the dialog closes (OK, Cancel, Esc, the close box), a running
  // connection test is cancelled, so nothing waits for its time-out.
  void done(int result) override;

 signals:
  // The Test button's outcome has been shown, or the test was stopped.
  void connectionTested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The audit trail's record of a saved change.
  void RecordSaved(const DialogSettings& saved);
  void cmdTest_Click();
  void ShowTestOutcome(const operations::EchoOutcome& outcome);
  void Load();
  void cmdAdd_Click();
  void cmdEdit_Click();
  void cmdDelete_Click();
  void cmdOK_Click();
  void AddRow(const QString& alias, const QString& aet);
  void EnableApply();

  SettingsHost& host_;
  QTreeWidget* lvNodes;
  QPushButton* cmdAdd;
  QPushButton* cmdEdit;
  QPushButton* cmdDelete;
  QGroupBox* Frame1_1;
  QLabel* lblSettings_3;
  QLineEdit* txtLocAET;
  QGroupBox* Frame1_0;
  QLabel* lblSettings_0;
  QLineEdit* txtQuAET;
  QLabel* lblSettings_1;
  CharFilterEdit* txtQuIP;
  QLabel* lblSettings_2;
  CharFilterEdit* txtQuPort;
  QGroupBox* fraSettings;
  QCheckBox* chkExtStudy;
  QPushButton* cmdApply;
  QPushButton* cmdOK;
  QPushButton* cmdCancel;
  // The connection test beside the archive fields, and the choices of the
  // modality key and of forwarding by C-MOVE.
  QPushButton* cmdTest;
  QGroupBox* fraStandard;
  QLabel* lblModalityKey;
  QComboBox* cboModalityKey;
  QLabel* lblForwardMethod;
  QComboBox* cboForwardMethod;
  // Whether associations use TLS: [TLS] Enabled as Settings.ini has it
  // (set by hand; the dialog does not edit the section), and when on, the
  // name the archive's certificate is checked for.
  QLabel* lblTls;
  TlsValues shownTls_;
  // The connection test; its worker may outlive the dialog.
  operations::ConnectionTest echo_;
  void CancelTest();
  void ShowTls(const TlsValues& tls);
  void RefreshTls();
};

}  // namespace morvanta::settings_ui
