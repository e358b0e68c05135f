#pragma once
// frmSettings: the settings dialog. It edits the archive and local settings
// and the list of forward nodes, and writes them all to Settings.ini on Apply
// and OK.

#include <QDialog>

class QCheckBox;
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

  // Writes every value in its fixed order, then shows or hides the window's
  // study-date range row and rebuilds the node buttons. Refuses an invalid
  // Remote Port before writing anything. Returns false, after telling the
  // user, when it refused or a write failed; the dialog keeps its values.
  bool Apply();

 private:
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
};

}  // namespace morvanta::settings_ui
