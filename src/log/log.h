#pragma once
// The error and debug logs under <program dir>/Logs. Each call opens, appends
// one CR LF line and closes, so nothing is lost when the program ends abruptly.
// A user whose lines that folder does not take (no right to write it, or
// something there that is not a plain log) gets them in a folder of their own.

#include <atomic>
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

// Every control character (C0, DEL, C1) in `utf8` written as "\x1B": a line
// break would forge a second entry, an escape sequence would repaint the
// terminal of whoever reads the log. What is left is one line of plain text.
std::string PrintableLogText(std::string_view utf8);

class Log {
 public:
  // The user's own folder is $XDG_STATE_HOME/morvanta/Logs or
  // ~/.local/state/morvanta/Logs (log_file.h) unless given.
  explicit Log(std::filesystem::path programDir, Clock clock = SystemNow);
  Log(std::filesystem::path programDir, Clock clock, std::filesystem::path userLogDir);

  // Writes "ERROR: <description>" to the debug log, rotates the error log when
  // it is over the limit, then appends "<now> - <number> - <description> -
  // <procedure>". Both lines are written even if the first write fails.
  LogResult LogError(std::int32_t number, std::string_view description,
                     std::string_view procedure) const;
  // Appends "<now> - <message>" to the debug log.
  LogResult LogDebug(std::string_view message) const;
  // (A line that went to the user's folder is a success; one that went
  // nowhere says why for both folders.)

  std::filesystem::path LogDir() const { return programDir_ / "Logs"; }
  std::filesystem::path ErrorLogPath() const { return LogDir() / "Error.log"; }
  std::filesystem::path DebugLogPath() const { return LogDir() / "Debug.log"; }
  // Where this user's lines go when LogDir() takes none; empty when nowhere.
  const std::filesystem::path& UserLogDir() const { return userLogDir_; }

 private:
  LogResult Append(const char* name, std::string_view utf8Line, bool rotate) const;

  std::filesystem::path programDir_;
  Clock clock_;
  std::filesystem::path userLogDir_;
  // The first line sent to the user's folder is preceded there by why.
  mutable std::atomic<bool> toldWhy_{false};
};

}  // namespace morvanta
