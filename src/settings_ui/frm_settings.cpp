#include "settings_ui/frm_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "config/store.h"
#include "audit/events.h"
#include "audit/trail.h"
#include "config/settings.h"
#include "operations/controller.h"
#include "platform/path_text.h"
#include "settings_ui/dialog_frame.h"
#include "settings_ui/frm_change.h"
#include "settings_ui/line_edits.h"
#include "settings_ui/settings_ui.h"
#include "ui/accessibility.h"
#include "ui/shown_text.h"
#include "ui/ui.h"

namespace morvanta::settings_ui {

namespace {

constexpr int kMaxPort = 65535;
constexpr int kAliasColumn = 0;
constexpr int kAETColumn = 1;

QLabel* MakeLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setObjectName(QLatin1String(name));
  MakeBold(label);
  // Never narrower than its text: a font wider than the designed one, or one
  // that rounds up at a high DPI, would cut "Remote Port".
  label->setMinimumWidth(label->sizeHint().width());
  return label;
}

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  MakeBold(button);
  // The dialog has no default button: Enter in a field presses nothing.
  // (Auto-default buttons would make the first of them the default when
  // the dialog opens; Enter on a focused button is handled by the dialog.)
  button->setAutoDefault(false);
  return button;
}

}  // namespace

bool IsValidPortText(const QString& text) {
  const std::optional<std::int32_t> port = ParseInt32(text.toStdString());
  return port && *port >= 1 && *port <= kMaxPort;
}

// The dialog as designed, and the row the additions below the buttons take.
constexpr int kDesignedHeight = 7140;
constexpr int kStandardRowHeight = 705;

