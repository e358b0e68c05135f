// Inputs the fuzz targets (tests/fuzz) found faults with, kept as unit tests
// so the faults stay fixed without a fuzz run.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "config/settings.h"

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

}  // namespace
}  // namespace morvanta
