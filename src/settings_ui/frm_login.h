#pragma once
// frmLogin: the password prompt in front of the settings dialog.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QKeyEvent;

namespace morvanta::ui {
class MessageSink;
}

namespace morvanta::settings_ui {

// The two fixed passwords, compared whole and case-sensitively: no trimming,
// no case folding.
bool IsAcceptedPassword(const QString& typed);

class frmLogin : public QDialog {
  Q_OBJECT

 public:
  frmLogin(QWidget* owner, ui::MessageSink& messages);

 signals:
  // A password was typed and refused (for the audit trail; never says what).
  void passwordRefused();

 protected:
  // Esc is not bound to Cancel: the prompt stays open and unchanged.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void cmdOK_Click();

  ui::MessageSink& messages_;
  QLabel* Label1;
  QLineEdit* txtPW;
  QPushButton* cmdOK;
  QPushButton* cmdCancel;
};

}  // namespace morvanta::settings_ui
