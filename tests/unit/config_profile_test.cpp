#include <gtest/gtest.h>

#include <ostream>

#include <filesystem>
#include <string>

#include "config/profile.h"
#include "test_support.h"

namespace morvanta {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct ReadCase {
  const char* name;
  std::string file;  // bytes of Settings.ini; "<none>" for no file
  const char* section;
  const char* key;
  const char* defaultValue;
  int size;
  std::string expected;
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadINITest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadINITest, ReadsTheValueTheStationExpects) {
  const ReadCase& c = GetParam();
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  if (c.file != "<none>") WriteFile(file, c.file);
  EXPECT_EQ(ReadINI(c.section, c.key, c.defaultValue, file, c.size), c.expected);
}

const std::string kLong300(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, ReadINITest,
    ::testing::Values(
        ReadCase{"MissingFileGivesDefault", "<none>", "Query", "Port", "0", 256, "0"},
        ReadCase{"MissingSectionGivesDefault", "[Local]\r\nAET=WS1\r\n", "Query", "AET", "dflt", 256, "dflt"},
        ReadCase{"MissingKeyGivesDefault", "[Query]\r\nIP=1.2.3.4\r\n", "Query", "AET", "dflt", 256, "dflt"},
        ReadCase{"EmptyValueIsEmptyNotDefault", "[Query]\r\nAET=\r\n", "Query", "AET", "dflt", 256, ""},
        ReadCase{"ValueIsCutToBufferSizeMinusOne", "[A]\r\nK=" + kLong300 + "\r\n", "A", "K", "", 256, std::string(255, 'x')},
        ReadCase{"DefaultIsCutToo", "<none>", "A", "K", "abcdef", 4, "abc"},
        ReadCase{"SectionNameIgnoresCase", "[general]\r\nStudyDate=1\r\n", "GENERAL", "StudyDate", "0", 256, "1"},
        ReadCase{"KeyNameIgnoresCase", "[Query]\r\nport=104\r\n", "Query", "Port", "0", 256, "104"},
        ReadCase{"SpacesAroundKeyAndValueIgnored", "[Query]\r\n  AET   =  ARCHIVE  \r\n", "Query", "AET", "", 256, "ARCHIVE"},
        ReadCase{"SpacesInsideValueKept", "[Forward]\r\nNode0=CT room|CTAE\r\n", "Forward", "Node0", "", 256, "CT room|CTAE"},
        ReadCase{"QuotedValueReadWithoutQuotes", "[Query]\r\nAET=\" ARCH \"\r\n", "Query", "AET", "", 256, " ARCH "},
        ReadCase{"CommentLineIsNotAKey", "[Query]\r\n;AET=OLD\r\nAET=NEW\r\n", "Query", "AET", "", 256, "NEW"},
        ReadCase{"FirstOfTwoKeysWins", "[Query]\r\nAET=ONE\r\nAET=TWO\r\n", "Query", "AET", "", 256, "ONE"},
        ReadCase{"FirstOfTwoSectionsWins", "[Query]\r\nIP=1\r\n[Query]\r\nAET=TWO\r\n", "Query", "AET", "d", 256, "d"},
        ReadCase{"KeyOfAnotherSectionNotFound", "[Local]\r\nAET=WS\r\n[Query]\r\nIP=1\r\n", "Query", "AET", "d", 256, "d"},
        ReadCase{"LfLineEnds", "[Query]\nAET=LF\nIP=2\n", "Query", "IP", "", 256, "2"},
        ReadCase{"CrOnlyLineEnds", "[Query]\rAET=CR\r", "Query", "AET", "", 256, "CR"},
        ReadCase{"NoFinalLineEnd", "[Size]\r\nSearchHeight=9000", "Size", "SearchHeight", "", 256, "9000"},
        ReadCase{"Utf8ByteOrderMarkIgnored", "\xEF\xBB\xBF[Query]\r\nAET=BOM\r\n", "Query", "AET", "", 256, "BOM"},
        ReadCase{"Windows1252ReadAsUnicode", "[Forward]\r\nNode0=M\xFC" "ller|MU\r\n", "Forward", "Node0", "", 256, "M\xC3\xBCller|MU"},
        ReadCase{"NoLineEndsAtAll", std::string(5000, '['), "Query", "AET", "d", 256, "d"},
        ReadCase{"BinaryGarbageGivesDefault", std::string("\0\x01\xff[\0]=\x7f\x80", 10), "Query", "AET", "d", 256, "d"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadINI, FolderInPlaceOfTheFileGivesDefault) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "Settings.ini");
  EXPECT_EQ(ReadINI("Query", "AET", "d", dir.path() / "Settings.ini"), "d");
}

TEST(ReadINI, TenMegabyteLineIsCutNotFatal) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  WriteFile(file, "[Query]\r\nAET=" + std::string(10'000'000, 'A'));
  EXPECT_EQ(ReadINI("Query", "AET", "", file).size(), 255u);
}

