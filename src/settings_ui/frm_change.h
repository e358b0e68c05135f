#pragma once
// frmChange: the node editor, one field for the alias and one for the AE
// title. It only edits its two fields; the settings dialog puts the result
// into its list.

#include <QDialog>

class QKeyEvent;
class QLabel;
class QPushButton;

namespace morvanta::ui {
class MessageSink;
}

namespace morvanta::settings_ui {

class NodeFieldEdit;

// PS3.5 6.2: an AE title is at most 16 characters.
inline constexpr int kAETitleMaxLength = 16;

class frmChange : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { New, Edit };

  // The mode is fixed before the editor is built: it chooses the caption
  // ("New Entry" / "Edit Entry") and the OK button's text ("Add" / "Save").
  // In Edit mode the fields start with `alias` and `aet`.
  frmChange(QWidget* owner, Mode mode, ui::MessageSink& messages,
            const QString& alias = {}, const QString& aet = {});

  Mode mode() const { return mode_; }
  QString alias() const;
  QString aet() const;

 protected:
  // Esc is not bound to Cancel: the editor stays open.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void cmdOK_Click();

  Mode mode_;
  ui::MessageSink& messages_;
  QLabel* lblSettings_4;
  NodeFieldEdit* txtAlias;
  QLabel* lblSettings_5;
  NodeFieldEdit* txtAET;
  QPushButton* cmdOK;
  QPushButton* cmdCancel;
};

}  // namespace morvanta::settings_ui
