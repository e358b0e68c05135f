#include <gtest/gtest.h>

#include <ostream>

#include "search/query.h"
#include "search/shortcuts.h"

namespace morvanta::search {
namespace {

struct ShortcutCase {
  const char* name;
  QDate today;
  Shortcut shortcut;
  QDate date;
  const char* range;
  const char* studyDateSent;
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const ShortcutCase& c, std::ostream* os) { *os << c.name; }

class Shortcuts : public ::testing::TestWithParam<ShortcutCase> {};

TEST_P(Shortcuts, DatesFromToday) {
  const ShortcutCase& c = GetParam();
  const ShortcutDate s = ShortcutFor(c.shortcut, c.today);
  EXPECT_EQ(s.date, c.date);
  EXPECT_EQ(s.range, QString::fromLatin1(c.range));

  // What the search then sends, with no range of the user's own.
  SearchCriteria criteria;
  criteria.shortcutDate = s.date;
  criteria.shortcutRange = s.range;
  EXPECT_TRUE(HasCriteria(criteria));
  const StudyDateKey key = CombineStudyDates(criteria);
  EXPECT_EQ(key.kind, StudyDateKey::Kind::Value);
  EXPECT_EQ(key.value, c.studyDateSent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Shortcuts,
    ::testing::Values(
        ShortcutCase{"Today", QDate(2026, 12, 7), Shortcut::Today, QDate(2026, 12, 7), "",
                     "20261207"},
        ShortcutCase{"Yesterday", QDate(2026, 12, 7), Shortcut::Yesterday,
                     QDate(2026, 12, 6), "", "20261206"},
        ShortcutCase{"Week", QDate(2026, 12, 7), Shortcut::Week, QDate(2026, 11, 30),
                     "20261130-20261207", "20261130-20261207"},
        ShortcutCase{"WeekAcrossYear", QDate(2027, 1, 3), Shortcut::Week,
                     QDate(2026, 12, 27), "20261227-20270103", "20261227-20270103"},
        ShortcutCase{"YesterdayAcrossYear", QDate(2027, 1, 1), Shortcut::Yesterday,
                     QDate(2026, 12, 31), "", "20261231"},
        ShortcutCase{"WeekAcrossLeapDay", QDate(2028, 3, 2), Shortcut::Week,
                     QDate(2028, 2, 24), "20280224-20280302", "20280224-20280302"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvanta::search
