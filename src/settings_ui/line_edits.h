#pragma once
// Text fields with the input rules of the settings dialogs.

#include <QLineEdit>
#include <QString>

class QFocusEvent;
class QKeyEvent;

namespace morvanta::settings_ui {

// A field that takes only the characters in `allowed` when they are typed.
// Keys that type no character (Delete, the arrows, Home, End, shortcuts) edit
// the field as usual. Backspace counts as a typed character. Pasted text
// (Ctrl+V, Shift+Insert, the context menu) is filtered the same way: the
// characters not allowed are dropped, the rest inserted, and the paste counts
// as typed. Drops are refused. Text set by the program is taken as it is.
class CharFilterEdit : public QLineEdit {
  Q_OBJECT

 public:
  CharFilterEdit(QString allowed, QWidget* parent);

  // The text with every character not allowed removed.
  QString Filtered(const QString& text) const;

 signals:
  // A typed character (or a paste) passed the filter.
  void characterAccepted();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void PasteFiltered();
  // Catches what reaches the text without a key press (the context menu).
  void OnTextEdited(const QString& text);

  QString allowed_;
  bool inKeyPress_ = false;
};

// A node editor field: "|" separates alias and AE title in the stored entry,
// so the field never holds one (typed or pasted, it is dropped). On focus the
// selection is removed and the caret goes after the last character.
class NodeFieldEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit NodeFieldEdit(QWidget* parent);

 protected:
  void focusInEvent(QFocusEvent* event) override;
};

}  // namespace morvanta::settings_ui
