#pragma once
// Cutting blanks from both ends of a text. What counts as blank differs by
// source, so each caller names its set.

#include <string_view>

namespace morvanta::text {

// DICOM pads values with spaces.
inline constexpr std::string_view kSpaces = " ";
// What a person types around a value in the settings file.
inline constexpr std::string_view kSpacesAndTabs = " \t";

constexpr std::string_view Trim(std::string_view s, std::string_view blanks) {
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

}  // namespace morvanta::text
