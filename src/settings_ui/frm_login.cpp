#include "settings_ui/frm_login.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <algorithm>

#include "settings_ui/dialog_frame.h"
#include "ui/accessibility.h"
#include "ui/ui.h"

namespace morvanta::settings_ui {

namespace {

// Every typed character shows as "*", whatever the platform style's own mask
// character is.
class StarMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

bool IsAcceptedPassword(const QString& typed) {
  return typed == QLatin1String("vorel") || typed == QLatin1String("grimsal");
}

frmLogin::frmLogin(QWidget* owner, ui::MessageSink& messages)
    : QDialog(owner), messages_(messages) {
  setObjectName(QStringLiteral("frmLogin"));
  setWindowTitle(QStringLiteral("Login"));
  MakeFixedDialog(this, 4395, 1170);

  Label1 = new QLabel(QStringLiteral("Password:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  MakeBold(Label1);
  ui::PlaceTwips(Label1, 135, 225, 855, 195);
  // Sized to its text: never cut "Password:" when the font is wider than designed.
  Label1->resize(std::max(Label1->width(), Label1->sizeHint().width()), Label1->height());

  txtPW = new QLineEdit(this);
  txtPW->setObjectName(QStringLiteral("txtPW"));
  auto* mask = new StarMaskStyle;
  mask->setParent(this);
  txtPW->setStyle(mask);
  txtPW->setEchoMode(QLineEdit::Password);
  ui::PlaceTwips(txtPW, 1305, 180, 2940, 330);

  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  MakeBold(cmdOK);
  ui::PlaceTwips(cmdOK, 1710, 675, 1230, 375);
  cmdOK->setDefault(true);

  cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  MakeBold(cmdCancel);
  ui::PlaceTwips(cmdCancel, 3015, 675, 1230, 375);
  // Enter anywhere presses OK, also while Cancel has the focus.
  cmdCancel->setAutoDefault(false);

  ui::NameField(Label1, txtPW, QStringLiteral("Password"), QStringLiteral("The settings password"));

  setTabOrder(txtPW, cmdCancel);
  setTabOrder(cmdCancel, cmdOK);
  txtPW->setFocus();

  connect(cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmLogin::cmdOK_Click() {
  if (IsAcceptedPassword(txtPW->text())) {
    accept();
    return;
  }
  emit passwordRefused();
  // The typed text stays as it is so the user can correct it.
  messages_.Show({QStringLiteral("Incorrect password."), QStringLiteral("Login"),
                  ui::MessageIcon::Critical, ui::MessageButtons::Ok});
}

void frmLogin::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace morvanta::settings_ui
