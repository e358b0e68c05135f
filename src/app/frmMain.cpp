#include "app/frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "operations/controller.h"
#include "search_widgets/batch.h"
#include "search/query.h"
#include "search_widgets/result_grid.h"
#include "settings_ui/settings_ui.h"
#include "search_widgets/search_panel.h"
#include "ui/accessibility.h"
#include "ui/controls.h"
#include "ui/optional_date_edit.h"

namespace morvanta {

namespace {

// Designed client area, in twips.
constexpr int kClientWidth = 12885;
constexpr int kClientHeight = 7950;
// Outer width set at load, and the resize rule's margins.
constexpr int kWindowWidth = 13000;
constexpr int kGridWidthMargin = 250;
constexpr int kGridHeightMargin = 4720;

// Each load or resize step stands alone: whatever goes wrong in one, the
// next runs, and the debug log says what it was.
template <typename F>
void Step(const Log& log, std::string_view procedure, F&& step) {
  try {
    std::forward<F>(step)();
  } catch (...) {
    const dicom::Failure failure = dicom::CurrentFailure();
    (void)log.LogDebug(std::string(procedure) + ": " + std::to_string(failure.number) + " - " +
                       failure.description);
  }
}

QIcon ProgramIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(QColor(0, 90, 160));
  QPainter painter(&pixmap);
  painter.setPen(Qt::white);
  painter.setFont(ui::Tahoma(18, true));
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("M"));
  return QIcon(pixmap);
}

const QString kTooManyText = QStringLiteral(
    "There was to many entries.\r\nPlease constrain your search.");
const QString kBusyNote = QStringLiteral(
    "Please wait until the search or Send has ended, or click Cancel (Esc) to end it.");
constexpr int kNoteMs = 5000;

}  // namespace

// The settings dialogs see the window through this: the settings values (an
// Apply handed to the controller that owns them), its date-range row, its
// node buttons and its message sink.
class frmMain::SettingsAdapter : public settings_ui::SettingsHost {
 public:
  explicit SettingsAdapter(frmMain& window) : window_(window) {}
  void GetINI() override { window_.GetINI(); }
  const SettingsValues& values() const override { return window_.settings(); }
  void TakeApplied(const DialogSettings& applied) override { window_.operations_->TakeApplied(applied); }
  void SetDateRangeVisible(bool visible) override {
    window_.SetDateRangeVisible(visible);
  }
  void LoadNodeButtons() override { window_.LoadNodeButtons(); }
  const SettingsStore& store() const override { return window_.store_; }
  ui::MessageSink& messages() override { return window_.messages(); }

 private:
  frmMain& window_;
};

frmMain::frmMain(std::filesystem::path programDir, Clock clock,
                 ui::MessageSink* messages, QWidget* parent)
    : QMainWindow(parent),
      programDir_(std::move(programDir)),
      clock_(clock ? std::move(clock) : Clock(SystemNow)),
      log_(programDir_, clock_),
      store_(SettingsPath(programDir_)),
      messages_(messages) {
  if (messages_ == nullptr) {
    ownMessages_ = std::make_unique<ui::BoxMessageSink>(this);
    messages_ = ownMessages_.get();
  }
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(ui::kAppTitle);
  setFont(ui::Tahoma(9));

  settingsHost_ = std::make_unique<SettingsAdapter>(*this);
  operations_ = std::make_unique<operations::Controller>(store_, log_, *messages_);
  connect(operations_.get(), &operations::Controller::settingsLoaded, this,
          [this](const SettingsValues& values) { SetDateRangeVisible(values.ExtStudyDate); });
  connect(operations_.get(), &operations::Controller::busyChanged, this, [this](bool running) {
    if (running) {
      BeginBusy();
    } else {
      EndBusy();
      cmdSend->setEnabled(false);
    }
  });
  connect(operations_.get(), &operations::Controller::statusNote, this, [this](const QString& text, int ms) {
    if (text.isEmpty()) {
      statusBar()->clearMessage();
    } else {
      ShowStatus(text, ms);
    }
  });
  connect(operations_.get(), &operations::Controller::searchResults, this, &frmMain::ShowResults);
  connect(operations_.get(), &operations::Controller::searchFinished, this, &frmMain::searchFinished);
  connect(operations_.get(), &operations::Controller::sendFinished, this,
          [this](const forward::SendOutcome& outcome) {
            if (outcome.ok() && !outcome.cancelled) setWindowTitle(ui::kAppTitle);
            emit sendFinished();
          });

  CreateMenus();
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  setCentralWidget(client);
  CreateControls(client);
  SetTabOrder();
  resize(ToPixels(kClientWidth),
         ToPixels(kClientHeight) + menuBar()->sizeHint().height());

  // A session that ends closes no window: the height is saved all the same.
#ifndef QT_NO_SESSIONMANAGER
  connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { Form_Unload(); });
