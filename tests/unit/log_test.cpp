#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "../support/unprivileged.h"
#include "log/codepage.h"
#include "log/log.h"
#include "test_support.h"

namespace morvanta {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const LocalDateTime kNow{2026, 12, 7, 15, 21, 53};
Clock Fixed(LocalDateTime t = kNow) {
  return [t] { return t; };
}

TEST(LogTime, FixedFormAndRotatedName) {
  EXPECT_EQ(FormatDateTime(kNow), "07.12.2026 15:21:53");
  EXPECT_EQ(FormatDateTime({2027, 1, 3, 4, 5, 6}), "03.01.2027 04:05:06");
  EXPECT_EQ(RotatedLogName(kNow), "Error_07.12.2026-15.21.53.log");
}

TEST(LogError, CreatesFolderAndWritesBothLines) {
  TempDir dir;
  const Log log(dir.path(), Fixed());
  ASSERT_TRUE(log.LogError(0, "Settings.ini existiert nicht.", "CheckInI"));
  EXPECT_EQ(ReadFile(log.ErrorLogPath()),
            "07.12.2026 15:21:53 - 0 - Settings.ini existiert nicht. - CheckInI\r\n");
  EXPECT_EQ(ReadFile(log.DebugLogPath()),
            "07.12.2026 15:21:53 - ERROR: Settings.ini existiert nicht.\r\n");
}

TEST(LogError, LineContents) {
  const struct {
    std::int32_t number;
    const char* description;
    const char* procedure;
    const char* expected;
  } cases[] = {
      {-2147467259, "Failed", "Send", "07.12.2026 15:21:53 - -2147467259 - Failed - Send\r\n"},
      {6, "a - b", "cmdSearch_Click", "07.12.2026 15:21:53 - 6 - a - b - cmdSearch_Click\r\n"},
      // A line break must not forge a second entry.
      {1, "one\r\n07.12.2026 00:00:00 - 0 - forged", "Send\n",
       "07.12.2026 15:21:53 - 1 - one\\x0D\\x0A07.12.2026 00:00:00 - 0 - forged - Send\\x0A\r\n"},
      // Nor repaint the terminal of whoever reads the log: C0, DEL and C1
      // (here CSI, U+009B) are written out, Latin-1 letters kept.
      {3, "\x1B]2;owned\x07\x1B[2J\tx\x7F\xC2\x9B" "31m\xC3\xA9", "\x1B[0m",
       "07.12.2026 15:21:53 - 3 - \\x1B]2;owned\\x07\\x1B[2J\\x09x\\x7F\\x9B"
       "31m\xE9 - \\x1B[0m\r\n"},
      {2, "M\xC3\xBCller \xE4\xB8\xAD", "Send", "07.12.2026 15:21:53 - 2 - M\xFCller ? - Send\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const Log log(dir.path(), Fixed());
    ASSERT_TRUE(log.LogError(c.number, c.description, c.procedure));
    EXPECT_EQ(ReadFile(log.ErrorLogPath()), c.expected) << c.description;
  }
}

TEST(LogError, RotatesOnlyAboveTheLimit) {
  const struct {
    std::uintmax_t size;
    bool rotated;
  } cases[] = {{1'000'000, false}, {1'000'001, true}};
  for (const auto& c : cases) {
    TempDir dir;
    const Log log(dir.path(), Fixed());
    fs::create_directories(log.LogDir());
    WriteFile(log.ErrorLogPath(), std::string(c.size, 'x'));
    ASSERT_TRUE(log.LogError(5, "later", "Send"));
    const fs::path rotated = log.LogDir() / "Error_07.12.2026-15.21.53.log";
    EXPECT_EQ(fs::exists(rotated), c.rotated) << c.size;
    const std::string line = "07.12.2026 15:21:53 - 5 - later - Send\r\n";
    if (c.rotated) {
      EXPECT_EQ(fs::file_size(rotated), c.size);
      EXPECT_EQ(ReadFile(log.ErrorLogPath()), line);
    } else {
      EXPECT_EQ(fs::file_size(log.ErrorLogPath()), c.size + line.size());
    }
  }
}

TEST(LogError, RotationInTheSameSecondKeepsEveryLog) {
  TempDir dir;
  const Log log(dir.path(), Fixed());
  fs::create_directories(log.LogDir());
  WriteFile(log.LogDir() / "Error_07.12.2026-15.21.53.log", "first");
  WriteFile(log.LogDir() / "Error_07.12.2026-15.21.53_2.log", "second");
  WriteFile(log.ErrorLogPath(), std::string(1'000'001, 'y'));
  ASSERT_TRUE(log.LogError(1, "kept", "Send"));
  EXPECT_EQ(ReadFile(log.LogDir() / "Error_07.12.2026-15.21.53.log"), "first");
  EXPECT_EQ(ReadFile(log.LogDir() / "Error_07.12.2026-15.21.53_2.log"), "second");
  EXPECT_EQ(fs::file_size(log.LogDir() / "Error_07.12.2026-15.21.53_3.log"), 1'000'001u);
  EXPECT_EQ(ReadFile(log.ErrorLogPath()), "07.12.2026 15:21:53 - 1 - kept - Send\r\n");
}

TEST(LogDebug, AppendsAtAnySize) {
  TempDir dir;
  const Log log(dir.path(), Fixed());
  fs::create_directories(log.LogDir());
  WriteFile(log.DebugLogPath(), std::string(2'000'000, 'd'));
  ASSERT_TRUE(log.LogDebug("hello"));
  EXPECT_EQ(fs::file_size(log.DebugLogPath()),
            2'000'000u + std::string("07.12.2026 15:21:53 - hello\r\n").size());
  EXPECT_FALSE(fs::exists(log.ErrorLogPath()));
}

TEST(Log, UnwritableLogsAreReportedNotFatal) {
  TempDir dir;
  // A file where the Logs folder should be, and one above the user's own:
  // no log can be written, even as root.
  WriteFile(dir.path() / "Logs", "not a folder");
  WriteFile(dir.path() / "home", "not a folder");
  const Log log(dir.path(), Fixed(), dir.path() / "home" / "morvanta" / "Logs");
  const LogResult result = log.LogError(1, "x", "Send");
  EXPECT_FALSE(result);
  EXPECT_FALSE(result.error.empty());
  EXPECT_FALSE(log.LogDebug("y"));
}

TEST(Codepage, RoundTripsEveryDefinedByte) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
  }
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?") << "a cut sequence is one unknown character";
}

