#pragma once
// The main window: the search panel, the result grid, Send, the date
// shortcuts and the forward-node buttons, with its life from load to unload.

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/node_buttons.h"
#include "config/settings.h"
#include "config/store.h"
#include "dicom/dicom.h"
#include "log/clock.h"
#include "log/log.h"
#include "search_widgets/result_grid.h"
#include "search/shortcuts.h"
#include "ui/ui.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QShortcut;

namespace morvanta::ui {
class OptionalDateEdit;
}
namespace morvanta::search {
struct SearchOutcome;
struct SearchCriteria;
class SearchPanel;
}  // namespace morvanta::search
namespace morvanta::operations {
class Controller;
}
namespace morvanta::settings_ui {
class SettingsHost;
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

  const SettingsValues& settings() const;
  const Log& log() const { return log_; }
  ui::MessageSink& messages() { return *messages_; }
  const std::filesystem::path& programDir() const { return programDir_; }
  const Clock& clock() const { return clock_; }
  QDate today() const;

  // True while a search or a Send runs in its worker: no second operation
  // (search, shortcut, Send, settings) starts until it has ended.
  bool busy() const;
  // The search panel, its criteria as the user left them.
  search::SearchPanel& panel() { return *panel_; }

  // The window's outer size (frame, caption and menu bar included) in twips.
  int OuterHeightTwips() const;
  int OuterWidthTwips() const;

  // Controls, named as the rest of the program knows them.
  QMenu* mnuFile = nullptr;
  QAction* mnuClose = nullptr;
  QAction* mnuSettings = nullptr;
  QMenu* mnuMark = nullptr;  // the grid's right-click menu, not on the bar
  // Selects the next 25 rows, not all of them: the control keeps the name
  // it has always had.
  QAction* mnuMarkAll = nullptr;

  QPushButton* cmdToday = nullptr;
  QPushButton* cmdYesterday = nullptr;
  QPushButton* cmdWeek = nullptr;
  QPushButton* cmdSend = nullptr;
  QFrame* fraSearch = nullptr;
  QWidget* picSearch = nullptr;
  std::array<QLabel*, 9> lblSearch{};
  QLabel* lblListCount = nullptr;
  search::ResultGrid* grid1 = nullptr;

  // The search fields and Search are the panel's (panel()).
  NodeButtonArray cmdNode{};
  // In the status bar, shown only while a search or Send runs; Esc does the
  // same.
  QPushButton* cmdCancel = nullptr;

 signals:
  // Emitted when Search starts (the button, or Enter in the search panel).
  void searchRequested();
  // Emitted by the "Settings" menu-bar command, before the password prompt
  // opens (see OpenSettings).
  void settingsRequested();
  // A search's outcome has been applied to the window (or it failed).
  void searchFinished();
  // A Send has ended and its outcome has been reported.
  void sendFinished();

 public slots:
  void cmdSearch_Click();
  void cmdToday_Click();
  void cmdYesterday_Click();
  void cmdWeek_Click();
  // Send: one forwarding request per selected study ([Forward] Method
  // REDIRECT), or one C-MOVE per study to the active forward node (MOVE).
  void Send();
  // Ends the running search (at once, the grid as it was) or Send (after the
  // request in flight). Nothing when nothing runs.
  void CancelOperation();
  void mnuMarkAll_Click();
  void mnuSettings_Click();
  void mnuClose_Click();
  // The settings dialogs behind the password prompt, modal over this window.
  // Refused (with a note in the status bar) while a search or Send runs.
  void OpenSettings();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  class SettingsAdapter;

  void CreateMenus();
  void CreateControls(QWidget* client);
  void CreateSearchPanel();
  search::ResultGrid* CreateGrid(QWidget* client);
  void SetTabOrder();

  void Form_Load();
  void SetUpGrid();
  void Form_Resize();
  void Form_Unload();

  void RunSearch(const search::SearchCriteria& criteria);
  void RunShortcut(search::Shortcut shortcut);
  // A search's results: the count, and the grid unless they are too many.
  void ShowResults(const search::SearchOutcome& outcome);
  void BeginBusy();
  void EndBusy();
  void ShowStatus(const QString& text, int timeoutMs = 0);

  // Sets the outer size; applied again once the window system tells us the
  // frame's size (unknown until the window is framed).
  // The outer size, frame included; without a height the client area keeps
  // its height.
  void SetOuterSize(int widthPx, std::optional<int> heightPx);
  void ApplyPendingOuterSize();

  int ToPixels(int twips) const;
  int ToTwips(int pixels) const;

  std::filesystem::path programDir_;
  Clock clock_;
  Log log_;
  SettingsStore store_;
  search::SearchPanel* panel_ = nullptr;
  NodeButtonBar* nodeButtons_ = nullptr;
  std::unique_ptr<ui::MessageSink> ownMessages_;
  ui::MessageSink* messages_;

  struct PendingSize {
    int width = 0;
    std::optional<int> height;
  };
  std::optional<PendingSize> pendingOuterSize_;
  // The client size last asked for while the outer size waits for the frame.
  std::optional<QSize> requestedClientSize_;
  bool unloaded_ = false;
  bool busyCursor_ = false;
  QShortcut* escCancel_ = nullptr;
  // The window icon is drawn after the first paint, which does not need it.
  bool iconPending_ = true;

  // Declared last: destroyed first, cancelling a worker still running
  // while everything it reports to is still there.
  std::unique_ptr<settings_ui::SettingsHost> settingsHost_;
  std::unique_ptr<operations::Controller> operations_;
};

// Makes the "Settings" menu command open the password prompt and the
// settings dialogs over `window` (the program does this at start-up; the
// window alone only signals settingsRequested, so it can be tested without
// modal dialogs).
void ConnectSettingsMenu(frmMain& window);

}  // namespace morvanta
