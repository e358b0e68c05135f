// The settings store and the profile writer's several-keys write under it:
// one read, change and write for the settings dialog's Apply.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "config/profile.h"
#include "config/store.h"
#include "test_support.h"

namespace morvanta {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::Utf16LeFile;
using testing::WriteFile;

struct MultiCase {
  const char* name;
  std::string before;
  std::vector<ProfileEntry> entries;
  std::string after;
  bool changed;
  bool inPlace = false;  // the file has a second link, so it is rewritten in place
};
void PrintTo(const MultiCase& c, std::ostream* os) { *os << c.name; }

class MultiKeyWrite : public ::testing::TestWithParam<MultiCase> {};

TEST_P(MultiKeyWrite, EachKeyAsASingleWriteWouldLeaveIt) {
  const MultiCase& c = GetParam();
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  WriteFile(file, c.before);
  if (c.inPlace) fs::create_hard_link(file, dir.path() / "linked.ini");
  const WriteResult result = WriteINI(c.entries, file);
  EXPECT_TRUE(result) << result.error;
  EXPECT_EQ(result.changed, c.changed);
  EXPECT_EQ(ReadFile(file), c.after);
  if (c.inPlace) {
    EXPECT_EQ(ReadFile(dir.path() / "linked.ini"), c.after);
  }
}

// Notepad's "Unicode" file, with a character no code page holds, an unpaired
// surrogate and no line end at the end.
const std::u16string kUnicodeBefore =
    u"; \u4E2D\r\n[Forward]\r\nNode0=x" + std::u16string(1, char16_t(0xD800)) + u"|CT\r\nActive=CT";
const std::u16string kUnicodeAfter = u"; \u4E2D\r\n[Forward]\r\nNode0=x" + std::u16string(1, char16_t(0xD800)) +
                                     u"|CT\r\nActive=MR\r\nNode1=\u00DC \u20AC\u4E2D \U0001F600|X\r\n";
const std::vector<ProfileEntry> kUnicodeEntries = {
    {"Forward", "Active", "MR"}, {"Forward", "Node1", "\xC3\x9C \xE2\x82\xAC\xE4\xB8\xAD \xF0\x9F\x98\x80|X"}};

INSTANTIATE_TEST_SUITE_P(
    Table, MultiKeyWrite,
    ::testing::Values(
        MultiCase{"NewKeysInNewAndOldSections",
                  "; station\r\n[Local]\r\nAET=WS1\r\n",
                  {{"Query", "AET", "ARCHIVE"}, {"Local", "Extra", "1"}, {"Query", "Port", "104"}},
                  "; station\r\n[Local]\r\nAET=WS1\r\nExtra=1\r\n[Query]\r\nAET=ARCHIVE\r\nPort=104\r\n",
                  true},
        MultiCase{"OnlyTheChangedKeyMoves",
                  "[Query]\r\nAET = ARCHIVE\r\nPort=104\r\n",
                  {{"query", "aet", "ARCHIVE"}, {"Query", "Port", "11112"}},
                  "[Query]\r\nAET = ARCHIVE\r\nPort=11112\r\n",
                  true},
        MultiCase{"NothingChangedNothingWritten",
                  "[Query]\r\nAET=ARCHIVE\r\n",
                  {{"Query", "AET", "ARCHIVE"}, {"QUERY", "AET", "ARCHIVE"}},
                  "[Query]\r\nAET=ARCHIVE\r\n",
                  false},
        MultiCase{"TheLaterOfTwoEqualKeysWins",
                  "",
                  {{"Forward", "Active", "CT"}, {"Forward", "Active", "MR"}},
                  "[Forward]\r\nActive=MR\r\n",
                  true},
        MultiCase{"ReplacedLastLineGetsALineEnd",
                  "[Size]\r\nSearchHeight=9000",
                  {{"Size", "SearchHeight", "10000"}},
                  "[Size]\r\nSearchHeight=10000\r\n",
                  true},
        MultiCase{"KeyAmongBlanksWindowsIgnoresIsReplaced",
                  "[Query\x0B]\r\n\x0CPort\x0B=104\x1A\r\n",
                  {{"Query", "Port", "11112"}},
                  "[Query\x0B]\r\nPort=11112\r\n",
                  true},
        MultiCase{"Utf16LeFileStaysUtf16Le", Utf16LeFile(kUnicodeBefore), kUnicodeEntries,
                  Utf16LeFile(kUnicodeAfter), true},
        MultiCase{"Utf16LeFileRewrittenInPlaceStaysUtf16Le", Utf16LeFile(kUnicodeBefore), kUnicodeEntries,
                  Utf16LeFile(kUnicodeAfter), true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MultiKeyWrite, AFileThatCannotBeWrittenGetsNoneOfTheKeys) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  const std::string before = "[Local]\r\nAET=WS1\r\n[Query]\r\nPort=104\r\n";
  WriteFile(file, before);
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  // The first key is new, the second holds its value already: neither may land.
  const WriteResult refused = WriteINI({{"Local", "AET", "WS2"}, {"Query", "Port", "104"}}, file);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.error.find(file.string()), std::string::npos);
  EXPECT_EQ(ReadFile(file), before);
  // Values the file holds already are no failure, locked or not.
  EXPECT_TRUE(WriteINI({{"Local", "AET", "WS1"}, {"Query", "Port", "104"}}, file));
}

DialogSettings Dialog() {
  DialogSettings d;
  d.localAET = "MORVANTA";
  d.extStudyDate = true;
  d.queryAET = "ARCHIVE";
  d.queryIP = "10.0.0.5";
  d.queryPort = "104";
  d.nodes[0] = NodeEntry{"CT room", "CT_ROOM", true};
  return d;
}

struct ApplyCase {
  const char* name;
  std::string before;
  ModalityKey modalityKey;
  ForwardMethod forwardBy;
  bool hasModalityKey;
  bool hasMethod;
};
void PrintTo(const ApplyCase& c, std::ostream* os) { *os << c.name; }

class StoreApply : public ::testing::TestWithParam<ApplyCase> {};

// A file that never had the optional keys keeps its shape as long as the
// defaults are chosen; once a key is there it follows the choice.
TEST_P(StoreApply, WritesEveryFieldAndTheOptionalKeysOnlyWhenNeeded) {
  const ApplyCase& c = GetParam();
  TempDir dir;
  const SettingsStore store(dir.path() / "Settings.ini");
  WriteFile(store.file(), c.before);
  DialogSettings d = Dialog();
  d.modalityKey = c.modalityKey;
  d.forwardBy = c.forwardBy;
  ASSERT_TRUE(store.Apply(d));

  SettingsValues values;
  store.LoadArchive(values);
  EXPECT_EQ(values.LocalAET, "MORVANTA");
  EXPECT_TRUE(values.ExtStudyDate);
  EXPECT_EQ(values.QueryAET, "ARCHIVE");
  EXPECT_EQ(values.QueryIP, "10.0.0.5");
  EXPECT_EQ(values.QueryPort, 104);
  EXPECT_EQ(values.QueryModalityKey, c.modalityKey);
  EXPECT_EQ(values.ForwardBy, c.forwardBy);
  EXPECT_EQ(store.ForwardNodes()[0], (NodeEntry{"CT room", "CT_ROOM", true}));
  EXPECT_EQ(store.ForwardNodes()[7], std::nullopt);
  const std::string text = ReadFile(store.file());
  EXPECT_EQ(text.find("ModalityKey=") != std::string::npos, c.hasModalityKey) << text;
  EXPECT_EQ(text.find("Method=") != std::string::npos, c.hasMethod) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreApply,
    ::testing::Values(
        ApplyCase{"DefaultsAddNoOptionalKey", "", ModalityKey::Modality, ForwardMethod::Redirect, false, false},
        ApplyCase{"ChoicesAddTheirKeys", "", ModalityKey::ModalitiesInStudy, ForwardMethod::Move, true, true},
        ApplyCase{"KeysInTheFileFollowTheDefaults",
                  "[Query]\r\nModalityKey=ModalitiesInStudy\r\n[Forward]\r\nMethod=MOVE\r\n",
                  ModalityKey::Modality, ForwardMethod::Redirect, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Store, CloseAndNodeChoiceNeverCreateAMissingFile) {
  TempDir dir;
  const SettingsStore store(dir.path() / "Settings.ini");
  const SaveResult height = store.SaveSearchHeight(9000);
  const SaveResult node = store.SaveActiveNode("CT_ROOM");
  EXPECT_FALSE(height);
  EXPECT_TRUE(height.missing);
  EXPECT_FALSE(node);
  EXPECT_TRUE(node.missing);
  EXPECT_FALSE(store.Exists());
  // Without a file the height is the designed default.
  EXPECT_EQ(store.SearchHeight(), 10000);
  WriteFile(store.file(), "[Size]\r\nSearchHeight=tall\r\n");
  EXPECT_FALSE(store.SearchHeight().has_value());
  ASSERT_TRUE(store.SaveSearchHeight(9000));
  EXPECT_EQ(store.SearchHeight(), 9000);
}

}  // namespace
}  // namespace morvanta
