#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "search/query.h"

namespace morvanta::search {
namespace {

QDate D(int y, int m, int d) { return QDate(y, m, d); }

struct NameCase {
  const char* last;
  const char* first;
  const char* composed;
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.last << "\" / \"" << c.first << '"'; }

class ComposeName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ComposeName, KeepsTextsAsTyped) {
  const NameCase& c = GetParam();
  EXPECT_EQ(ComposePatientName(QString::fromUtf8(c.last), QString::fromUtf8(c.first)),
            QString::fromUtf8(c.composed));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ComposeName,
    ::testing::Values(NameCase{"Smith", "John", "Smith^John"},
                      NameCase{"", "John", "*^John"},
                      NameCase{"", "", "*"},
                      NameCase{"Smith", "", "Smith"},
                      NameCase{"van Dam", "Anna Maria", "van Dam^Anna Maria"},
                      NameCase{" Smi*", " Jo?", " Smi*^ Jo?"},
                      NameCase{"Müller", "Jürgen", "Müller^Jürgen"}));

TEST(Criteria, AllEmptyFormNeverSearches) {
  EXPECT_FALSE(HasCriteria({}));
}

TEST(Criteria, EachCountingFieldAloneSearches) {
  std::vector<std::pair<const char*, SearchCriteria>> cases;
  SearchCriteria c;
  c = {}; c.patientId = "4711"; cases.emplace_back("patient id", c);
  c = {}; c.lastName = "Smith"; cases.emplace_back("last name", c);
  c = {}; c.firstName = "John"; cases.emplace_back("first name", c);
  c = {}; c.modality = "CT"; cases.emplace_back("modality", c);
  c = {}; c.birthDate = D(1960, 1, 2); cases.emplace_back("birth date", c);
  c = {}; c.rangeStart = D(2026, 11, 30); cases.emplace_back("range start", c);
  c = {}; c.shortcutDate = D(2026, 12, 7); cases.emplace_back("shortcut", c);
  for (const auto& [what, criteria] : cases) {
    EXPECT_TRUE(HasCriteria(criteria)) << what;
  }
}

TEST(Criteria, RangeEndOrShortcutTagAloneDoNotCount) {
  SearchCriteria c;
  c.rangeEnd = D(2026, 12, 7);
  EXPECT_FALSE(HasCriteria(c));
  c.shortcutRange = "20261130-20261207";  // a range without its date is no condition
  EXPECT_FALSE(HasCriteria(c));
}

using Keys = std::vector<IdentifierKey>;

TEST(Identifier, EmptyNameFormSendsWildcardNameEmptyIdAndLevelOnly) {
  const IdentifierPlan plan = BuildIdentifier({});
  EXPECT_EQ(plan.keys, (Keys{{kPatientName, "*"},
                             {kPatientId, ""},
                             {kQueryRetrieveLevel, "STUDY"}}));
  EXPECT_FALSE(plan.matchesNothing);
}

TEST(Identifier, FullFormInOrderWithSpacesAsCaret) {
  SearchCriteria c;
  c.patientId = " 47 11";
  c.lastName = "van Dam";
  c.firstName = "Anna Maria";
  c.birthDate = D(1960, 2, 29);
  c.modality = "MR";
  c.rangeStart = D(2026, 11, 30);
  c.rangeEnd = D(2026, 12, 7);
  const IdentifierPlan plan = BuildIdentifier(c);
  EXPECT_EQ(plan.composedName, "van Dam^Anna Maria");
  EXPECT_EQ(plan.keys, (Keys{{kPatientName, "van^Dam^Anna^Maria"},
                             {kPatientBirthDate, "19600229"},
                             {kPatientId, " 47 11"},
                             {kQueryRetrieveLevel, "STUDY"},
                             {kModality, "MR"},
                             {kStudyDate, "20261130-20261207"}}));
}

TEST(Identifier, NamesAreSentAsUtf8) {
  SearchCriteria c;
  c.lastName = QStringLiteral("Müller");
  EXPECT_EQ(BuildIdentifier(c).keys.front().value, "Müller");
}

TEST(Identifier, TypedModalityIsSentUnchangedEmptyIsLeftOut) {
  SearchCriteria c;
  c.modality = " ct\\MR";
  Keys keys = BuildIdentifier(c).keys;
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[3], (IdentifierKey{kModality, " ct\\MR"}));
  c.modality.clear();
  for (const auto& key : BuildIdentifier(c).keys) EXPECT_NE(key.tag, kModality);
}

// The Study Date key from the shortcut picker (date, range) and the range
// pickers (start, end), alone and together.
struct StudyDateCase {
  const char* name;
  std::optional<QDate> shortcutDate;
  const char* shortcutRange;
  std::optional<QDate> start;
  std::optional<QDate> end;
  StudyDateKey::Kind kind;
  const char* value;
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const StudyDateCase& c, std::ostream* os) { *os << c.name; }

class StudyDates : public ::testing::TestWithParam<StudyDateCase> {};

TEST_P(StudyDates, OneKeyOrNone) {
  const StudyDateCase& t = GetParam();
  SearchCriteria c;
  c.shortcutDate = t.shortcutDate;
  c.shortcutRange = QString::fromUtf8(t.shortcutRange);
  c.rangeStart = t.start;
  c.rangeEnd = t.end;
  const StudyDateKey key = CombineStudyDates(c);
  EXPECT_EQ(key.kind, t.kind);
  EXPECT_EQ(key.value, t.value);

  const IdentifierPlan plan = BuildIdentifier(c);
  int studyDates = 0;
  for (const auto& k : plan.keys) {
    if (k.tag == kStudyDate) {
      ++studyDates;
      EXPECT_EQ(k.value, t.value);
      EXPECT_EQ(&k, &plan.keys.back()) << "Study Date is the last key";
    }
  }
  EXPECT_EQ(studyDates, t.kind == StudyDateKey::Kind::Value ? 1 : 0);
  EXPECT_EQ(plan.matchesNothing, t.kind == StudyDateKey::Kind::NoOverlap);
}

