#include "settings_ui/line_edits.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QValidator>

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
  connect(this, &QLineEdit::textEdited, this, &CharFilterEdit::OnTextEdited);
}

QString CharFilterEdit::Filtered(const QString& text) const {
  QString out;
  for (const QChar c : text) {
    if (allowed_.contains(c)) out += c;
  }
  return out;
}

void CharFilterEdit::keyPressEvent(QKeyEvent* event) {
  inKeyPress_ = true;
  const auto done = qScopeGuard([this] { inKeyPress_ = false; });
  if (event->matches(QKeySequence::Paste)) {
    event->accept();
    PasteFiltered();
    return;
  }
  if (TypesCharacter(event)) {
    const bool backspace = event->key() == Qt::Key_Backspace;
    if (!backspace && Filtered(event->text()) != event->text()) {
      event->accept();  // discarded before it reaches the field
      return;
    }
    QLineEdit::keyPressEvent(event);
    emit characterAccepted();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void CharFilterEdit::OnTextEdited(const QString& text) {
  const QString filtered = Filtered(text);
  if (filtered != text) {
    const int cursor = cursorPosition();
    const int dropped = static_cast<int>(cursor - Filtered(text.left(cursor)).size());
    setText(filtered);
    setCursorPosition(cursor - dropped);
  }
  // Inside a key press the key handling above has decided about Apply.
  if (!inKeyPress_) emit characterAccepted();
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