#endif
  connect(qGuiApp, &QCoreApplication::aboutToQuit, this, [this] {
    if (!unloaded_) Form_Unload();
  });

  Form_Load();
  panel_->txtPatID->setFocus();
}

frmMain::~frmMain() {
  // The controller stops what runs without waiting for it; what it reports
  // is dropped with the window.
  operations_->disconnect(this);
  operations_.reset();
  if (busyCursor_) QApplication::restoreOverrideCursor();
}

void frmMain::CreateMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&Datei"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuClose = mnuFile->addAction(QStringLiteral("&Beenden"));
  mnuClose->setObjectName(QStringLiteral("mnuClose"));
  connect(mnuClose, &QAction::triggered, this, &frmMain::mnuClose_Click);

  // "Settings" is a command on the bar itself, not a menu.
  mnuSettings = menuBar()->addAction(QStringLiteral("&Settings"));
  mnuSettings->setObjectName(QStringLiteral("mnuSettings"));
  connect(mnuSettings, &QAction::triggered, this, &frmMain::mnuSettings_Click);

  // Never on the bar: the grid opens it on a right click.
  mnuMark = new QMenu(QStringLiteral("Select"), this);
  mnuMark->setObjectName(QStringLiteral("mnuMark"));
  mnuMarkAll = mnuMark->addAction(QStringLiteral("Select next 25 entries"));
  mnuMarkAll->setObjectName(QStringLiteral("mnuMarkAll"));
  connect(mnuMarkAll, &QAction::triggered, this, &frmMain::mnuMarkAll_Click);

  // Shown only while it has something to say (a Send's progress, a note),
  // so the designed layout keeps its full height otherwise.
  statusBar()->setObjectName(QStringLiteral("statusBar"));
  statusBar()->setSizeGripEnabled(false);
  statusBar()->hide();
  connect(statusBar(), &QStatusBar::messageChanged, this,
          [this](const QString& text) {
            if (text.isEmpty() && !busy()) statusBar()->hide();
          });

  cmdCancel = new QPushButton(QStringLiteral("Cancel"), statusBar());
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel->setToolTip(QStringLiteral("End the running search or Send (Esc)"));
  cmdCancel->setAutoDefault(false);
  statusBar()->addPermanentWidget(cmdCancel);
  cmdCancel->hide();
  connect(cmdCancel, &QPushButton::clicked, this, &frmMain::CancelOperation);
  // Esc reaches the window whatever has the focus, but only while something
  // runs: otherwise it stays with the controls (a date picker's popup, say).
  escCancel_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escCancel_->setContext(Qt::WindowShortcut);
  escCancel_->setEnabled(false);
  connect(escCancel_, &QShortcut::activated, this, &frmMain::CancelOperation);
}

void frmMain::CreateControls(QWidget* client) {
  const QFont shortcutFont = ui::Tahoma(9.75, true);
  using ui::MakeButton;
  cmdToday = MakeButton(client, QStringLiteral("cmdToday"),
                        QStringLiteral("Today"), 45, 45, 2670, 510);
  cmdYesterday = MakeButton(client, QStringLiteral("cmdYesterday"),
                            QStringLiteral("Yesterday"), 2925, 45, 2625, 510);
  cmdWeek = MakeButton(client, QStringLiteral("cmdWeek"),
                       QStringLiteral("Week"), 5760, 45, 2670, 510);
  for (QPushButton* b : {cmdToday, cmdYesterday, cmdWeek}) {
    b->setFont(shortcutFont);
  }
  cmdSend = MakeButton(client, QStringLiteral("cmdSend"),
                       QStringLiteral("Send"), 8595, 45, 4110, 3120);
  cmdSend->setFont(ui::Tahoma(36, true));
  cmdSend->setEnabled(false);
  connect(cmdToday, &QPushButton::clicked, this, &frmMain::cmdToday_Click);
  connect(cmdYesterday, &QPushButton::clicked, this, &frmMain::cmdYesterday_Click);
  connect(cmdWeek, &QPushButton::clicked, this, &frmMain::cmdWeek_Click);
  connect(cmdSend, &QPushButton::clicked, this, &frmMain::Send);

  fraSearch = new QFrame(client);
  fraSearch->setObjectName(QStringLiteral("fraSearch"));
  fraSearch->setFrameStyle(QFrame::Box | QFrame::Sunken);
  ui::PlaceTwips(fraSearch, 45, 585, 8385, 3210);

  CreateSearchPanel();

  const QFont countFont = ui::Tahoma(15.75, true);
  lblSearch[8] = new QLabel(QStringLiteral("Count:"), client);
  lblSearch[8]->setObjectName(QStringLiteral("lblSearch_8"));
  lblSearch[8]->setFont(countFont);
  ui::PlaceTwips(lblSearch[8], 8595, 3330, 0, 0);
  lblSearch[8]->adjustSize();
  lblListCount = new QLabel(client);
  lblListCount->setTextFormat(Qt::PlainText);
  lblListCount->setObjectName(QStringLiteral("lblListCount"));
  lblListCount->setFont(countFont);
  ui::PlaceTwips(lblListCount, 9765, 3330, 0, 0);
  lblListCount->adjustSize();
  // "Count:" labels the number for assistive technology too.
  lblSearch[8]->setBuddy(lblListCount);

  grid1 = CreateGrid(client);
  ui::PlaceTwips(grid1, 45, 3870, 11130, 3975);
}

