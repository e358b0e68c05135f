#include "search/shortcuts.h"

#include "search/query.h"

namespace morvanta::search {

ShortcutDate ShortcutFor(Shortcut shortcut, const QDate& today) {
  switch (shortcut) {
    case Shortcut::Today: return {today, {}};
    case Shortcut::Yesterday: return {today.addDays(-1), {}};
    case Shortcut::Week: {
      const QDate start = today.addDays(-7);
      return {start, QString::fromStdString(DicomDate(start) + "-" +
                                            DicomDate(today))};
    }
  }
  return {today, {}};
}

}  // namespace morvanta::search
