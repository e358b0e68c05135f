#pragma once
// The error and debug logs under <program dir>/Logs. Each call opens, appends
// one CR LF line and closes, so nothing is lost when the program ends abruptly.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "log/clock.h"

namespace morvanta {

// A log write that failed says why; callers report errors and go on running.
struct LogResult {
  bool ok = true;
  std::string error;
  explicit operator bool() const { return ok; }
};

// The error log is moved aside when it is larger than this many bytes.
inline constexpr std::uintmax_t kErrorLogLimit = 1'000'000;

// "Error_07.12.2026-15.21.53.log": the date-time text with " " -> "-",
// ":" -> ".", "/" -> ".", "\" -> ".".
std::string RotatedLogName(const LocalDateTime& t);

class Log {
 public:
  explicit Log(std::filesystem::path programDir, Clock clock = SystemNow);

  // Writes "ERROR: <description>" to the debug log, rotates the error log when
  // it is over the limit, then appends "<now> - <number> - <description> -
  // <procedure>". Both lines are written even if the first write fails.
  LogResult LogError(std::int32_t number, std::string_view description,
                     std::string_view procedure) const;
  // Appends "<now> - <message>" to the debug log.
  LogResult LogDebug(std::string_view message) const;

  std::filesystem::path LogDir() const { return programDir_ / "Logs"; }
  std::filesystem::path ErrorLogPath() const { return LogDir() / "Error.log"; }
  std::filesystem::path DebugLogPath() const { return LogDir() / "Debug.log"; }

 private:
  std::filesystem::path programDir_;
  Clock clock_;
};

}  // namespace morvanta