TEST(WriteINI, CreatesFileSectionAndKey) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  ASSERT_TRUE(WriteINI("Size", "SearchHeight", "10000", file));
  EXPECT_EQ(ReadFile(file), "[Size]\r\nSearchHeight=10000\r\n");
  ASSERT_TRUE(WriteINI("Query", "AET", "ARCHIVE", file));
  ASSERT_TRUE(WriteINI("Size", "Other", "1", file));
  EXPECT_EQ(ReadFile(file),
            "[Size]\r\nSearchHeight=10000\r\nOther=1\r\n[Query]\r\nAET=ARCHIVE\r\n");
}

TEST(WriteINI, LeavesEveryOtherLineAsItWas) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  const std::string before =
      "; station settings\r\n[Local]\r\nAET=WS1\r\nUnknown = keep me\r\n\r\n"
      "[query]\r\nip=10.0.0.5\r\nPORT=104\r\n\r\n[Extra]\r\nA=1\r\n";
  WriteFile(file, before);
  ASSERT_TRUE(WriteINI("Query", "Port", "11112", file));
  ASSERT_TRUE(WriteINI("Query", "AET", "ARCHIVE", file));
  EXPECT_EQ(ReadFile(file),
            "; station settings\r\n[Local]\r\nAET=WS1\r\nUnknown = keep me\r\n\r\n"
            "[query]\r\nip=10.0.0.5\r\nPort=11112\r\nAET=ARCHIVE\r\n\r\n[Extra]\r\nA=1\r\n");
}

TEST(WriteINI, EmptyValueKeepsTheKey) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  ASSERT_TRUE(WriteINI("Forward", "Node3", "CT|CTAE", file));
  ASSERT_TRUE(WriteINI("Forward", "Node3", "", file));
  EXPECT_EQ(ReadFile(file), "[Forward]\r\nNode3=\r\n");
  EXPECT_EQ(ReadINI("Forward", "Node3", "default", file), "");
}

TEST(WriteINI, TextIsStoredAsWindows1252) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  ASSERT_TRUE(WriteINI("Forward", "Node0", "M\xC3\xBCller \xE2\x82\xAC \xE4\xB8\xAD|AE", file));
  EXPECT_EQ(ReadFile(file), "[Forward]\r\nNode0=M\xFCller \x80 ?|AE\r\n");
}

TEST(WriteINI, LineBreakInValueCannotAddALine) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  ASSERT_TRUE(WriteINI("Local", "AET", "A\r\n[Query]\nAET=EVIL", file));
  EXPECT_EQ(ReadINI("Query", "AET", "none", file), "none");
}

TEST(WriteINI, FailuresAreReportedAndLeaveTheFileAlone) {
  TempDir dir;
  const auto file = dir.path() / "Settings.ini";
  WriteFile(file, "[Local]\r\nAET=WS1\r\n");
  std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read);
  const WriteResult readOnly = WriteINI("Local", "AET", "WS2", file);
  EXPECT_FALSE(readOnly);
  EXPECT_NE(readOnly.error.find("Settings.ini"), std::string::npos);
  EXPECT_NE(readOnly.error.find("read-only"), std::string::npos);
  EXPECT_EQ(ReadFile(file), "[Local]\r\nAET=WS1\r\n");

  const auto folder = dir.path() / "folder" / "Settings.ini";
  std::filesystem::create_directories(folder);
  EXPECT_FALSE(WriteINI("Local", "AET", "WS2", folder));
  EXPECT_FALSE(WriteINI("Local", "AET", "WS2", dir.path() / "gone" / "Settings.ini"));
  // No temporary file is left beside the settings.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2);
}

}  // namespace
}  // namespace morvanta
