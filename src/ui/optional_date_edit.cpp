#include "ui/optional_date_edit.h"

#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace morvanta::ui {

OptionalDateEdit::OptionalDateEdit(QWidget* parent)
    : QWidget(parent), check_(new QCheckBox(this)), edit_(new QDateEdit(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(check_);
  layout->addWidget(edit_, 1);

  check_->setObjectName(QStringLiteral("check"));
  edit_->setObjectName(QStringLiteral("edit"));
  // One tab stop for the whole field: the date edit. The box is ticked with
  // the mouse or with Space in the edit.
  check_->setFocusPolicy(Qt::NoFocus);
  setFocusPolicy(Qt::StrongFocus);
  setFocusProxy(edit_);

  edit_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  edit_->setCalendarPopup(true);
  edit_->installEventFilter(this);

  connect(check_, &QCheckBox::toggled, this, [this](bool) {
    UpdateLook();
    if (!updating_) emit dateChanged(date());
  });
  connect(edit_, &QDateEdit::dateChanged, this, [this](QDate shown) {
    if (updating_) return;
    // Enter makes the edit report the date it already showed: that is no
    // date the user chose.
    if (shown == shown_) return;
    shown_ = shown;
    // A date typed, stepped or picked by the user is a date the user wants.
    if (!check_->isChecked()) {
      SetChecked(true);  // emits dateChanged through the box
    } else {
      emit dateChanged(date());
    }
  });
  shown_ = edit_->date();
  UpdateLook();
}

std::optional<QDate> OptionalDateEdit::date() const {
  if (!check_->isChecked()) return std::nullopt;
  return edit_->date();
}

void OptionalDateEdit::setDate(std::optional<QDate> date) {
  const std::optional<QDate> before = this->date();
  updating_ = true;
  if (date && date->isValid()) {
    edit_->setDate(*date);
    shown_ = edit_->date();
    check_->setChecked(true);
  } else {
    check_->setChecked(false);
  }
  updating_ = false;
  UpdateLook();
  if (this->date() != before) emit dateChanged(this->date());
}

void OptionalDateEdit::setShownDate(QDate date) {
  if (!date.isValid()) return;
  updating_ = true;
  edit_->setDate(date);
  shown_ = edit_->date();
  updating_ = false;
}

QDate OptionalDateEdit::shownDate() const { return edit_->date(); }

void OptionalDateEdit::SetChecked(bool checked) { check_->setChecked(checked); }

void OptionalDateEdit::UpdateLook() {
  // Greyed text says "no date" while the field stays focusable and typable.
  QPalette palette = edit_->parentWidget()->palette();
  if (!check_->isChecked()) {
    palette.setColor(QPalette::Active, QPalette::Text,
                     palette.color(QPalette::Disabled, QPalette::Text));
    palette.setColor(QPalette::Inactive, QPalette::Text,
                     palette.color(QPalette::Disabled, QPalette::Text));
  }
  edit_->setPalette(palette);
  if (!label_.isEmpty()) {
    edit_->setAccessibleDescription(
        check_->isChecked()
            ? QStringLiteral("Date set: the search asks for it. Space clears it; F4 or Alt+Down opens the calendar.")
            : QStringLiteral("No date: the date shown is not searched until you type, step or pick one, "
                             "or press Space. F4 or Alt+Down opens the calendar."));
  }
}

void OptionalDateEdit::EnsureCalendar() {
  if (calendarConnected_) return;
  calendarConnected_ = true;
  // Made here rather than by the edit, so that its view is silenced before
  // the edit first gives it a date.
  auto* calendar = new QCalendarWidget;
  calendarView_ = calendar->findChild<QAbstractItemView*>();
  SetCalendarSilent(true);
  edit_->setCalendarWidget(calendar);
  calendarPopup_ = calendar->window();
  if (calendarPopup_ != nullptr && calendarPopup_ != calendar) calendarPopup_->installEventFilter(this);
  // Picking the date already shown changes nothing in the edit, yet it is
  // a choice. Queued, so that a new date is in the edit first.
  const auto picked = [this](QDate) {
    if (!check_->isChecked()) SetChecked(true);
  };
  connect(calendar, &QCalendarWidget::clicked, this, picked, Qt::QueuedConnection);
  connect(calendar, &QCalendarWidget::activated, this, picked, Qt::QueuedConnection);
}

void OptionalDateEdit::SetCalendarSilent(bool silent) {
  // The view hears of a new current cell or selection only through its
  // selection model's signals; it repaints from the model when shown.
  if (calendarView_ != nullptr && calendarView_->selectionModel() != nullptr)
    calendarView_->selectionModel()->blockSignals(silent);
}

void OptionalDateEdit::showCalendar() {
  EnsureCalendar();
  if (calendarPopup_ != nullptr && calendarPopup_->isVisible()) return;
  // A press on the arrow, where the edit opens its pop-up: placed and
  // wired as the edit does it for the mouse.
  QStyleOptionComboBox option;
  option.initFrom(edit_);
  option.editable = true;
  option.subControls = QStyle::SC_All;
  const QPointF at =
      edit_->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, edit_).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, edit_->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(edit_, &press);
}

void OptionalDateEdit::setAccessibleLabel(const QString& name) {
  label_ = name;
  edit_->setAccessibleName(name);
  check_->setAccessibleName(QStringLiteral("Use %1").arg(name));
  check_->setAccessibleDescription(
      QStringLiteral("Ticked: the search asks for this date. Space in the date field ticks or clears it."));
  UpdateLook();
}

bool OptionalDateEdit::eventFilter(QObject* watched, QEvent* event) {
  // The calendar is a window full of widgets and icons that most searches
  // never open: it is made when the user first presses a button in the
  // field or a key that opens it, before the edit could open it.
  if (watched == calendarPopup_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
    SetCalendarSilent(event->type() == QEvent::Hide);
  }
  if (watched == edit_ && event->type() == QEvent::MouseButtonPress) EnsureCalendar();
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // The pop-up's keys, as in a combo box; Up and Down alone step the date.
    if ((key->key() == Qt::Key_F4 && key->modifiers() == Qt::NoModifier) ||
        (key->key() == Qt::Key_Down && (key->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier)) {
      showCalendar();
      return true;
    }
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
      check_->toggle();
      return true;
    }
    // The field is one tab stop: Tab leaves it instead of stepping through
    // day, month and year (the arrow keys and the separator do that).
    if (key->key() == Qt::Key_Backtab ||
        (key->key() == Qt::Key_Tab &&
         (key->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier)) {
      focusNextPrevChild(false);
      return true;
    }
    if (key->key() == Qt::Key_Tab &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      focusNextPrevChild(true);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace morvanta::ui
