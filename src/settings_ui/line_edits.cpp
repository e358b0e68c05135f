#include "settings_ui/line_edits.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QValidator>
#include <memory>

namespace morvanta::settings_ui {

namespace {

bool TypesCharacter(const QKeyEvent* event) {
  const QString text = event->text();
  if (text.isEmpty()) return false;
  // Shortcuts such as Ctrl+A arrive with a control character as text; they
  // are editing commands, not typed characters. Backspace is the exception.
  if (event->key() == Qt::Key_Backspace) return true;
  return !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) && text.at(0).isPrint();
}

// Drops every "|" instead of refusing the whole edit, so a pasted
// "CT room|CTAE" keeps its other characters.
class NoBarValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override {
    const qsizetype before = input.left(pos).count(QLatin1Char('|'));
    input.remove(QLatin1Char('|'));
    pos -= static_cast<int>(before);
    return Acceptable;
  }
};

}  // namespace

CharFilterEdit::CharFilterEdit(QString allowed, QWidget* parent)
    : QLineEdit(parent), allowed_(std::move(allowed)) {
  setAcceptDrops(false);
  // Composed input would bypass keyPressEvent and with it the filter.
  setAttribute(Qt::WA_InputMethodEnabled, false);
}

QString CharFilterEdit::Filtered(const QString& text) const {
  QString out;
  for (const QChar c : text) {
    if (allowed_.contains(c)) out += c;
  }
  return out;
}

void CharFilterEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    event->accept();
    PasteFiltered();
    return;
  }
  if (TypesCharacter(event)) {
    const bool backspace = event->key() == Qt::Key_Backspace;
    if (!backspace && !allowed_.contains(event->text())) {
      event->accept();  // discarded before it reaches the field
      return;
    }
    QLineEdit::keyPressEvent(event);
    emit characterAccepted();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void CharFilterEdit::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu());
  for (QAction* action : menu->actions()) {
    if (action->objectName() == QLatin1String("edit-paste")) {
      disconnect(action, &QAction::triggered, nullptr, nullptr);
      connect(action, &QAction::triggered, this, &CharFilterEdit::PasteFiltered);
    }
  }
  menu->exec(event->globalPos());
}

void CharFilterEdit::PasteFiltered() {
  if (isReadOnly()) return;
  const QString text = Filtered(QGuiApplication::clipboard()->text());
  if (text.isEmpty()) return;
  insert(text);
  emit characterAccepted();
}

NodeFieldEdit::NodeFieldEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new NoBarValidator(this));
}

void NodeFieldEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  deselect();
  end(false);
}

}  // namespace morvanta::settings_ui
