#pragma once
// The main window: the search panel, the result grid, Send, the date
// shortcuts and the forward-node buttons, with its life from load to unload.

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "app/modGlobal.h"
#include "config/settings.h"
#include "log/clock.h"
#include "log/log.h"
#include "ui/ui.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;

namespace morvanta::ui {
class OptionalDateEdit;
}

namespace morvanta {

class frmMain : public QMainWindow {
  Q_OBJECT

 public:
  // `programDir` holds Settings.ini and Logs/. `messages` shows every message
  // box of the window; null means real boxes over this window. The sink must
  // outlive the window.
  explicit frmMain(std::filesystem::path programDir, Clock clock = SystemNow,
                   ui::MessageSink* messages = nullptr,
                   QWidget* parent = nullptr);
  ~frmMain() override;

  // Confirms that Settings.ini exists and reloads the archive settings from
  // it; when it is missing, logs and shows error 0 and returns false.
  bool CheckINI();
  // Loads the archive and local settings and shows or hides the study-date
  // range row according to ExtStudyDate.
  void GetINI();
  // Shows or hides the four controls of the study-date range row together.
  void SetDateRangeVisible(bool visible);

  // The forward-node buttons (rebuilt after the settings dialog's Apply).
  void LoadNodeButtons();
  void ActivateNode(std::int16_t index);

  // Logs the error and shows "number - description" with the critical icon;
  // the caller then ends its operation and the program keeps running.
  void ReportError(std::int32_t number, const QString& description,
                   std::string_view procedure);

  SettingsValues& settings() { return settings_; }
  const SettingsValues& settings() const { return settings_; }
  const Log& log() const { return log_; }
  ui::MessageSink& messages() { return *messages_; }
  const std::filesystem::path& programDir() const { return programDir_; }
  std::filesystem::path settingsPath() const;
  const Clock& clock() const { return clock_; }
  QDate today() const;

  // The window's outer size (frame, caption and menu bar included) in twips.
  int OuterHeightTwips() const;
  int OuterWidthTwips() const;

  // Controls, named as the rest of the program knows them.
  QMenu* mnuFile = nullptr;
  QAction* mnuClose = nullptr;
  QAction* mnuSettings = nullptr;
  QMenu* mnuMark = nullptr;  // the grid's right-click menu, not on the bar
  QAction* mnuMarkAll = nullptr;

  QPushButton* cmdToday = nullptr;
  QPushButton* cmdYesterday = nullptr;
  QPushButton* cmdWeek = nullptr;
  QPushButton* cmdSend = nullptr;
  QFrame* fraSearch = nullptr;
  QWidget* picSearch = nullptr;
  std::array<QLabel*, 9> lblSearch{};
  QLabel* lblListCount = nullptr;
  QTableView* grid1 = nullptr;

  QLineEdit* txtPatID = nullptr;
  QLineEdit* txtLastName = nullptr;
  QLineEdit* txtFirstName = nullptr;
  QLineEdit* txtPatName = nullptr;  // never shown: the composed patient name
  ui::OptionalDateEdit* dtpDOB = nullptr;
  ui::OptionalDateEdit* dtpStudy1 = nullptr;
  ui::OptionalDateEdit* dtpStudy2 = nullptr;
  ui::OptionalDateEdit* dtpStudyDate = nullptr;  // never shown: one study date
  QComboBox* cboMod = nullptr;
  QPushButton* cmdSearch = nullptr;
  modGlobal::NodeButtonArray cmdNode{};

 signals:
  // Emitted when Search starts (the button, or Enter in the search panel).
  void searchRequested();
  // Emitted by the "Settings" menu-bar command.
  void settingsRequested();

 public slots:
  void cmdSearch_Click();
  void mnuSettings_Click();
  void mnuClose_Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateMenus();
  void CreateControls(QWidget* client);
  void CreateSearchPanel();
  QTableView* CreateGrid(QWidget* client);
  void SetTabOrder();

  void Form_Load();
  void SetUpGrid();
  void Form_Resize();
  void Form_Unload();

  // Sets the outer size; applied again once the window system tells us the
  // frame's size (unknown until the window is framed).
  void SetOuterSize(int widthPx, int heightPx);
  void ApplyPendingOuterSize();

  modGlobal::NodeButtons NodeContext();
  int ToPixels(int twips) const;
  int ToTwips(int pixels) const;

  std::filesystem::path programDir_;
  Clock clock_;
  Log log_;
  SettingsValues settings_;
  std::unique_ptr<ui::MessageSink> ownMessages_;
  ui::MessageSink* messages_;

  struct PendingSize {
    int width = 0;
    int height = 0;
  };
  std::optional<PendingSize> pendingOuterSize_;
  bool unloaded_ = false;
};

}  // namespace morvanta
