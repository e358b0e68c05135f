#include "settings_ui/frm_settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "config/profile.h"
#include "config/settings.h"
#include "settings_ui/dialog_frame.h"
#include "settings_ui/frm_change.h"
#include "settings_ui/line_edits.h"
#include "settings_ui/settings_ui.h"
#include "ui/ui.h"

namespace morvanta::settings_ui {

namespace {

constexpr int kMaxPort = 65535;
constexpr int kAliasColumn = 0;
constexpr int kAETColumn = 1;

QLabel* MakeLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  MakeBold(label);
  return label;
}

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  MakeBold(button);
  // The dialog has no default button: Enter presses nothing.
  button->setAutoDefault(false);
  return button;
}

}  // namespace

bool IsValidPortText(const QString& text) {
  const std::optional<std::int32_t> port = ParseInt32(text.toStdString());
  return port && *port >= 1 && *port <= kMaxPort;
}

frmSettings::frmSettings(QWidget* owner, SettingsHost& host) : QDialog(owner), host_(host) {
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(QStringLiteral("Settings"));
  MakeFixedDialog(this, 6555, 7140);

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

  QWidget* const order[] = {cmdAdd,    cmdEdit,  cmdDelete, txtLocAET, txtQuAET, txtQuIP,
                            txtQuPort, cmdApply, cmdCancel, lvNodes,   cmdOK,    chkExtStudy};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(txtLocAET, &QLineEdit::textChanged, this, &frmSettings::EnableApply);
  connect(txtQuAET, &QLineEdit::textChanged, this, &frmSettings::EnableApply);
  connect(txtQuIP, &CharFilterEdit::characterAccepted, this, &frmSettings::EnableApply);
  connect(txtQuPort, &CharFilterEdit::characterAccepted, this, &frmSettings::EnableApply);
  connect(chkExtStudy, &QCheckBox::toggled, this, &frmSettings::EnableApply);
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
  for (const std::string& entry : host_.values().ForwardNodes) {
    if (entry.empty()) continue;
    const NodeEntry node = ParseNodeEntry(entry);
    AddRow(QString::fromStdString(node.alias), QString::fromStdString(node.aet));
  }

  host_.GetINI();
  const SettingsValues& values = host_.values();
  txtLocAET->setText(QString::fromStdString(values.LocalAET));
  chkExtStudy->setChecked(values.ExtStudyDate);
  txtQuAET->setText(QString::fromStdString(values.QueryAET));
  txtQuPort->setText(QString::number(values.QueryPort));
  txtQuIP->setText(QString::fromStdString(values.QueryIP));

  // Filling the fields fired the change handlers; a freshly opened dialog
  // shows nothing to apply.
  cmdApply->setEnabled(false);
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
  const std::filesystem::path file = host_.settingsFile();
  int written = 0;
  const auto write = [&](std::string_view section, std::string_view key,
                         const std::string& value) {
    const WriteResult result = WriteINI(section, key, value, file);
    if (!result) {
      cmdApply->setEnabled(true);
      host_.messages().Show(
          {QString::fromStdString(result.error) + QStringLiteral("\n\n") +
               (written == 0 ? QStringLiteral("Nothing was saved.")
                             : QStringLiteral("Only part of the settings was saved.")) +
               QStringLiteral(" The dialog keeps your values; try again when the file can be "
                              "written."),
           ui::kAppTitle, ui::MessageIcon::Critical, ui::MessageButtons::Ok});
      return false;
    }
    ++written;
    return true;
  };

  if (!write("Local", "AET", txtLocAET->text().toStdString())) return false;
  if (!write("GENERAL", "StudyDate", chkExtStudy->isChecked() ? "1" : "0")) return false;
  if (!write("Query", "AET", txtQuAET->text().toStdString())) return false;
  if (!write("Query", "IP", txtQuIP->text().toStdString())) return false;
  if (!write("Query", "Port", txtQuPort->text().toStdString())) return false;
  const int rows = lvNodes->topLevelItemCount();
  for (int i = 0; i < kNodeSlots; ++i) {
    std::string entry;
    if (i < rows) {
      const QTreeWidgetItem* item = lvNodes->topLevelItem(i);
      entry = FormatNodeEntry(item->text(kAliasColumn).toStdString(),
                              item->text(kAETColumn).toStdString());
    }
    if (!write("Forward", NodeKey(i), entry)) return false;
    host_.values().ForwardNodes[static_cast<std::size_t>(i)] = entry;
  }

  host_.SetDateRangeVisible(chkExtStudy->isChecked());
  host_.LoadNodeButtons();
  return true;
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