void frmMain::CreateSearchPanel() {
  panel_ = new search::SearchPanel(fraSearch);
  picSearch = panel_;
  ui::PlaceTwips(picSearch, 90, 180, 8250, 2985);
  std::copy(panel_->lblSearch.begin(), panel_->lblSearch.end(), lblSearch.begin());
  connect(panel_->cmdSearch, &QPushButton::clicked, this, &frmMain::cmdSearch_Click);

  // Below the search fields, in the same frame.
  nodeButtons_ = new NodeButtonBar(*operations_, store_, log_, picSearch);
  ui::PlaceTwips(nodeButtons_, 90, 1935, 7935, 960);
  cmdNode = nodeButtons_->cmdNode;
}

search::ResultGrid* frmMain::CreateGrid(QWidget* client) {
  auto* grid = new search::ResultGrid(client);
  grid->setObjectName(QStringLiteral("grid1"));
  // Tab goes on to Send, the next control in the focus order; walking from
  // cell to cell would also replace the user's selection with the new row.
  grid->setTabKeyNavigation(false);
  return grid;
}

void frmMain::SetTabOrder() {
  const search::SearchPanel& p = *panel_;
  const std::vector<QWidget*> order{
      p.txtPatID,  p.txtLastName, p.txtFirstName, p.cmdSearch, grid1,      cmdSend,    cmdToday,
      cmdYesterday, cmdWeek,      cmdNode[0],     cmdNode[1],  cmdNode[2], cmdNode[3], cmdNode[4],
      cmdNode[5],  cmdNode[6],    cmdNode[7],     p.dtpDOB,    p.cboMod,   p.dtpStudy1, p.dtpStudy2};
  for (std::size_t i = 1; i < order.size(); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }
}

void frmMain::Form_Load() {
  Step(log_, "Form_Load", [&] { operations_->SetActiveNode(store_.ActiveNode()); });
  Step(log_, "Form_Load", [&] { LoadNodeButtons(); });
  Step(log_, "Form_Load", [&] {
    // Top-left corner; the frame's corner, not the client's.
    move(0, 0);
  });
  Step(log_, "Form_Load", [&] {
    std::optional<int> heightPx;
    const std::optional<std::int32_t> stored = store_.SearchHeight();
    // A height that is not a number, or no height at all, leaves the
    // designed client area, whatever frame it gets. A window taller than the
    // screen could not be reached to make it smaller again, so it is fitted
    // to the screen.
    if (stored && *stored > 0) {
      heightPx = ToPixels(*stored);
      if (const QScreen* s = screen()) {
        heightPx = std::min(*heightPx, s->availableGeometry().height());
      }
    }
    SetOuterSize(ToPixels(kWindowWidth), heightPx);
  });
  Step(log_, "Form_Load", [&] { panel_->Reset(today()); });
  try {
    SetUpGrid();
  } catch (...) {
    operations_->ReportCurrentException("Form_Load");
  }
}

void frmMain::SetUpGrid() {
  // The grid lays out its own columns; the window wires what its rows do.
  grid1->Clear();
  connect(grid1, &search::ResultGrid::rowSelected, this, [this](int) {
    // A row picked while a search or Send runs must not let a second Send
    // start; the operation's end leaves Send disabled anyway.
    if (!busy()) cmdSend->setEnabled(true);
  });
  connect(grid1, &search::ResultGrid::contextMenuRequested, this,
          [this](const QPoint& globalPos) { mnuMark->popup(globalPos); });
}