frmSettings::frmSettings(QWidget* owner, SettingsHost& host) : QDialog(owner), host_(host) {
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(QStringLiteral("Settings"));
  MakeFixedDialog(this, 6555, kDesignedHeight + kStandardRowHeight);

  lvNodes = new QTreeWidget(this);
  lvNodes->setObjectName(QStringLiteral("lvNodes"));
  ui::PlaceTwips(lvNodes, 135, 135, 6270, 2895);
  lvNodes->setRootIsDecorated(false);
  lvNodes->setItemsExpandable(false);
  lvNodes->setUniformRowHeights(true);
  lvNodes->setSelectionMode(QAbstractItemView::SingleSelection);
  lvNodes->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvNodes->setAllColumnsShowFocus(true);
  lvNodes->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvNodes->header()->setStretchLastSection(false);
  lvNodes->header()->setSectionsMovable(false);

  cmdAdd = MakeButton(QStringLiteral("Add New"), "cmdAdd", this);
  ui::PlaceTwips(cmdAdd, 180, 3195, 2040, 375);
  cmdEdit = MakeButton(QStringLiteral("Edit"), "cmdEdit", this);
  ui::PlaceTwips(cmdEdit, 2295, 3195, 2040, 375);
  cmdDelete = MakeButton(QStringLiteral("Delete"), "cmdDelete", this);
  ui::PlaceTwips(cmdDelete, 4410, 3195, 2040, 375);

  Frame1_1 = new QGroupBox(QStringLiteral("Local"), this);
  Frame1_1->setObjectName(QStringLiteral("Frame1_1"));
  ui::PlaceTwips(Frame1_1, 270, 3825, 2670, 1950);
  lblSettings_3 = MakeLabel(QStringLiteral("AET:"), "lblSettings_3", Frame1_1);
  ui::PlaceTwips(lblSettings_3, 135, 315, 360, 195);
  txtLocAET = new QLineEdit(Frame1_1);
  txtLocAET->setObjectName(QStringLiteral("txtLocAET"));
  ui::PlaceTwips(txtLocAET, 135, 540, 2400, 285);

  Frame1_0 = new QGroupBox(QStringLiteral("Archive"), this);
  Frame1_0->setObjectName(QStringLiteral("Frame1_0"));
  ui::PlaceTwips(Frame1_0, 3060, 3825, 3390, 1950);
  lblSettings_0 = MakeLabel(QStringLiteral("Remote AET:"), "lblSettings_0", Frame1_0);
  ui::PlaceTwips(lblSettings_0, 180, 315, 1080, 195);
  txtQuAET = new QLineEdit(Frame1_0);
  txtQuAET->setObjectName(QStringLiteral("txtQuAET"));
  ui::PlaceTwips(txtQuAET, 180, 540, 3030, 285);
  lblSettings_1 = MakeLabel(QStringLiteral("Remote IP:"), "lblSettings_1", Frame1_0);
  ui::PlaceTwips(lblSettings_1, 180, 1035, 945, 195);
  txtQuIP = new CharFilterEdit(QStringLiteral("0123456789."), Frame1_0);
  txtQuIP->setObjectName(QStringLiteral("txtQuIP"));
  ui::PlaceTwips(txtQuIP, 180, 1305, 1500, 285);
  lblSettings_2 = MakeLabel(QStringLiteral("Remote Port:"), "lblSettings_2", Frame1_0);
  ui::PlaceTwips(lblSettings_2, 2070, 1035, 1125, 195);
  txtQuPort = new CharFilterEdit(QStringLiteral("0123456789"), Frame1_0);
  txtQuPort->setObjectName(QStringLiteral("txtQuPort"));
  ui::PlaceTwips(txtQuPort, 2070, 1305, 1140, 285);

  fraSettings = new QGroupBox(this);
  fraSettings->setObjectName(QStringLiteral("fraSettings"));
  ui::PlaceTwips(fraSettings, 270, 5850, 6225, 600);
  chkExtStudy = new QCheckBox(QStringLiteral("Extended Study Date"), fraSettings);
  chkExtStudy->setObjectName(QStringLiteral("chkExtStudy"));
  MakeBold(chkExtStudy);
  ui::PlaceTwips(chkExtStudy, 135, 225, 2445, 240);

  cmdApply = MakeButton(QStringLiteral("Apply"), "cmdApply", this);
  ui::PlaceTwips(cmdApply, 2385, 6570, 1320, 420);
  cmdOK = MakeButton(QStringLiteral("OK"), "cmdOK", this);
  ui::PlaceTwips(cmdOK, 3780, 6570, 1320, 420);
  cmdCancel = MakeButton(QStringLiteral("Cancel"), "cmdCancel", this);
  ui::PlaceTwips(cmdCancel, 5175, 6570, 1320, 420);

  // Beside the archive fields, in the free right part of the frame below
  // them: the archive's fields stay where they were designed.
  cmdTest = MakeButton(QStringLiteral("Test"), "cmdTest", fraSettings);
  cmdTest->setToolTip(QStringLiteral("Send a C-ECHO to the archive with the values in the fields"));
  ui::PlaceTwips(cmdTest, 4770, 135, 1320, 375);
  lblTls = new QLabel(fraSettings);
  lblTls->setTextFormat(Qt::PlainText);
  lblTls->setObjectName(QStringLiteral("lblTls"));
  ui::PlaceTwips(lblTls, 2700, 225, 1980, 240);

  // Below everything designed, so nothing designed moves.
  fraStandard = new QGroupBox(this);
  fraStandard->setObjectName(QStringLiteral("fraStandard"));
  ui::PlaceTwips(fraStandard, 270, kDesignedHeight - 45, 6225, 600);
  lblModalityKey = MakeLabel(QStringLiteral("Modality key:"), "lblModalityKey", fraStandard);
  ui::PlaceTwips(lblModalityKey, 135, 210, 1170, 195);
  cboModalityKey = new QComboBox(fraStandard);
  cboModalityKey->setObjectName(QStringLiteral("cboModalityKey"));
  cboModalityKey->setToolTip(QStringLiteral(
      "The attribute the modality is sent in: Modality (0008,0060), or Modalities in Study "
      "(0008,0061) for a standard archive"));
  for (ModalityKey key : {ModalityKey::Modality, ModalityKey::ModalitiesInStudy}) {
    const QString text = QString::fromLatin1(ModalityKeyText(key).data(),
                                             static_cast<int>(ModalityKeyText(key).size()));
    cboModalityKey->addItem(text, static_cast<int>(key));
  }
  ui::PlaceTwips(cboModalityKey, 1350, 150, 1845, 315);
  lblForwardMethod = MakeLabel(QStringLiteral("Send by:"), "lblForwardMethod", fraStandard);
  ui::PlaceTwips(lblForwardMethod, 3375, 210, 720, 195);
  cboForwardMethod = new QComboBox(fraStandard);
  cboForwardMethod->setObjectName(QStringLiteral("cboForwardMethod"));
  cboForwardMethod->setToolTip(QStringLiteral(
      "REDIRECT: the archive's forwarding request; MOVE: C-MOVE to the active forward node"));
  for (ForwardMethod method : {ForwardMethod::Redirect, ForwardMethod::Move}) {
    const QString text = QString::fromLatin1(ForwardMethodText(method).data(),
                                             static_cast<int>(ForwardMethodText(method).size()));
    cboForwardMethod->addItem(text, static_cast<int>(method));
  }
  ui::PlaceTwips(cboForwardMethod, 4140, 150, 1935, 315);

  // Named after their labels, not their frames, for assistive technology.
  ui::InstallAccessibleInterfaces();
  ui::NameField(nullptr, lvNodes, QStringLiteral("Forward nodes"),
                QStringLiteral("Alias and AET of each forward node; Edit changes the selected one"));
  ui::NameField(lblSettings_3, txtLocAET, QStringLiteral("Local AET"), QStringLiteral("This station's AE title"));
  ui::NameField(lblSettings_0, txtQuAET, QStringLiteral("Remote AET"), QStringLiteral("Archive AE title"));
  ui::NameField(lblSettings_1, txtQuIP, QStringLiteral("Remote IP"),
                QStringLiteral("Archive IP address; digits and dots"));
  ui::NameField(lblSettings_2, txtQuPort, QStringLiteral("Remote Port"),
                QStringLiteral("Archive TCP port, 1 to 65535"));
  ui::NameField(lblModalityKey, cboModalityKey, QStringLiteral("Modality key"));
  ui::NameField(lblForwardMethod, cboForwardMethod, QStringLiteral("Send by"));

  // The designed order first; the additions after it.
  QWidget* const order[] = {cmdAdd,    cmdEdit,  cmdDelete, txtLocAET,      txtQuAET,
                            txtQuIP,   txtQuPort, cmdApply, cmdCancel,      lvNodes,
                            cmdOK,     chkExtStudy, cmdTest, cboModalityKey, cboForwardMethod};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(txtLocAET, &QLineEdit::textChanged, this, &frmSettings::EnableApply);
  connect(txtQuAET, &QLineEdit::textChanged, this, &frmSettings::EnableApply);
  connect(txtQuIP, &CharFilterEdit::characterAccepted, this, &frmSettings::EnableApply);
  connect(txtQuIP, &QLineEdit::textChanged, this, &frmSettings::RefreshTls);
  connect(txtQuPort, &CharFilterEdit::characterAccepted, this, &frmSettings::EnableApply);
  connect(chkExtStudy, &QCheckBox::toggled, this, &frmSettings::EnableApply);
  connect(cboModalityKey, &QComboBox::currentIndexChanged, this, &frmSettings::EnableApply);
  connect(cboForwardMethod, &QComboBox::currentIndexChanged, this, &frmSettings::EnableApply);
  connect(cmdTest, &QPushButton::clicked, this, &frmSettings::cmdTest_Click);
  connect(&echo_, &operations::ConnectionTest::finished, this, &frmSettings::ShowTestOutcome);
  connect(cmdAdd, &QPushButton::clicked, this, &frmSettings::cmdAdd_Click);
  connect(cmdEdit, &QPushButton::clicked, this, &frmSettings::cmdEdit_Click);
  connect(lvNodes, &QTreeWidget::itemDoubleClicked, this, &frmSettings::cmdEdit_Click);
  connect(cmdDelete, &QPushButton::clicked, this, &frmSettings::cmdDelete_Click);
  connect(cmdApply, &QPushButton::clicked, this, &frmSettings::Apply);
  connect(cmdOK, &QPushButton::clicked, this, &frmSettings::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

  Load();
  cmdAdd->setFocus();
}

void frmSettings::Load() {
  const qreal dpi = lvNodes->logicalDpiY();
  lvNodes->setHeaderLabels({QStringLiteral("Alias"), QStringLiteral("AET")});
  lvNodes->setColumnWidth(kAliasColumn, ui::Twips(3100, dpi));
  lvNodes->setColumnWidth(kAETColumn, ui::Twips(3100, dpi));

  // Every slot that holds an entry becomes a row, in slot order: an empty or
  // bar-less slot must not hide the nodes after it, or the next Apply would
  // erase them from the file.
  for (const std::optional<NodeEntry>& node : host_.values().ForwardNodes) {
    if (node) AddRow(QString::fromStdString(node->alias), QString::fromStdString(node->aet));
  }

  host_.GetINI();
  const SettingsValues& values = host_.values();
  txtLocAET->setText(QString::fromStdString(values.LocalAET));
  chkExtStudy->setChecked(values.ExtStudyDate);
  txtQuAET->setText(QString::fromStdString(values.QueryAET));
  txtQuPort->setText(QString::number(values.QueryPort));
  txtQuIP->setText(QString::fromStdString(values.QueryIP));
  cboModalityKey->setCurrentIndex(cboModalityKey->findData(static_cast<int>(values.QueryModalityKey)));
  cboForwardMethod->setCurrentIndex(cboForwardMethod->findData(static_cast<int>(values.ForwardBy)));
  ShowTls(values.Tls);

  // Filling the fields fired the change handlers; a freshly opened dialog
  // shows nothing to apply.
  cmdApply->setEnabled(false);
}

void frmSettings::ShowTls(const TlsValues& tls) {
  shownTls_ = tls;
  RefreshTls();
}

// The identity follows the IP field as it is typed, unless [TLS]
// ServerName names another.
void frmSettings::RefreshTls() {
  const TlsValues& tls = shownTls_;
  if (!tls.Enabled) {
    lblTls->setText(QStringLiteral("TLS: off"));
    lblTls->setToolTip(QStringLiteral("[TLS] Enabled is not set in Settings.ini: associations are plain DICOM"));
    return;
  }
  const QString identity = ui::ShownMessage(
      tls.ServerName.empty() ? txtQuIP->text().trimmed() : QString::fromStdString(tls.ServerName));
  const QString text = identity.isEmpty() ? QStringLiteral("TLS: on") : QStringLiteral("TLS: on (%1)").arg(identity);
  lblTls->setText(lblTls->fontMetrics().elidedText(text, Qt::ElideMiddle, lblTls->width()));
  QString tip = QStringLiteral("[TLS] Enabled=1 in Settings.ini: every association uses TLS, the archive's "
                               "certificate checked against %1 and for the name %2")
                    .arg(ui::ShownMessage(QString::fromStdString(tls.CACertificates)), identity);
  if (!tls.CRL.empty()) {
    tip += QStringLiteral(", and against the revocation lists in %1")
               .arg(ui::ShownMessage(QString::fromStdString(tls.CRL)));
  }
  // A tool tip is read as markup when it looks like markup: the file's
  // values go in as escaped plain text.
  lblTls->setToolTip(Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal));
}

