#pragma once
// Started with --port 0, morvanta-archive lets the system pick a free port and
// names it in its first line of output once it takes connections:
// "morvanta-archive: ARCHIVE listening on port 40123 with 12 studies".

#include <string>

namespace morvanta::testing {

// The port in that line of `output`, or 0 while it is not (completely) there.
inline int AnnouncedPort(const std::string& output) {
  const std::string marker = "listening on port ";
  const auto at = output.find(marker);
  if (at == std::string::npos) return 0;
  const auto digits = at + marker.size();
  const auto end = output.find_first_not_of("0123456789", digits);
  if (end == std::string::npos || end == digits) return 0;
  return std::stoi(output.substr(digits, end - digits));
}

}  // namespace morvanta::testing
