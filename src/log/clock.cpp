#include "log/clock.h"

#include <cstdio>
#include <ctime>

#include "platform/process.h"

namespace morvanta {

LocalDateTime SystemNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = platform::LocalTime(now);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string FormatDateTime(const LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.day,
                t.month, t.year, t.hour, t.minute, t.second);
  return text;
}

}  // namespace morvanta