using K = StudyDateKey::Kind;
const std::optional<QDate> none;

INSTANTIATE_TEST_SUITE_P(
    Table, StudyDates,
    ::testing::Values(
        StudyDateCase{"Nothing", none, "", none, none, K::None, ""},
        StudyDateCase{"RangeStartAndEnd", none, "", D(2026, 11, 30), D(2026, 12, 7),
                      K::Value, "20261130-20261207"},
        StudyDateCase{"RangeStartAloneIsOneDay", none, "", D(2026, 11, 30), none,
                      K::Value, "20261130"},
        StudyDateCase{"RangeEndAloneAddsNothing", none, "", none, D(2026, 12, 7),
                      K::None, ""},
        StudyDateCase{"InvertedRangeSentAsGiven", none, "", D(2026, 12, 7),
                      D(2026, 11, 30), K::Value, "20261207-20261130"},
        StudyDateCase{"Today", D(2026, 12, 7), "", none, none, K::Value, "20261207"},
        StudyDateCase{"WeekTagWins", D(2026, 11, 30), "20261130-20261207", none, none,
                      K::Value, "20261130-20261207"},
        StudyDateCase{"WeekWithinWiderRange", D(2026, 11, 30), "20261130-20261207",
                      D(2026, 11, 1), D(2026, 12, 31), K::Value, "20261130-20261207"},
        StudyDateCase{"WeekCutByRange", D(2026, 11, 30), "20261130-20261207",
                      D(2026, 12, 3), D(2026, 12, 20), K::Value, "20261203-20261207"},
        StudyDateCase{"WeekAndRangeStartInside", D(2026, 11, 30), "20261130-20261207",
                      D(2026, 12, 2), none, K::Value, "20261202"},
        StudyDateCase{"WeekAndRangeStartOutside", D(2026, 11, 30), "20261130-20261207",
                      D(2026, 12, 8), none, K::NoOverlap, ""},
        StudyDateCase{"WeekTouchingRangeAtOneDay", D(2026, 11, 30), "20261130-20261207",
                      D(2026, 12, 7), D(2026, 12, 20), K::Value, "20261207"},
        StudyDateCase{"TodayInsideRange", D(2026, 12, 7), "", D(2026, 12, 1),
                      D(2026, 12, 31), K::Value, "20261207"},
        StudyDateCase{"YesterdayBeforeRange", D(2026, 12, 6), "", D(2026, 12, 7),
                      D(2026, 12, 31), K::NoOverlap, ""},
        StudyDateCase{"TodayAgainstInvertedRange", D(2026, 12, 7), "", D(2026, 12, 31),
                      D(2026, 12, 1), K::NoOverlap, ""},
        StudyDateCase{"UnreadableTagSentAsIs", D(2026, 12, 7), "last week",
                      D(2026, 12, 1), none, K::Value, "last week"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SpanCase {
  const char* text;
  bool ok;
  QDate first;
  QDate last;
};

TEST(DateSpan, ParsesDatesAndRangesOnly) {
  const SpanCase cases[] = {
      {"20261207", true, D(2026, 12, 7), D(2026, 12, 7)},
      {"20261227-20270103", true, D(2026, 12, 27), D(2027, 1, 3)},
      {"20260229", false, {}, {}},
      {"2026127", false, {}, {}},
      {"20261207-", false, {}, {}},
      {"-20261207", false, {}, {}},
      {"2026120a", false, {}, {}},
      {"", false, {}, {}},
  };
  for (const SpanCase& c : cases) {
    const auto span = ParseDateSpan(c.text);
    ASSERT_EQ(span.has_value(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(*span, (DateSpan{c.first, c.last})) << c.text;
    }
  }
}

TEST(Identifier, FillsDataSetThroughSettersInOrder) {
  SearchCriteria c;
  c.patientId = "4711";
  c.lastName = "DOE";
  c.birthDate = D(1970, 1, 1);
  c.modality = "CT";
  c.shortcutDate = D(2026, 12, 7);
  const dicom::DataSet ds = MakeIdentifier(BuildIdentifier(c).keys);
  EXPECT_EQ(ds.PatientName(), "DOE");
  EXPECT_EQ(ds.PatientID(), "4711");
  EXPECT_EQ(ds.BirthDate(), "19700101");
  EXPECT_EQ(ds.Attributes().Item(0x0008, 0x0052).Value(), "STUDY");
  EXPECT_EQ(ds.Attributes().Item(0x0008, 0x0060).Value(), "CT");
  EXPECT_EQ(ds.Attributes().Item(0x0008, 0x0020).Value(), "20261207");
  std::vector<dicom::Tag> order;
  for (const auto& a : ds.Attributes().items()) order.push_back(a.tag());
  EXPECT_EQ(order, (std::vector<dicom::Tag>{kPatientName, kPatientBirthDate, kPatientId,
                                            kQueryRetrieveLevel, kModality, kStudyDate}));
}

TEST(ResultCount, FourHundredOrMoreIsTooManyWithoutOverflow) {
  EXPECT_FALSE(IsTooMany(0));
  EXPECT_FALSE(IsTooMany(399));
  EXPECT_TRUE(IsTooMany(400));
  EXPECT_TRUE(IsTooMany(32'768));
  EXPECT_TRUE(IsTooMany(70'000));
}

}  // namespace
}  // namespace morvanta::search
