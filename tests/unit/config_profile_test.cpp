#include <gtest/gtest.h>

#include <ostream>

#include <filesystem>
#include <string>

#include <sys/stat.h>

#include <iterator>
#include <optional>

#include "../support/unprivileged.h"
#include "config/profile.h"
#include "log/codepage.h"
#include "test_support.h"

namespace morvanta {
namespace {

namespace fs = std::filesystem;
using testing::ChildResult;
using testing::Give;
using testing::Identity;
using testing::Owner;
using testing::ReadFile;
using testing::RunAs;
using testing::TempDir;
using testing::Utf16LeFile;
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
  // A snapshot of the file answers every key as ReadINI does.
  EXPECT_EQ(ProfileSnapshot::Read(file).Get(c.section, c.key, c.defaultValue, c.size), c.expected);
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
        ReadCase{"SingleQuotedValueReadWithoutQuotes", "[Query]\r\nAET=' ARCH '\r\n", "Query", "AET", "", 256, " ARCH "},
        ReadCase{"DifferentQuotesAreKept", "[Query]\r\nAET='ARCH\"\r\n", "Query", "AET", "", 256, "'ARCH\""},
        ReadCase{"LoneQuoteIsKept", "[Query]\r\nAET='\r\n", "Query", "AET", "", 256, "'"},
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
        ReadCase{"BinaryGarbageGivesDefault", std::string("\0\x01\xff[\0]=\x7f\x80", 10), "Query", "AET", "d", 256, "d"},
        ReadCase{"VerticalTabAndFormFeedAroundValueIgnored", "[Query]\r\nPort=\x0B\x0C" "104\x0C\x0B\r\n", "Query", "Port", "0", 256, "104"},
        ReadCase{"VerticalTabAfterKeyIgnored", "[Query]\r\nPort\x0B=104\r\n", "Query", "Port", "0", 256, "104"},
        ReadCase{"FormFeedAndCtrlZInSectionNameIgnored", "[\x0CQuery\x1A]\r\nPort=104\r\n", "Query", "Port", "0", 256, "104"},
        ReadCase{"CtrlZEndingTheFileIgnored", "[Size]\r\nSearchHeight=9000\x1A", "Size", "SearchHeight", "", 256, "9000"},
        ReadCase{"NulEndsTheValue", std::string("[Query]\r\nPort=104\0" "5\r\n", 21), "Query", "Port", "0", 256, "104"},
        ReadCase{"Utf16LeFileReadAsUnicode", Utf16LeFile(u"[forward]\r\nNODE0 = M\u00FCller \u4E2D \U0001F600|MU\r\n"), "Forward", "Node0", "", 256, "M\xC3\xBCller \xE4\xB8\xAD \xF0\x9F\x98\x80|MU"},
        ReadCase{"Utf16LeValueCutToCharactersNotBytes", Utf16LeFile(u"[A]\nK=\u4E2D\u4E2D\u4E2D"), "A", "K", "", 3, "\xE4\xB8\xAD\xE4\xB8\xAD"},
        ReadCase{"Utf16LeUnpairedSurrogateReadAsReplacement", Utf16LeFile(std::u16string(u"[A]\r\nK=x") + char16_t(0xD800) + u"y"), "A", "K", "", 256, "x\xEF\xBF\xBDy"},
        ReadCase{"Utf16LeNameMatchesUtf8Name", Utf16LeFile(u"[\u00C4rzte]\r\nK=1\r\n"), "\xC3\x84rzte", "K", "0", 256, "1"}),
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
            "[query]\r\nip=10.0.0.5\r\nPORT=11112\r\nAET=ARCHIVE\r\n\r\n[Extra]\r\nA=1\r\n");
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

// Settings.ini on a locked-down station, written by an ordinary user (a child
// that has dropped root): the program folder usually is not the user's, and
// the administrator decides whether the file is.

constexpr gid_t kStationGroup = 4242;  // a group the station's users share
constexpr fs::perms Mode(unsigned bits) { return static_cast<fs::perms>(bits); }

