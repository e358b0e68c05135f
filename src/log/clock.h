#pragma once
// The program's one clock. Logs, rotated file names and the date shortcuts all
// read "now" through a Clock, so tests can fix the date and time.

#include <compare>
#include <functional>
#include <string>

namespace morvanta {

struct LocalDateTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;

  auto operator<=>(const LocalDateTime&) const = default;
};

using Clock = std::function<LocalDateTime()>;

// The local date and time of this machine.
LocalDateTime SystemNow();

// "07.12.2026 15:21:53": the one fixed date-and-time form of the logs.
std::string FormatDateTime(const LocalDateTime& t);

}  // namespace morvanta