void frmSettings::AddRow(const QString& alias, const QString& aet) {
  auto* item = new QTreeWidgetItem(lvNodes);
  item->setText(kAliasColumn, alias);
  item->setText(kAETColumn, aet);
}

void frmSettings::EnableApply() { cmdApply->setEnabled(true); }

bool frmSettings::Apply() {
  if (!IsValidPortText(txtQuPort->text())) {
    // A port outside 1..65535 would be stored and then make every search fail
    // without saying why; better to say so now.
    host_.messages().Show({QStringLiteral("Remote Port must be a number from 1 to 65535. "
                                          "Nothing was saved."),
                           ui::kAppTitle, ui::MessageIcon::Warning, ui::MessageButtons::Ok});
    txtQuPort->setFocus();
    txtQuPort->selectAll();
    return false;
  }

  cmdApply->setEnabled(false);
  DialogSettings settings;
  settings.localAET = txtLocAET->text().toStdString();
  settings.extStudyDate = chkExtStudy->isChecked();
  settings.queryAET = txtQuAET->text().toStdString();
  settings.queryIP = txtQuIP->text().toStdString();
  settings.queryPort = txtQuPort->text().toStdString();
  const int rows = lvNodes->topLevelItemCount();
  for (int i = 0; i < std::min(rows, kNodeSlots); ++i) {
    const QTreeWidgetItem* item = lvNodes->topLevelItem(i);
    settings.nodes[static_cast<std::size_t>(i)] =
        NodeEntry{item->text(kAliasColumn).toStdString(), item->text(kAETColumn).toStdString(), true};
  }
  settings.modalityKey = static_cast<ModalityKey>(cboModalityKey->currentData().toInt());
  settings.forwardBy = static_cast<ForwardMethod>(cboForwardMethod->currentData().toInt());

  // One write for every key: the file holds all of them or, when it cannot
  // be written, none.
  const SaveResult saved = host_.store().Apply(settings);
  if (!saved) {
    cmdApply->setEnabled(true);
    host_.messages().Show(
        {QString::fromStdString(saved.error) +
             QStringLiteral("\n\nNothing was saved. The dialog keeps your values; try again when the "
                            "file can be written."),
         ui::kAppTitle, ui::MessageIcon::Critical, ui::MessageButtons::Ok});
    return false;
  }
  RecordSaved(settings);
  host_.TakeApplied(settings);

  host_.SetDateRangeVisible(chkExtStudy->isChecked());
  host_.LoadNodeButtons();
  return true;
}

void frmSettings::RecordSaved(const DialogSettings& saved) {
  if (!audit::Installed()) return;
  // Who changed which keys, and the station and archive as they are now.
  audit::Context context = audit::ContextFrom(host_.values());
  context.localAET = saved.localAET;
  context.archiveAET = saved.queryAET;
  context.archiveHost = saved.queryIP;
  context.archivePort = ParseInt32(saved.queryPort).value_or(0);
  audit::Record(audit::SettingsChanged(context, audit::ChangedDialogKeys(host_.values(), saved),
                                       platform::Utf8Of(host_.store().file())));
}

frmSettings::~frmSettings() { CancelTest(); }

void frmSettings::done(int result) {
  CancelTest();
  QDialog::done(result);
}

void frmSettings::CancelTest() {
  echo_.cancel();
}

void frmSettings::cmdTest_Click() {
  // While a test runs the button stops it.
  if (echo_.isRunning()) {
    CancelTest();
    cmdTest->setEnabled(false);
    return;
  }
  const auto show = [this](const QString& text, ui::MessageIcon icon) {
    host_.messages().Show({text, ui::kAppTitle, icon, ui::MessageButtons::Ok});
    emit connectionTested();
  };
  // Checked here rather than by the network: a field that cannot work says
  // what to correct, at once.
  if (!IsValidPortText(txtQuPort->text())) {
    show(QStringLiteral("Remote Port \"%1\" is not a port: enter a number from 1 to 65535 "
                        "and click Test again.")
             .arg(txtQuPort->text()),
         ui::MessageIcon::Warning);
    txtQuPort->setFocus();
    txtQuPort->selectAll();
    return;
  }
  if (txtQuIP->text().trimmed().isEmpty()) {
    show(QStringLiteral("Remote IP is empty: enter the archive's address and click Test again."),
         ui::MessageIcon::Warning);
    txtQuIP->setFocus();
    return;
  }
  if (txtQuAET->text().trimmed().isEmpty()) {
    show(QStringLiteral("Remote AET is empty: enter the archive's AE title and click Test again."),
         ui::MessageIcon::Warning);
    txtQuAET->setFocus();
    return;
  }
  // The values in the fields, applied or not: the point is to try them
  // before saving them.
  dicom::ArchiveAddress archive;
  archive.host = txtQuIP->text().trimmed().toStdString();
  archive.port = *ParseInt32(txtQuPort->text().toStdString());
  archive.callingAET = txtLocAET->text().toStdString();
  archive.calledAET = txtQuAET->text().toStdString();
  archive.timeoutSeconds = host_.values().TimeoutSeconds;
  // [TLS] from the file as it is now: it is edited by hand, perhaps while
  // the dialog is open.
  TlsValues tlsValues = host_.values().Tls;
  host_.store().LoadTls(tlsValues);
  ShowTls(tlsValues);
  archive.tls = operations::TlsSettingsFrom(tlsValues);
  cmdTest->setText(QStringLiteral("Stop test"));
  echo_.start(archive);
}

void frmSettings::ShowTestOutcome(const operations::EchoOutcome& outcome) {
  cmdTest->setText(QStringLiteral("Test"));
  cmdTest->setEnabled(true);
  const QString text = QString::fromStdString(outcome.text);
  if (outcome.cancelled) {
    // The user's choice: nothing to tell.
  } else if (outcome.ok) {
    host_.messages().Show(
        {text, ui::kAppTitle, ui::MessageIcon::Information, ui::MessageButtons::Ok});
  } else {
    host_.messages().Show({ui::ErrorText(outcome.number, text), ui::kAppTitle,
                           ui::MessageIcon::Critical, ui::MessageButtons::Ok});
  }
  emit connectionTested();
}

void frmSettings::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter presses the focused button, as Space does.
    if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
        focused != nullptr && focused->isEnabled()) {
      event->accept();
      focused->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

void frmSettings::cmdOK_Click() {
  if (Apply()) accept();
}

void frmSettings::cmdAdd_Click() {
  if (lvNodes->topLevelItemCount() >= kMaxNodeRows) {
    host_.messages().Show({QStringLiteral("You can\u00B4t add more then %1 nodes.").arg(kMaxNodeRows),
                           ui::kAppTitle, ui::MessageIcon::Information, ui::MessageButtons::Ok});
    return;
  }
  frmChange editor(this, frmChange::Mode::New, host_.messages());
  if (editor.exec() != QDialog::Accepted) return;
  AddRow(editor.alias(), editor.aet());
  EnableApply();
}

void frmSettings::cmdEdit_Click() {
  const QList<QTreeWidgetItem*> selected = lvNodes->selectedItems();
  if (selected.isEmpty()) return;
  QTreeWidgetItem* item = selected.first();
  frmChange editor(this, frmChange::Mode::Edit, host_.messages(), item->text(kAliasColumn),
                   item->text(kAETColumn));
  if (editor.exec() != QDialog::Accepted) return;
  item->setText(kAliasColumn, editor.alias());
  item->setText(kAETColumn, editor.aet());
  // Save enables Apply even when nothing changed.
  EnableApply();
}

void frmSettings::cmdDelete_Click() {
  const QList<QTreeWidgetItem*> selected = lvNodes->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.first();
  // Nothing stays selected: a second Delete must not remove the next row.
  lvNodes->clearSelection();
  EnableApply();
}

}  // namespace morvanta::settings_ui