struct LockedCase {
  const char* name;
  Owner folderOwner;
  unsigned folderMode;
  Owner fileOwner;
  unsigned fileMode;
  bool shared;    // the file's group is the station group, and the user is in it
  bool written;   // else refused, the file as it was
  bool inPlace;   // the same inode afterwards
};
void PrintTo(const LockedCase& c, std::ostream* os) { *os << c.name; }

class LockedStationTest : public ::testing::TestWithParam<LockedCase> {};

TEST_P(LockedStationTest, WritesWhatTheSystemAllowsKeepingOwnerAndMode) {
  const LockedCase& c = GetParam();
  TempDir dir;
  const fs::path folder = dir.path() / "program";
  fs::create_directory(folder);
  const fs::path file = folder / "Settings.ini";
  const std::string before = "[Forward]\r\nNode0=CT|CTAE\r\nActive=OLD\r\n";
  WriteFile(file, before);
  Identity user;
  if (c.shared) user.groups = {kStationGroup};
  const auto group = c.shared ? std::optional<gid_t>(kStationGroup) : std::nullopt;
  ASSERT_TRUE(Give(file, c.fileOwner, Mode(c.fileMode), user, group));
  ASSERT_TRUE(Give(folder, c.folderOwner, Mode(c.folderMode), user));
  struct stat old {};
  ASSERT_EQ(::stat(file.c_str(), &old), 0);

  const ChildResult child = RunAs(user, [&] {
    const WriteResult result = WriteINI("Forward", "Active", "CTAE", file);
    if (result) return 0;
    return result.error.find(file.string()) != std::string::npos ? 1 : 2;
  });
  ASSERT_FALSE(child.timedOut);
  if (c.written) {
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(ReadFile(file), "[Forward]\r\nNode0=CT|CTAE\r\nActive=CTAE\r\n");
  } else {
    EXPECT_EQ(child.status, 1) << "refused, with the file named";
    EXPECT_EQ(ReadFile(file), before);
  }
  struct stat now {};
  ASSERT_EQ(::stat(file.c_str(), &now), 0);
  EXPECT_EQ(now.st_uid, old.st_uid);
  EXPECT_EQ(now.st_gid, old.st_gid);
  EXPECT_EQ(now.st_mode, old.st_mode);
  if (c.inPlace) {
    EXPECT_EQ(now.st_ino, old.st_ino);
  }
  // No new file left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1);
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LockedStationTest,
    ::testing::Values(
        LockedCase{"ReadOnlyFolderWorldWritableFile", Owner::Root, 0755, Owner::Root, 0666, false, true, true},
        LockedCase{"ReadOnlyFolderGroupWritableFileUserInGroup", Owner::Root, 0755, Owner::Root, 0664, true, true, true},
        LockedCase{"ReadOnlyFolderAdministratorsFile", Owner::Root, 0755, Owner::Root, 0644, false, false, true},
        LockedCase{"WritableFolderAdministratorsFile", Owner::Root, 0777, Owner::Root, 0644, false, false, true},
        LockedCase{"WritableFolderGroupWritableFileKeepsItsOwner", Owner::Root, 0777, Owner::Root, 0664, true, true, true},
        LockedCase{"UsersOwnFileKeepsItsMode", Owner::Child, 0755, Owner::Child, 0664, false, true, false},
        LockedCase{"UsersPrivateFileStaysPrivate", Owner::Child, 0755, Owner::Child, 0600, false, true, false},
        LockedCase{"UsersFileWithoutWriteBitIsRefused", Owner::Child, 0755, Owner::Child, 0444, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteINI, MissingFileIsCreatedOnlyWhenAsked) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  const WriteResult kept = WriteINI("Size", "SearchHeight", "9000", file, IfMissing::Keep);
  EXPECT_FALSE(kept);
  EXPECT_TRUE(kept.missing);
  EXPECT_FALSE(fs::exists(file));

  // A user cannot create one in a program folder that is not theirs.
  const fs::path folder = dir.path() / "program";
  fs::create_directory(folder);
  ASSERT_TRUE(Give(folder, Owner::Root, Mode(0755)));
  const ChildResult child = RunAs(Identity{}, [&] {
    const WriteResult made = WriteINI("Size", "SearchHeight", "9000", folder / "Settings.ini");
    return made ? 0 : made.error.find(folder.string()) != std::string::npos ? 1 : 2;
  });
  EXPECT_EQ(child.status, 1) << "refused, naming the folder";
  EXPECT_FALSE(fs::exists(folder / "Settings.ini"));
}

TEST(WriteINI, RootKeepsAnotherUsersOwnerAndMode) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  WriteFile(file, "[Local]\r\nAET=WS1\r\n");
  ASSERT_TRUE(Give(file, Owner::Child, Mode(0640)));
  struct stat old {};
  ASSERT_EQ(::stat(file.c_str(), &old), 0);
  ASSERT_TRUE(WriteINI("Local", "AET", "WS2", file));
  struct stat now {};
  ASSERT_EQ(::stat(file.c_str(), &now), 0);
  EXPECT_EQ(ReadFile(file), "[Local]\r\nAET=WS2\r\n");
  EXPECT_EQ(now.st_uid, old.st_uid);
  EXPECT_EQ(now.st_gid, old.st_gid);
  EXPECT_EQ(now.st_mode, old.st_mode);
}