void frmMain::Form_Resize() {
  // Outer size, frame and menu bar included. A size that would be negative
  // is not applied: the grid keeps its last size in that dimension.
  const int width = ToPixels(OuterWidthTwips() - kGridWidthMargin);
  const int height = ToPixels(OuterHeightTwips() - kGridHeightMargin);
  QSize grid = grid1->size();
  if (OuterWidthTwips() - kGridWidthMargin >= 0) grid.setWidth(width);
  if (OuterHeightTwips() - kGridHeightMargin >= 0) grid.setHeight(height);
  grid1->resize(grid);
}

void frmMain::Form_Unload() {
  unloaded_ = true;
  // Nothing is asked and closing is never refused; a failed write only
  // loses the remembered height, and the log says why. A missing file is
  // not made here: a stub holding only the height would hide "Settings.ini
  // existiert nicht." at the next start.
  const SaveResult saved = store_.SaveSearchHeight(OuterHeightTwips());
  if (!saved && !saved.missing) (void)log_.LogError(0, saved.error, "Form_Unload");
}

void frmMain::SetOuterSize(int widthPx, std::optional<int> heightPx) {
  pendingOuterSize_ = PendingSize{widthPx, heightPx};
  requestedClientSize_.reset();
  ApplyPendingOuterSize();
}

void frmMain::ApplyPendingOuterSize() {
  if (!pendingOuterSize_) return;
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen |
                       Qt::WindowMinimized)) {
    return;
  }
  // A size someone else gave the shown window (the user, or a window
  // manager) wins over the one still waiting for a frame. Where the
  // platform reports no frame at all, the wait would never end and every
  // resize would be undone.
  if (isVisible() && requestedClientSize_ && size() != *requestedClientSize_) {
    pendingOuterSize_.reset();
    requestedClientSize_.reset();
    return;
  }
  const QSize frame = frameGeometry().size() - size();
  const QSize client(
      std::max(1, pendingOuterSize_->width - frame.width()),
      pendingOuterSize_->height
          ? std::max(1, *pendingOuterSize_->height - frame.height())
          : height());
  requestedClientSize_ = client;
  resize(client);
  // Until the window is framed its frame counts as nothing; once the frame
  // is known the size is right for good.
  if (!frame.isNull()) {
    pendingOuterSize_.reset();
    requestedClientSize_.reset();
  }
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ApplyPendingOuterSize();
  Step(log_, "Form_Resize", [&] { Form_Resize(); });
}

void frmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyPendingOuterSize();
  Step(log_, "Form_Resize", [&] { Form_Resize(); });
}

bool frmMain::event(QEvent* event) {
  // The icon needs a font of its own, whose loading would delay the first
  // paint; the window manager takes it a moment later.
  if (event->type() == QEvent::Paint && iconPending_) {
    iconPending_ = false;
    QMetaObject::invokeMethod(this, [this] { setWindowIcon(ProgramIcon()); }, Qt::QueuedConnection);
  }
  return QMainWindow::event(event);
}

void frmMain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  // The window manager's frame becomes known about when it places us.
  ApplyPendingOuterSize();
  Step(log_, "Form_Resize", [&] { Form_Resize(); });
}

void frmMain::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void frmMain::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter presses the focused button; anywhere else it runs the default
    // button, Search.
    auto* focused = qobject_cast<QAbstractButton*>(focusWidget());
    QAbstractButton* target = focused != nullptr ? focused : panel_->cmdSearch;
    if (target->isEnabled() && target->isVisible()) target->click();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool frmMain::busy() const { return operations_->busy(); }

const SettingsValues& frmMain::settings() const { return operations_->settings(); }

void frmMain::cmdSearch_Click() { RunSearch(panel_->criteria()); }

void frmMain::RunSearch(const search::SearchCriteria& criteria) {
  emit searchRequested();
  // One operation at a time: a second search (or one during a Send) is
  // refused and leaves the window as it is.
  if (busy()) return;
  cmdSend->setEnabled(false);
  const operations::SearchStart started = operations_->Search(criteria);
  using operations::Start;
  if (started.start == Start::Started || started.start == Start::MatchesNothing ||
      started.start == Start::Failed)
    panel_->cmdSearch->setFocus();
  if (started.start == Start::Started || started.start == Start::MatchesNothing)
    panel_->txtPatName->setText(started.composedName);
}

