#include "settings_ui/frm_change.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "settings_ui/dialog_frame.h"
#include "settings_ui/line_edits.h"
#include "ui/accessibility.h"
#include "ui/ui.h"

namespace morvanta::settings_ui {

frmChange::frmChange(QWidget* owner, Mode mode, ui::MessageSink& messages,
                     const QString& alias, const QString& aet)
    : QDialog(owner), mode_(mode), messages_(messages) {
  setObjectName(QStringLiteral("frmChange"));
  const bool editing = mode == Mode::Edit;
  setWindowTitle(editing ? QStringLiteral("Edit Entry") : QStringLiteral("New Entry"));
  MakeFixedDialog(this, 4635, 2280);

  lblSettings_4 = new QLabel(QStringLiteral("Alias:"), this);
  lblSettings_4->setObjectName(QStringLiteral("lblSettings_4"));
  MakeBold(lblSettings_4);
  ui::PlaceTwips(lblSettings_4, 135, 135, 450, 195);

  txtAlias = new NodeFieldEdit(this);
  txtAlias->setObjectName(QStringLiteral("txtAlias"));
  ui::PlaceTwips(txtAlias, 135, 405, 4380, 330);

  lblSettings_5 = new QLabel(QStringLiteral("AET:"), this);
  lblSettings_5->setObjectName(QStringLiteral("lblSettings_5"));
  MakeBold(lblSettings_5);
  ui::PlaceTwips(lblSettings_5, 135, 855, 360, 195);

  txtAET = new NodeFieldEdit(this);
  txtAET->setObjectName(QStringLiteral("txtAET"));
  txtAET->setMaxLength(kAETitleMaxLength);
  ui::PlaceTwips(txtAET, 135, 1125, 4380, 330);

  cmdOK = new QPushButton(editing ? QStringLiteral("Save") : QStringLiteral("Add"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  MakeBold(cmdOK);
  ui::PlaceTwips(cmdOK, 1710, 1710, 1365, 420);
  cmdOK->setDefault(true);

  cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  MakeBold(cmdCancel);
  ui::PlaceTwips(cmdCancel, 3150, 1710, 1365, 420);
  // Enter on the focused Cancel cancels; in a field it saves.
  cmdCancel->setAutoDefault(true);

  if (editing) {
    txtAlias->setText(alias);
    // A title stored longer than an AE title may be (written by hand or by
    // another tool) is shown and saved whole, never cut without a word; it
    // can only be shortened here.
    txtAET->setMaxLength(std::max<int>(kAETitleMaxLength, static_cast<int>(aet.size())));
    txtAET->setText(aet);
  }

  ui::NameField(lblSettings_4, txtAlias, QStringLiteral("Alias"),
                QStringLiteral("The name the forward node's button shows"));
  ui::NameField(lblSettings_5, txtAET, QStringLiteral("AET"),
                QStringLiteral("The forward node's AE title, at most 16 characters"));

  setTabOrder(txtAlias, txtAET);
  setTabOrder(txtAET, cmdOK);
  setTabOrder(cmdOK, cmdCancel);
  txtAlias->setFocus();

  connect(cmdOK, &QPushButton::clicked, this, &frmChange::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString frmChange::alias() const { return txtAlias->text(); }
QString frmChange::aet() const { return txtAET->text(); }

void frmChange::cmdOK_Click() {
  // A new row needs something in one of the fields; a space counts. An edited
  // row may be emptied on purpose.
  if (mode_ == Mode::New && txtAlias->text().isEmpty() && txtAET->text().isEmpty()) {
    messages_.Show({QStringLiteral("Please fill the fields with data."), ui::kAppTitle,
                    ui::MessageIcon::Information, ui::MessageButtons::Ok});
    return;
  }
  accept();
}

void frmChange::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace morvanta::settings_ui
