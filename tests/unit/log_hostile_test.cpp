// The shared Logs/ folder against a member of the station's group who wants
// another user's lines somewhere else, and users the folder does not take.
// Each user is a child that dropped root (tests/support/unprivileged.h).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "../support/unprivileged.h"
#include "log/log.h"
#include "test_support.h"

namespace morvanta {
namespace {

namespace fs = std::filesystem;
using testing::Give;
using testing::Identity;
using testing::Owner;
using testing::ReadFile;
using testing::RunAs;
using testing::TempDir;
using testing::WriteFile;

constexpr gid_t kStationGroup = 4242;
constexpr auto kDeadline = std::chrono::seconds(10);
const std::string kLine = "07.12.2026 15:21:53 - 1001 - x - cmdSearch_Click\r\n";

Clock Fixed() {
  return [] { return LocalDateTime{2026, 12, 7, 15, 21, 53}; };
}

// Logs one error as `who`, with HOME (and XDG_STATE_HOME, when given) set.
// The child's exit status is 0 when the write reports success.
testing::ChildResult LogAs(const Identity& who, const fs::path& programDir, const fs::path& home,
                           const char* stateHome = nullptr) {
  return RunAs(
      who,
      [&] {
        ::umask(022);
        ::setenv("HOME", home.c_str(), 1);
        if (stateHome != nullptr) {
          ::setenv("XDG_STATE_HOME", stateHome, 1);
        } else {
          ::unsetenv("XDG_STATE_HOME");
        }
        return Log(programDir, Fixed()).LogError(1001, "x", "cmdSearch_Click") ? 0 : 1;
      },
      kDeadline);
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

enum class Plant { LinkToFile, LinkToFullFile, Fifo, HardLink, LinkedLogsFolder };
struct HostileCase {
  const char* name;
  Plant plant;
  const char* why;  // what the victim's own debug log says of the shared log
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
class HostileMemberTest : public ::testing::TestWithParam<HostileCase> {};

// One member plants something in Logs/; another member's next error must go
// neither into the victim's files nor hang, and still be written: to the
// victim's own folder.
TEST_P(HostileMemberTest, LineGoesToTheVictimsOwnFolderOnly) {
  const HostileCase& c = GetParam();
  const Identity member{65534, 65534, {kStationGroup}};
  const Identity victim{65533, 65533, {kStationGroup}};
  TempDir dir;
  const fs::path program = dir.path() / "program";
  const fs::path logs = program / "Logs";
  const fs::path home = dir.path() / "home";
  const fs::path bashrc = home / ".bashrc";
  fs::create_directories(logs);
  fs::create_directory(home);
  const std::string original =
      c.plant == Plant::LinkToFullFile ? std::string(kErrorLogLimit + 1, '#') : "alias ls='ls -F'\n";
  WriteFile(bashrc, original);
  ASSERT_TRUE(Give(home, Owner::Child, static_cast<fs::perms>(0755), victim));
  ASSERT_TRUE(Give(bashrc, Owner::Child, static_cast<fs::perms>(0644), victim));
  // The package's folders; a build folder shared by the group lets a member
  // replace Logs/ itself.
  const unsigned programMode = c.plant == Plant::LinkedLogsFolder ? 02775 : 0755;
  ASSERT_TRUE(Give(program, Owner::Root, static_cast<fs::perms>(programMode), member, kStationGroup));
  ASSERT_TRUE(Give(logs, Owner::Root, static_cast<fs::perms>(02775), member, kStationGroup));

  if (c.plant == Plant::HardLink) {
    // What a member can do where the kernel does not protect hard links.
    ASSERT_EQ(::link(bashrc.c_str(), (logs / "Error.log").c_str()), 0);
  } else {
    const testing::ChildResult planted = RunAs(member, [&] {
      ::umask(0);  // open to the whole group, as a member would make it
      switch (c.plant) {
        case Plant::Fifo:
          return ::mkfifo((logs / "Error.log").c_str(), 0666) == 0 ? 0 : 1;
        case Plant::LinkedLogsFolder:
          fs::remove(logs);
          return ::symlink(home.c_str(), logs.c_str()) == 0 ? 0 : 1;
        default:
          return ::symlink(bashrc.c_str(), (logs / "Error.log").c_str()) == 0 ? 0 : 1;
      }
    });
    ASSERT_EQ(planted.status, 0);
  }

  const testing::ChildResult logged = LogAs(victim, program, home);
  ASSERT_FALSE(logged.timedOut) << "the write waited on what the member left";
  EXPECT_EQ(logged.status, 0) << "a line that went to the user's folder is a success";

  EXPECT_EQ(ReadFile(bashrc), original);
  EXPECT_EQ(Names(home), (std::set<std::string>{".bashrc", ".local"}));
  const fs::path own = home / ".local/state/morvanta/Logs";
  EXPECT_EQ(ReadFile(own / "Error.log"), kLine);
  EXPECT_NE(ReadFile(own / "Debug.log").find(c.why), std::string::npos) << ReadFile(own / "Debug.log");
  // What the member planted is left as it was, and not moved aside.
  const fs::path planted = c.plant == Plant::LinkedLogsFolder ? logs : logs / "Error.log";
  EXPECT_TRUE(fs::exists(fs::symlink_status(planted)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(logs / "Error_07.12.2026-15.21.53.log")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileMemberTest,
    ::testing::Values(
        HostileCase{"LinkToAnotherUsersFile", Plant::LinkToFile, "Error.log: a link, not followed"},
        HostileCase{"LinkToAFullFileIsNotRotated", Plant::LinkToFullFile,
                    "Error.log: a link, not followed"},
        HostileCase{"FifoDoesNotBlock", Plant::Fifo, "Error.log: not a plain file"},
        HostileCase{"HardLinkToAnotherUsersFile", Plant::HardLink,
                    "Error.log: a file with other names"},
        HostileCase{"LogsFolderIsALink", Plant::LinkedLogsFolder, "Logs: a link, not followed"}),
    [](const auto& info) { return std::string(info.param.name); });

// A user who may not write Logs/ (not in the group, or a locked-down folder)
// keeps every line, in a folder of their own.
struct FallbackCase {
  const char* name;
  bool logsExists;        // else the read-only program folder cannot take it
  const char* stateHome;  // XDG_STATE_HOME or unset; a relative one does not count
  const char* expected;   // the user's folder, under the test's home
};
void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }
class UserFallbackTest : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(UserFallbackTest, LinesGoToTheUsersStateFolder) {
  const FallbackCase& c = GetParam();
  const Identity nobody;
  TempDir dir;
  const fs::path program = dir.path() / "program";
  const fs::path home = dir.path() / "home";
  fs::create_directories(program);
  fs::create_directory(home);
  if (c.logsExists) fs::create_directory(program / "Logs");
  ASSERT_TRUE(Give(home, Owner::Child, static_cast<fs::perms>(0755), nobody));
  ASSERT_TRUE(Give(program, Owner::Root, static_cast<fs::perms>(0755), nobody));
  if (c.logsExists) {
    ASSERT_TRUE(Give(program / "Logs", Owner::Root, static_cast<fs::perms>(0755), nobody));
  }
  // An absolute one is made under the test's home.
  std::string stateHome;
  if (c.stateHome != nullptr) stateHome = c.stateHome[0] == '/' ? home.string() + c.stateHome : c.stateHome;

  const testing::ChildResult logged =
      LogAs(nobody, program, home, c.stateHome == nullptr ? nullptr : stateHome.c_str());
  ASSERT_FALSE(logged.timedOut);
  EXPECT_EQ(logged.status, 0);

  const fs::path own = home / c.expected;
  EXPECT_EQ(ReadFile(own / "Error.log"), kLine);
  const std::string debug = ReadFile(own / "Debug.log");
  EXPECT_NE(debug.find("Not written to " + (program / "Logs").string()), std::string::npos) << debug;
  EXPECT_TRUE(debug.ends_with("07.12.2026 15:21:53 - ERROR: x\r\n")) << debug;
  EXPECT_EQ(Names(program), c.logsExists ? std::set<std::string>{"Logs"} : std::set<std::string>{});
  // The folders the program made are the user's alone.
  for (const fs::path& made : {own, own.parent_path()}) {
    struct stat folder {};
    ASSERT_EQ(::stat(made.c_str(), &folder), 0) << made;
    EXPECT_EQ(folder.st_mode & 07777, 0700u) << made;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UserFallbackTest,
    ::testing::Values(
        FallbackCase{"LockedLogsFolder", true, "/xdg-state", "xdg-state/morvanta/Logs"},
        FallbackCase{"ReadOnlyProgramFolderWithoutLogs", false, nullptr,
                     ".local/state/morvanta/Logs"},
        FallbackCase{"RelativeStateHomeIsIgnored", true, "state", ".local/state/morvanta/Logs"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvanta
