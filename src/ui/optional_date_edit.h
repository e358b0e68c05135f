#pragma once
// A date field that may hold no date: a check box beside a date edit. Cleared,
// the box is empty and the date is shown greyed; ticking the box, pressing
// Space, or typing or picking a date makes the shown date the value.

#include <QDate>
#include <QWidget>
#include <optional>

class QAbstractItemView;
class QCheckBox;
class QDateEdit;

namespace morvanta::ui {

class OptionalDateEdit : public QWidget {
  Q_OBJECT

 public:
  explicit OptionalDateEdit(QWidget* parent = nullptr);

  std::optional<QDate> date() const;
  void setDate(std::optional<QDate> date);
  void clear() { setDate(std::nullopt); }

  // The date shown (greyed) while no date is held; ticking the box takes it.
  void setShownDate(QDate date);
  QDate shownDate() const;

  QCheckBox* checkBox() const { return check_; }
  QDateEdit* dateEdit() const { return edit_; }

  // Names the field for assistive technology after its label: the date edit
  // `name`, the check box "Use `name`"; the edit's description says whether
  // the field holds a date and which keys work it.
  void setAccessibleLabel(const QString& name);
  // Opens the calendar pop-up as a click on the arrow does (F4 and Alt+Down
  // in the edit, as in a combo box).
  void showCalendar();

 signals:
  void dateChanged(std::optional<QDate> date);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetChecked(bool checked);
  void UpdateLook();
  void EnsureCalendar();
  // While the pop-up is hidden its calendar follows the edit's date without
  // telling anyone: a hidden calendar's current cell must not take the
  // screen reader's focus away from the edit.
  void SetCalendarSilent(bool silent);

  QCheckBox* check_;
  QDateEdit* edit_;
  // Set while the code itself changes the edit, so that only the user's
  // changes tick the box.
  bool updating_ = false;
  // The date the edit shows, as last reported or set.
  QDate shown_;
  bool calendarConnected_ = false;
  QWidget* calendarPopup_ = nullptr;
  QAbstractItemView* calendarView_ = nullptr;
  QString label_;
};

}  // namespace morvanta::ui
