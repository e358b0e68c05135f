// The Win32 side of Settings.ini and the logs: what the system's calls make of
// a read-only file, a file with a second name and a folder link.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "config/profile.h"
#include "log/log.h"
#include "test_support.h"

namespace morvanta {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(Win32Profile, WritesThroughReplaceKeepingTheRestAndRefusesReadOnly) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  WriteFile(file, "; kept\r\n[Query]\r\nAET=OLD\r\n");
  ASSERT_TRUE(WriteINI("Query", "AET", "NEW", file).ok);
  EXPECT_EQ(ReadFile(file), "; kept\r\n[Query]\r\nAET=NEW\r\n");

  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  const WriteResult refused = WriteINI("Query", "AET", "OTHER", file);
  ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.error.find("read-only"), std::string::npos) << refused.error;
  EXPECT_EQ(ReadFile(file), "; kept\r\n[Query]\r\nAET=NEW\r\n");
}

// Replacing the file would leave the second name with the old settings.
TEST(Win32Profile, FileWithASecondNameIsWrittenInPlace) {
  TempDir dir;
  const fs::path file = dir.path() / "Settings.ini";
  const fs::path other = dir.path() / "other.ini";
  WriteFile(file, "[Query]\r\nAET=OLD\r\n");
  ASSERT_TRUE(::CreateHardLinkW(other.c_str(), file.c_str(), nullptr));
  ASSERT_TRUE(WriteINI("Query", "AET", "NEW", file).ok);
  EXPECT_EQ(ReadFile(other), "[Query]\r\nAET=NEW\r\n");
}

// What a member leaves in Logs\ in a log's place is never written through.
TEST(Win32Log, LogWithASecondNameIsNotWritten) {
  TempDir program;
  TempDir elsewhere;
  const fs::path victim = elsewhere.path() / "victim.txt";
  WriteFile(victim, "mine\r\n");
  fs::create_directory(program.path() / "Logs");
  ASSERT_TRUE(::CreateHardLinkW((program.path() / "Logs" / "Error.log").c_str(), victim.c_str(), nullptr));
  const Log log(program.path(), [] { return LocalDateTime{2026, 1, 2, 3, 4, 5}; }, elsewhere.path() / "user");
  EXPECT_TRUE(log.LogError(1001, "a line", "Search").ok);
  EXPECT_EQ(ReadFile(victim), "mine\r\n");
  EXPECT_NE(ReadFile(elsewhere.path() / "user" / "Error.log").find("a line"), std::string::npos);
}

}  // namespace
}  // namespace morvanta
