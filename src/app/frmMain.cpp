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

#include "forward/batch.h"
#include "operations/controller.h"
#include "search/query.h"
#include "search/result_grid.h"
#include "settings_ui/settings_ui.h"
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

const QStringList kModalities{QString(),          QStringLiteral("CR"),
                              QStringLiteral("CT"), QStringLiteral("DX"),
                              QStringLiteral("MR"), QStringLiteral("MG"),
                              QStringLiteral("US"), QStringLiteral("XA")};

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

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text,
                  int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  ui::PlaceTwips(label, left, top, 0, 0);
  label->adjustSize();  // sized to its text
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name,
                        const QString& caption, int left, int top, int width,
                        int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  ui::PlaceTwips(button, left, top, width, height);
  return button;
}

QLineEdit* MakeText(QWidget* parent, const char* name, int left, int top,
                    int width, int height) {
  auto* text = new QLineEdit(parent);
  text->setObjectName(QString::fromLatin1(name));
  ui::PlaceTwips(text, left, top, width, height);
  return text;
}

ui::OptionalDateEdit* MakeDate(QWidget* parent, const char* name, int left,
                               int top, int width, int height) {
  auto* date = new ui::OptionalDateEdit(parent);
  date->setObjectName(QString::fromLatin1(name));
  ui::PlaceTwips(date, left, top, width, height);
  return date;
}

const QString kTooManyText = QStringLiteral(
    "There was to many entries.\r\nPlease constrain your search.");
const QString kBusyNote = QStringLiteral(
    "Please wait until the search or Send has ended, or click Cancel (Esc) to end it.");
constexpr int kNoteMs = 5000;

}  // namespace

// The settings dialogs see the window through this: its own settings values,
// its date-range row, its node buttons and its message sink.
class frmMain::SettingsAdapter : public settings_ui::SettingsHost {
 public:
  explicit SettingsAdapter(frmMain& window) : window_(window) {}
  void GetINI() override { window_.GetINI(); }
  const SettingsValues& values() const override { return window_.settings(); }
  SettingsValues& values() override { return window_.settings(); }
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
  setWindowIcon(ProgramIcon());
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
  txtPatID->setFocus();
}

frmMain::~frmMain() {
  // The controller stops what runs and waits for it; what it reports is
  // dropped with the window.
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

  picSearch = new QWidget(fraSearch);
  picSearch->setObjectName(QStringLiteral("picSearch"));
  ui::PlaceTwips(picSearch, 90, 180, 8250, 2985);
  CreateSearchPanel();

  const QFont countFont = ui::Tahoma(15.75, true);
  lblSearch[8] = new QLabel(QStringLiteral("Count:"), client);
  lblSearch[8]->setObjectName(QStringLiteral("lblSearch_8"));
  lblSearch[8]->setFont(countFont);
  ui::PlaceTwips(lblSearch[8], 8595, 3330, 0, 0);
  lblSearch[8]->adjustSize();
  lblListCount = new QLabel(client);
  lblListCount->setObjectName(QStringLiteral("lblListCount"));
  lblListCount->setFont(countFont);
  ui::PlaceTwips(lblListCount, 9765, 3330, 0, 0);
  lblListCount->adjustSize();

  grid1 = CreateGrid(client);
  ui::PlaceTwips(grid1, 45, 3870, 11130, 3975);
}

void frmMain::CreateSearchPanel() {
  QWidget* p = picSearch;
  lblSearch[0] = MakeLabel(p, "lblSearch_0", QStringLiteral("Patient - ID:"), 90, 45);
  txtPatID = MakeText(p, "txtPatID", 90, 315, 3030, 315);
  lblSearch[3] = MakeLabel(p, "lblSearch_3", QStringLiteral("Date of Birth:"), 3420, 0);
  dtpDOB = MakeDate(p, "dtpDOB", 3420, 270, 1725, 330);

  cmdSearch = MakeButton(p, QStringLiteral("cmdSearch"),
                         QStringLiteral("Search"), 7020, 225, 1185, 1050);
  cmdSearch->setFont(ui::Tahoma(11.25, true));
  cmdSearch->setDefault(true);
  connect(cmdSearch, &QPushButton::clicked, this, &frmMain::cmdSearch_Click);

  lblSearch[1] = MakeLabel(p, "lblSearch_1", QStringLiteral("Last Name:"), 90, 675);
  txtLastName = MakeText(p, "txtLastName", 90, 945, 3075, 315);
  lblSearch[2] = MakeLabel(p, "lblSearch_2", QStringLiteral("First Name:"), 3420, 675);
  txtFirstName = MakeText(p, "txtFirstName", 3420, 945, 2355, 330);
  lblSearch[5] = MakeLabel(p, "lblSearch_5", QStringLiteral("Modality:"), 6030, 675);
  cboMod = new QComboBox(p);
  cboMod->setObjectName(QStringLiteral("cboMod"));
  cboMod->setEditable(true);
  cboMod->setInsertPolicy(QComboBox::NoInsert);
  // What is typed goes out as typed: no inline completion ("c" is not
  // "CR"), and Enter does not swap a typed "mr" for the list's "MR", which
  // the box does whenever its completer matches case-blind.
  auto* typedAsIs = new QCompleter(QStringList{}, cboMod);
  typedAsIs->setCaseSensitivity(Qt::CaseSensitive);
  cboMod->setCompleter(typedAsIs);
  ui::PlaceTwips(cboMod, 6030, 945, 825, 330);

  lblSearch[6] = new QLabel(QStringLiteral("Study Date:"), p);
  lblSearch[6]->setObjectName(QStringLiteral("lblSearch_6"));
  lblSearch[6]->setFont(ui::Tahoma(9, true));
  ui::PlaceTwips(lblSearch[6], 135, 1485, 0, 0);
  lblSearch[6]->adjustSize();
  dtpStudy1 = MakeDate(p, "dtpStudy1", 1440, 1395, 1725, 375);
  lblSearch[7] = MakeLabel(p, "lblSearch_7", QStringLiteral("-"), 3285, 1485);
  dtpStudy2 = MakeDate(p, "dtpStudy2", 3420, 1395, 1725, 375);

  static constexpr std::array<int, 4> kNodeLeft{90, 2115, 4140, 6165};
  for (int i = 0; i < kNodeSlots; ++i) {
    const int left = kNodeLeft[static_cast<std::size_t>(i % 4)];
    const int top = i < 4 ? 1935 : 2475;
    QPushButton* button =
        MakeButton(p, QStringLiteral("cmdNode_%1").arg(i), QString(), left,
                   top, 1860, 420);
    cmdNode[static_cast<std::size_t>(i)] = button;
    connect(button, &QPushButton::clicked, this,
            [this, i] { ActivateNode(static_cast<std::int16_t>(i)); });
  }

  // State of the search that the user never sees.
  txtPatName = MakeText(p, "txtPatName", 0, 0, 0, 0);
  txtPatName->hide();
  dtpStudyDate = MakeDate(p, "dtpStudyDate", 0, 0, 0, 0);
  dtpStudyDate->hide();
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
  const std::vector<QWidget*> order{
      txtPatID, txtLastName, txtFirstName, cmdSearch,  grid1,
      cmdSend,  cmdToday,    cmdYesterday, cmdWeek,    cmdNode[0],
      cmdNode[1], cmdNode[2], cmdNode[3],  cmdNode[4], cmdNode[5],
      cmdNode[6], cmdNode[7], dtpDOB,      cboMod,     dtpStudy1,
      dtpStudy2};
  for (std::size_t i = 1; i < order.size(); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }
}

void frmMain::Form_Load() {
  Step(log_, "Form_Load", [&] { settings().ActiveForwardAET = store_.ActiveNode(); });
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
  Step(log_, "Form_Load", [&] {
    for (ui::OptionalDateEdit* d : {dtpDOB, dtpStudy1, dtpStudy2, dtpStudyDate}) {
      d->setShownDate(today());
      d->clear();
    }
  });
  Step(log_, "Form_Load", [&] {
    cboMod->clear();
    cboMod->addItems(kModalities);
    cboMod->setCurrentIndex(0);
  });
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
    QAbstractButton* target = focused != nullptr ? focused : cmdSearch;
    if (target->isEnabled() && target->isVisible()) target->click();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool frmMain::busy() const { return operations_->busy(); }

SettingsValues& frmMain::settings() { return operations_->settings(); }
const SettingsValues& frmMain::settings() const { return operations_->settings(); }

search::SearchCriteria frmMain::CurrentCriteria() const {
  search::SearchCriteria c;
  c.patientId = txtPatID->text();
  c.lastName = txtLastName->text();
  c.firstName = txtFirstName->text();
  c.birthDate = dtpDOB->date();
  c.modality = cboMod->currentText();
  c.shortcutDate = dtpStudyDate->date();
  c.shortcutTag = dtpStudyDateTag;
  c.rangeStart = dtpStudy1->date();
  c.rangeEnd = dtpStudy2->date();
  return c;
}

void frmMain::cmdSearch_Click() {
  emit searchRequested();
  // One operation at a time: a second search (or one during a Send) is
  // refused and leaves the window as it is.
  if (busy()) return;
  cmdSend->setEnabled(false);
  const operations::SearchStart started = operations_->Search(CurrentCriteria());
  using operations::Start;
  if (started.start == Start::Started || started.start == Start::MatchesNothing ||
      started.start == Start::Failed)
    cmdSearch->setFocus();
  if (started.start == Start::Started || started.start == Start::MatchesNothing)
    txtPatName->setText(started.composedName);
}

void frmMain::ShowResults(const search::SearchOutcome& outcome) {
  try {
    lblListCount->setText(search::CountText(outcome.count, outcome.truncated));
    lblListCount->adjustSize();
    if (search::IsTooMany(outcome.count)) {
      // The grid keeps the previous search's rows; the label shows the new
      // count.
      results_ = outcome.results;
      messages_->Show(ui::Message{kTooManyText, ui::kAppTitle, ui::MessageIcon::None,
                                  ui::MessageButtons::OkHelp});
    } else {
      // Filled straight from the outcome: the list is not copied first.
      results_.Release();
      grid1->Fill(outcome.results);
    }
  } catch (...) {
    operations_->ReportCurrentException("cmdSearch_Click");
  }
}

void frmMain::RunShortcut(search::Shortcut shortcut) {
  if (busy()) return;
  const search::ShortcutDate when = search::ShortcutFor(shortcut, today());
  dtpStudyDate->setDate(when.date);
  dtpStudyDateTag = when.tag;
  cmdSearch_Click();
  // The search has built its identifier already: the shortcut leaves no
  // trace for the next one.
  dtpStudyDateTag.clear();
  dtpStudyDate->clear();
}

void frmMain::cmdToday_Click() { RunShortcut(search::Shortcut::Today); }
void frmMain::cmdYesterday_Click() { RunShortcut(search::Shortcut::Yesterday); }
void frmMain::cmdWeek_Click() { RunShortcut(search::Shortcut::Week); }

void frmMain::Send() {
  if (busy()) return;
  cmdSend->setEnabled(false);
  // In the order the grid shows them; rows without a study UID (the "No
  // Data" row) are left out by the sender.
  std::vector<std::string> uids = grid1->selectedStudyUids();
  const bool selected = !uids.empty();
  if (operations_->Send(std::move(uids)) == operations::Start::NoActiveNode && selected) cmdSend->setEnabled(true);
}

void frmMain::CancelOperation() { operations_->Cancel(); }

void frmMain::mnuMarkAll_Click() {
  try {
    if (forward::SelectBatch(*grid1) && !busy()) cmdSend->setEnabled(true);
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

void frmMain::SetDateRangeVisible(bool visible) {
  for (QWidget* w : {static_cast<QWidget*>(lblSearch[6]),
                     static_cast<QWidget*>(dtpStudy1),
                     static_cast<QWidget*>(lblSearch[7]),
                     static_cast<QWidget*>(dtpStudy2)}) {
    w->setVisible(visible);
  }
}

modGlobal::NodeButtons frmMain::NodeContext() {
  return modGlobal::NodeButtons{cmdNode, settings(), store_, &log_};
}

void frmMain::LoadNodeButtons() { modGlobal::LoadNodeButtons(NodeContext()); }

void frmMain::ActivateNode(std::int16_t index) {
  modGlobal::ActivateNode(NodeContext(), index);
}

void frmMain::ReportError(std::int32_t number, const QString& description, std::string_view procedure) {
  operations_->ReportError(number, description, procedure);
}

std::filesystem::path frmMain::settingsPath() const {
  return SettingsPath(programDir_);
}

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
