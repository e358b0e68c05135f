// The demo archive's C-FIND matching rules (PS3.4 C.2.2.2) and demo studies.
#include <gtest/gtest.h>

#include <set>

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

TEST(DemoStudies, ImagesForAMoveHaveDistinctStableUids) {
  std::set<std::string> seen;
  std::size_t total = 0;
  for (int index = 0; index < 200; ++index) {
    const Study study = MakeDemoStudy(index, "20270103");
    const std::vector<Instance> images = Instances(study);
    int expected = 0;
    for (const Series& series : study.series) expected += series.instances;
    ASSERT_EQ(images.size(), static_cast<std::size_t>(expected)) << index;
    ASSERT_FALSE(images.empty()) << "every demo study has images to move";
    for (const Instance& image : images) {
      EXPECT_LE(image.sopInstanceUid.size(), 64u);
      EXPECT_EQ(image.seriesUid, study.series[image.series].uid);
      EXPECT_TRUE(seen.insert(image.sopInstanceUid).second) << image.sopInstanceUid;
    }
    EXPECT_EQ(Instances(MakeDemoStudy(index, "20270103"))[0].sopInstanceUid, images[0].sopInstanceUid);
    total += images.size();
  }
  EXPECT_EQ(seen.size(), total);
}

TEST(DemoStudies, StoredStudyWithoutSeriesUidStillGetsValidImageUids) {
  Study study;
  study.values[kStudyUID] = "1.2.3.4";
  study.series = {Series{"", "CT", "", 2}, Series{"", "SR", "", 1}};
  const std::vector<Instance> images = Instances(study);
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].sopInstanceUid, "1.2.3.4.1.1");
  EXPECT_EQ(images[1].sopInstanceUid, "1.2.3.4.1.2");
  EXPECT_EQ(images[2].sopInstanceUid, "1.2.3.4.2.1");

  study.values[kStudyUID] = "1.2.826.0.1.3680043.99.1234567890.1234567890.1234567890.123456";  // 64
  for (const Instance& image : Instances(study)) EXPECT_LE(image.sopInstanceUid.size(), 64u) << image.sopInstanceUid;
}

}  // namespace
}  // namespace morvanta::archive