TEST(WriteINI, ValueTheFileHoldsLeavesEvenAReadOnlyFileAlone) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  WriteFile(file, "[Forward]\r\nActive=CTAE\r\n");
  fs::permissions(file, Mode(0444));
  const WriteResult same = WriteINI("forward", "ACTIVE", "CTAE", file);
  EXPECT_TRUE(same) << same.error;
  EXPECT_FALSE(same.changed);
  EXPECT_FALSE(WriteINI("Forward", "Active", "MRAE", file));
  EXPECT_EQ(ReadFile(file), "[Forward]\r\nActive=CTAE\r\n");
}

TEST(WriteINI, FileWithOtherLinksIsRewrittenForAllOfThem) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  WriteFile(file, "[Local]\r\nAET=WS1\r\n");
  fs::create_hard_link(file, dir.path() / "shared.ini");
  ASSERT_TRUE(WriteINI("Local", "AET", "WS2", file));
  EXPECT_EQ(ReadFile(dir.path() / "shared.ini"), "[Local]\r\nAET=WS2\r\n");
}

// Windows-1252 as Windows reads it: the five bytes the code page leaves
// undefined are their C1 controls, so every byte comes back as it was.
TEST(Codepage, EveryByteSurvivesReadAndWrite) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
  }
  const std::pair<char, const char*> undefined[] = {
      {'\x81', "\xC2\x81"}, {'\x8D', "\xC2\x8D"}, {'\x8F', "\xC2\x8F"}, {'\x90', "\xC2\x90"}, {'\x9D', "\xC2\x9D"}};
  for (const auto& [byte, utf8] : undefined) EXPECT_EQ(Cp1252ToUtf8(std::string(1, byte)), utf8);
}

TEST(Codepage, ValueWithAnUndefinedByteIsWrittenBackByteForByte) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  const std::string bytes = "[Forward]\r\nNode0=Lab|L\x81\x8D\x8F\x90\x9D\r\nActive=X\r\n";
  WriteFile(file, bytes);
  const std::string aet = ReadINI("Forward", "Node0", "", file).substr(4);
  ASSERT_TRUE(WriteINI("Forward", "Active", aet, file));
  EXPECT_EQ(ReadFile(file), "[Forward]\r\nNode0=Lab|L\x81\x8D\x8F\x90\x9D\r\nActive=L\x81\x8D\x8F\x90\x9D\r\n");
}

}  // namespace
}  // namespace morvanta
