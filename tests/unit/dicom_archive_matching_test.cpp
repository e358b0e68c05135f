// The demo archive's C-FIND matching rules (PS3.4 C.2.2.2) and demo studies.
#include <gtest/gtest.h>

#include "dicom/charset.h"
#include "studies.h"

namespace morvanta::archive {
namespace {

TEST(Matching, WildcardsAndCase) {
  struct Case {
    const char* pattern;
    const char* text;
    bool ignoreCase;
    bool match;
  };
  const std::vector<Case> cases = {
      {"*", "", false, true},          {"M*", "Müller", false, true},      {"m*", "Müller", false, false},
      {"m*", "Müller", true, true},    {"MÜLL?R*", "Müller^J", true, true}, {"?", "", false, false},
      {"a*b", "axxbxb", false, true},  {"a*b", "axxbx", false, false},     {"*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaa", false, false},
      {"Smith", "Smith", false, true}, {"Smith", "Smithers", false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WildcardMatch(dicom::Utf8ToUtf32(c.pattern), dicom::Utf8ToUtf32(c.text), c.ignoreCase), c.match)
        << c.pattern << " ~ " << c.text;
}

TEST(Matching, DateRanges) {
  struct Case {
    const char* range;
    const char* value;
    bool match;
  };
  const std::vector<Case> cases = {
      {"20261130-20261207", "20261130", true}, {"20261130-20261207", "20261207", true},
      {"20261130-20261207", "20261208", false}, {"20261130-20261207", "20261129", false},
      {"-20261207", "19991231", true},          {"20261207-", "20270101", true},
      {"20261207-", "20261206", false},         {"20261130-20261207", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(RangeMatch(c.range, c.value), c.match) << c.range << " ~ " << c.value;
}

TEST(Matching, KeysTogether) {
  const Study study = MakeDemoStudy(4, "20261207");  // ultrasound with a structured report series
  const std::string uid = study.values.at(kStudyUID);
  struct Case {
    std::vector<QueryKey> keys;
    bool match;
  };
  const std::vector<Case> cases = {
      {{{kPatientName, "", "PN"}, {kStudyDate, "", "DA"}}, true},
      {{{kModality, "SR", "CS"}}, true},
      {{{kModality, "U?", "CS"}}, true},
      {{{kModality, "MR", "CS"}}, false},
      {{{kModalitiesInStudy, "MR\\SR", "CS"}}, true},
      {{{kStudyUID, "1.2.3\\" + uid, "UI"}}, true},
      {{{kStudyUID, uid.substr(0, uid.size() - 1) + "*", "UI"}}, false},
      {{{kStudyDate, "20261203", "DA"}}, true},
      {{{kStudyDate, "20261203", "DA"}, {kPatientID, "PID99999", "LO"}}, false},
      {{{Key(0x0009, 0x1001), "X", "LO"}}, false},
      {{{Key(0x0009, 0x1001), "*", "LO"}}, true},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Matches(study, cases[i].keys), cases[i].match) << "case " << i;
}

TEST(DemoStudies, DeterministicAndCountingBackFromToday) {
  const Study first = MakeDemoStudy(0, "20270103");
  EXPECT_EQ(first.values.at(kPatientName), "Müller^Jürgen");
  EXPECT_EQ(first.values.at(kStudyDate), "20270103");
  EXPECT_EQ(MakeDemoStudy(1, "20270103").values.at(kStudyDate), "20270102");
  EXPECT_EQ(MakeDemoStudy(7, "20270103").values.at(kStudyDate), "20261227");
  EXPECT_EQ(MakeDemoStudy(5, "20270103").values, MakeDemoStudy(5, "20270103").values);
  EXPECT_NE(MakeDemoStudy(5, "20270103").values.at(kStudyUID), MakeDemoStudy(6, "20270103").values.at(kStudyUID));
  EXPECT_EQ(ShiftDate("20240301", 1), "20240229");
}

}  // namespace
}  // namespace morvanta::archive