// An installed station's Logs/ is root:<station group> with the set-group-ID
// bit; each user's umask would otherwise make the first user's log closed to
// the next one.
struct SharedLogCase {
  const char* name;
  unsigned folderMode;
  bool groupWritable;  // the log the first user starts
};
void PrintTo(const SharedLogCase& c, std::ostream* os) { *os << c.name; }
class SharedLogsTest : public ::testing::TestWithParam<SharedLogCase> {};

TEST_P(SharedLogsTest, LogStartedByOneUserTakesTheNextUsersLine) {
  using testing::Give;
  using testing::Identity;
  using testing::Owner;
  constexpr gid_t kStationGroup = 4242;
  const SharedLogCase& c = GetParam();
  TempDir dir;
  const fs::path logs = dir.path() / "Logs";
  fs::create_directory(logs);
  const Identity first{65534, 65534, {kStationGroup}};
  const Identity second{65533, 65533, {kStationGroup}};
  ASSERT_TRUE(Give(logs, Owner::Root, static_cast<fs::perms>(0775), first, kStationGroup));
  ASSERT_EQ(::chmod(logs.c_str(), c.folderMode), 0);

  const auto logAs = [&](const Identity& who, const char* text) {
    return testing::RunAs(who, [&] {
      ::umask(022);
      return Log(dir.path(), Fixed()).LogError(1001, text, "cmdSearch_Click") ? 0 : 1;
    });
  };
  ASSERT_EQ(logAs(first, "first").status, 0);
  struct stat log {};
  ASSERT_EQ(::stat((logs / "Error.log").c_str(), &log), 0);
  EXPECT_EQ((log.st_mode & S_IWGRP) != 0, c.groupWritable);
  EXPECT_EQ(log.st_mode & S_IWOTH, 0u) << "never opened to everyone";
  if (c.groupWritable) {
    EXPECT_EQ(logAs(second, "second").status, 0);
    EXPECT_EQ(ReadFile(logs / "Error.log"),
              "07.12.2026 15:21:53 - 1001 - first - cmdSearch_Click\r\n"
              "07.12.2026 15:21:53 - 1001 - second - cmdSearch_Click\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SharedLogsTest,
    ::testing::Values(SharedLogCase{"StationGroupFolder", 02775, true},
                      SharedLogCase{"PlainFolderKeepsTheUmask", 0777, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvanta
