// Inputs the fuzz targets (tests/fuzz) found faults with, kept as unit tests
// so the faults stay fixed without a fuzz run.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "config/profile.h"
#include "config/settings.h"
#include "test_support.h"

namespace morvanta {
namespace {

// A number takes one sign at most; "+-016" used to read as -16, so a port or
// a time-out written that way was taken as a negative number.
TEST(FuzzRegression, ParseInt32TakesOneSignAtMost) {
  const struct {
    const char* text;
    std::optional<std::int32_t> expected;
  } cases[] = {
      {"+-016", std::nullopt}, {"+-5", std::nullopt}, {"-+5", std::nullopt},
      {"++5", std::nullopt},   {"--5", std::nullopt}, {" +-0 ", std::nullopt},
      {"+016", 16},            {"-016", -16},         {" +0 ", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.text), c.expected) << c.text;
}

// Names may hold any byte, NUL included: the snapshot's index once joined
// section and key with a NUL, so section "x" with key "\0b" and section "x\0"
// with key "b" were one entry, and a lookup found a key ReadINI does not.
TEST(FuzzRegression, SnapshotKeepsSectionAndKeyApartWhateverTheyHold) {
  using namespace std::string_literals;
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "Settings.ini";
  std::ofstream(file, std::ios::binary) << "[x]\r\n\0b=ONE\r\n"s;
  const ProfileSnapshot snapshot = ProfileSnapshot::Read(file);
  const struct {
    std::string section, key;
  } lookups[] = {{"x\0"s, "b"}, {"x", "\0b"s}, {"x", "b"}, {"x\0b"s, ""}};
  for (const auto& l : lookups) {
    EXPECT_EQ(snapshot.Get(l.section, l.key, "d"), ReadINI(l.section, l.key, "d", file))
        << "section of " << l.section.size() << " bytes, key of " << l.key.size();
  }
  EXPECT_EQ(snapshot.Get("x\0"s, "b", "d"), "d");
}

}  // namespace
}  // namespace morvanta
