#include "search_widgets/search_panel.h"

#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/accessibility.h"
#include "ui/controls.h"
#include "ui/optional_date_edit.h"
#include "ui/ui.h"

namespace morvanta::search {

namespace {

const QStringList kModalities{QString(),          QStringLiteral("CR"), QStringLiteral("CT"),
                              QStringLiteral("DX"), QStringLiteral("MR"), QStringLiteral("MG"),
                              QStringLiteral("US"), QStringLiteral("XA")};

}  // namespace

SearchPanel::SearchPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("picSearch"));
  using ui::MakeDate;
  using ui::MakeLabel;
  using ui::MakeText;
  lblSearch[0] = MakeLabel(this, "lblSearch_0", QStringLiteral("Patient - ID:"), 90, 45);
  txtPatID = MakeText(this, "txtPatID", 90, 315, 3030, 315);
  lblSearch[3] = MakeLabel(this, "lblSearch_3", QStringLiteral("Date of Birth:"), 3420, 0);
  dtpDOB = MakeDate(this, "dtpDOB", 3420, 270, 1725, 330);

  // The default button: it draws its own focus frame, which the style's
  // default-button look would hide.
  cmdSearch = new ui::FocusMarkedButton(QStringLiteral("Search"), this);
  cmdSearch->setObjectName(QStringLiteral("cmdSearch"));
  ui::PlaceTwips(cmdSearch, 7020, 225, 1185, 1050);
  cmdSearch->setFont(ui::Tahoma(11.25, true));
  cmdSearch->setDefault(true);

  lblSearch[1] = MakeLabel(this, "lblSearch_1", QStringLiteral("Last Name:"), 90, 675);
  txtLastName = MakeText(this, "txtLastName", 90, 945, 3075, 315);
  lblSearch[2] = MakeLabel(this, "lblSearch_2", QStringLiteral("First Name:"), 3420, 675);
  txtFirstName = MakeText(this, "txtFirstName", 3420, 945, 2355, 330);
  lblSearch[5] = MakeLabel(this, "lblSearch_5", QStringLiteral("Modality:"), 6030, 675);
  cboMod = new QComboBox(this);
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

  lblSearch[6] = new QLabel(QStringLiteral("Study Date:"), this);
  lblSearch[6]->setObjectName(QStringLiteral("lblSearch_6"));
  lblSearch[6]->setFont(ui::Tahoma(9, true));
  ui::PlaceTwips(lblSearch[6], 135, 1485, 0, 0);
  lblSearch[6]->adjustSize();
  dtpStudy1 = MakeDate(this, "dtpStudy1", 1440, 1395, 1725, 375);
  lblSearch[7] = MakeLabel(this, "lblSearch_7", QStringLiteral("-"), 3285, 1485);
  dtpStudy2 = MakeDate(this, "dtpStudy2", 3420, 1395, 1725, 375);

  NameForAssistiveTechnology();

  // The composed name of the latest search, kept but never shown.
  txtPatName = MakeText(this, "txtPatName", 0, 0, 0, 0);
  txtPatName->hide();
}

void SearchPanel::NameForAssistiveTechnology() {
  ui::InstallAccessibleInterfaces();
  ui::NameField(lblSearch[0], txtPatID, QStringLiteral("Patient ID"));
  ui::NameField(lblSearch[1], txtLastName, QStringLiteral("Last Name"));
  ui::NameField(lblSearch[2], txtFirstName, QStringLiteral("First Name"));
  ui::NameField(lblSearch[5], cboMod, QStringLiteral("Modality"),
                QStringLiteral("Pick a modality from the list or type one"));
  // A date field is named on its edit, which takes the focus for it.
  lblSearch[3]->setBuddy(dtpDOB);
  dtpDOB->setAccessibleLabel(QStringLiteral("Date of Birth"));
  lblSearch[6]->setBuddy(dtpStudy1);
  dtpStudy1->setAccessibleLabel(QStringLiteral("Study Date from"));
  lblSearch[7]->setBuddy(dtpStudy2);
  dtpStudy2->setAccessibleLabel(QStringLiteral("Study Date to"));
  cmdSearch->setAccessibleDescription(QStringLiteral("Search the archive with the fields filled (Enter)"));
}

SearchCriteria SearchPanel::criteria() const {
  SearchCriteria c;
  c.patientId = txtPatID->text();
  c.lastName = txtLastName->text();
  c.firstName = txtFirstName->text();
  c.birthDate = dtpDOB->date();
  c.modality = cboMod->currentText();
  c.rangeStart = dtpStudy1->date();
  c.rangeEnd = dtpStudy2->date();
  return c;
}

void SearchPanel::Reset(const QDate& today) {
  for (ui::OptionalDateEdit* d : {dtpDOB, dtpStudy1, dtpStudy2}) {
    d->setShownDate(today);
    d->clear();
  }
  cboMod->clear();
  cboMod->addItems(kModalities);
  cboMod->setCurrentIndex(0);
}

void SearchPanel::SetDateRangeVisible(bool visible) {
  for (QWidget* w : {static_cast<QWidget*>(lblSearch[6]), static_cast<QWidget*>(dtpStudy1),
                     static_cast<QWidget*>(lblSearch[7]), static_cast<QWidget*>(dtpStudy2)}) {
    w->setVisible(visible);
  }
}

}  // namespace morvanta::search
