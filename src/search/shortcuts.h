#pragma once
// The date shortcuts "Today", "Yesterday" and "Week": what each adds to the
// panel's criteria (a date and a range) for the one search it runs.

#include <QDate>
#include <QString>

namespace morvanta::search {

enum class Shortcut { Today, Yesterday, Week };

// SearchCriteria's shortcutDate and shortcutRange for the shortcut's search.
struct ShortcutDate {
  QDate date;
  QString range;  // empty, or the "YYYYMMDD-YYYYMMDD" range the shortcut means
  bool operator==(const ShortcutDate&) const = default;
};

// Today: today. Yesterday: today - 1. Week: today - 7, with the range
// "<today-7>-<today>", eight calendar days with both ends included.
ShortcutDate ShortcutFor(Shortcut shortcut, const QDate& today);

}  // namespace morvanta::search
