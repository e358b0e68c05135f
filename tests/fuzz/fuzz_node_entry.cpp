// The forward node entry ("alias|AET") and the numbers and flags read from
// Settings.ini, over any text.
//
// Input, read with FuzzedDataProvider: an alias, an AE title, then the rest
// as an entry (and as the text of a number and a flag).
//
// Properties:
// - ParseNodeEntry: without "|" the whole entry is the alias; with one, the
//   alias is the text before the first "|" and the AE title the text up to
//   the next one; neither ever holds a "|";
// - FormatNodeEntry then ParseNodeEntry gives back alias and AE title when
//   neither holds a "|";
// - ParseInt32 accepts only an optional sign and decimal digits between
//   blanks, and gives their value; it refuses every such text outside the
//   32-bit range;
// - ParseFlag accepts nothing ParseInt32 would read differently: every whole
//   number it accepts is true exactly when it is not zero.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "fuzz_common.h"

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The value of "[+-]digits" as a wide integer, saturating far outside the
// 32-bit range; nullopt when the text is not of that form.
std::optional<long long> WholeNumber(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!AllDigits(text)) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    value = value * 10 + (c - '0');
    if (value > (1LL << 40)) break;
  }
  return negative ? -value : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string alias = input.ConsumeRandomLengthString(80);
  const std::string aet = input.ConsumeRandomLengthString(80);
  const std::string entry = input.ConsumeRemainingBytesAsString();

  const morvanta::NodeEntry parsed = morvanta::ParseNodeEntry(entry);
  const std::size_t bar = entry.find('|');
  FUZZ_CHECK(parsed.hasBar == (bar != std::string::npos));
  FUZZ_CHECK(parsed.alias.find('|') == std::string::npos);
  FUZZ_CHECK(parsed.aet.find('|') == std::string::npos);
  if (bar == std::string::npos) {
    FUZZ_CHECK(parsed.alias == entry && parsed.aet.empty());
  } else {
    FUZZ_CHECK(entry.starts_with(parsed.alias + "|" + parsed.aet));
    const std::size_t end = bar + 1 + parsed.aet.size();
    FUZZ_CHECK(end == entry.size() || entry[end] == '|');
  }

  if (alias.find('|') == std::string::npos && aet.find('|') == std::string::npos) {
    const morvanta::NodeEntry back =
        morvanta::ParseNodeEntry(morvanta::FormatNodeEntry(alias, aet));
    FUZZ_CHECK(back.hasBar && back.alias == alias && back.aet == aet);
  }

  const std::optional<std::int32_t> number = morvanta::ParseInt32(entry);
  const std::optional<long long> whole = WholeNumber(entry);
  const bool inRange = whole && *whole >= INT32_MIN && *whole <= INT32_MAX;
  FUZZ_CHECK(number.has_value() == inRange);
  if (number) FUZZ_CHECK(*number == *whole);

  const std::optional<bool> flag = morvanta::ParseFlag(entry);
  if (whole) FUZZ_CHECK(flag.has_value() && *flag == (*whole != 0));
  return 0;
}