void frmMain::ShowResults(const search::SearchOutcome& outcome) {
  try {
    lblListCount->setText(search::CountText(outcome.count, outcome.truncated));
    lblListCount->adjustSize();
    ui::AnnounceCount(lblListCount, panel_->cmdSearch);
    if (search::IsTooMany(outcome.count)) {
      // The grid keeps the previous search's rows; the label shows the new
      // count.
      messages_->Show(ui::Message{kTooManyText, ui::kAppTitle, ui::MessageIcon::None,
                                  ui::MessageButtons::OkHelp});
    } else {
      // Filled straight from the outcome: the list is not copied first.
      grid1->Fill(outcome.results);
    }
  } catch (...) {
    operations_->ReportCurrentException("cmdSearch_Click");
  }
}

void frmMain::RunShortcut(search::Shortcut shortcut) {
  if (busy()) return;
  // The panel's criteria with the shortcut's days for this one search.
  search::SearchCriteria criteria = panel_->criteria();
  const search::ShortcutDate when = search::ShortcutFor(shortcut, today());
  criteria.shortcutDate = when.date;
  criteria.shortcutRange = when.range;
  RunSearch(criteria);
}

void frmMain::cmdToday_Click() { RunShortcut(search::Shortcut::Today); }
void frmMain::cmdYesterday_Click() { RunShortcut(search::Shortcut::Yesterday); }
void frmMain::cmdWeek_Click() { RunShortcut(search::Shortcut::Week); }

void frmMain::Send() {
  if (busy()) return;
  cmdSend->setEnabled(false);
  // In the order the grid shows them. The "No Data" row names no study and
  // is left out; a study listed without a UID goes as "" and is told apart.
  // Each with its patient, whom the audit trail names.
  const std::vector<int> rows = grid1->selectedRows();
  std::vector<operations::SendStudy> studies;
  for (int row : rows)
    if (!grid1->isNoDataRow(row))
      studies.push_back({grid1->studyUid(row).toStdString(),
                         grid1->cellText(row, search::kColPatientId).toStdString(),
                         grid1->cellText(row, search::kColPatientName).toStdString()});
  const bool selected = !rows.empty();
  if (operations_->SendStudies(std::move(studies)) == operations::Start::NoActiveNode && selected)
    cmdSend->setEnabled(true);
}

void frmMain::CancelOperation() { operations_->Cancel(); }

void frmMain::mnuMarkAll_Click() {
  try {
    if (search::SelectBatch(*grid1) && !busy()) cmdSend->setEnabled(true);
  } catch (...) {
    // Batch selection goes on as far as it can; a failure only stops it.
    (void)log_.LogDebug("mnuMarkAll_Click: " + dicom::CurrentFailure().description);
  }
}

void frmMain::BeginBusy() {
  if (!busyCursor_) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    busyCursor_ = true;
  }
  statusBar()->show();
  cmdCancel->show();
  escCancel_->setEnabled(true);
}

void frmMain::EndBusy() {
  if (busyCursor_) {
    QApplication::restoreOverrideCursor();
    busyCursor_ = false;
  }
  cmdCancel->hide();
  escCancel_->setEnabled(false);
  if (statusBar()->currentMessage().isEmpty()) statusBar()->hide();
}

void frmMain::ShowStatus(const QString& text, int timeoutMs) {
  statusBar()->show();
  statusBar()->showMessage(text, timeoutMs);
}

void frmMain::mnuSettings_Click() { emit settingsRequested(); }

void frmMain::OpenSettings() {
  if (busy()) {
    ShowStatus(kBusyNote, kNoteMs);
    return;
  }
  settings_ui::OpenSettingsFromMenu(this, *settingsHost_);
}

void frmMain::mnuClose_Click() { close(); }

bool frmMain::CheckINI() { return operations_->CheckINI(); }

void frmMain::GetINI() { operations_->GetINI(); }

void frmMain::SetDateRangeVisible(bool visible) { panel_->SetDateRangeVisible(visible); }

void frmMain::LoadNodeButtons() { nodeButtons_->LoadNodeButtons(); }

void frmMain::ActivateNode(std::int16_t index) { nodeButtons_->ActivateNode(index); }

QDate frmMain::today() const {
  const LocalDateTime now = clock_();
  return QDate(now.year, now.month, now.day);
}

int frmMain::OuterHeightTwips() const { return ToTwips(frameGeometry().height()); }

int frmMain::OuterWidthTwips() const { return ToTwips(frameGeometry().width()); }

int frmMain::ToPixels(int twips) const { return ui::Twips(twips, logicalDpiY()); }

int frmMain::ToTwips(int pixels) const {
  return static_cast<int>(std::lround(pixels * 1440.0 / logicalDpiY()));
}

void ConnectSettingsMenu(frmMain& window) {
  QObject::connect(&window, &frmMain::settingsRequested, &window,
                   &frmMain::OpenSettings);
}

}  // namespace morvanta
