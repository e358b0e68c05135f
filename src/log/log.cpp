#include "log/log.h"

#include <optional>

#include "log/codepage.h"
#include "log/log_file.h"
#include "platform/path_text.h"
#include "text/utf8.h"

namespace morvanta {
namespace fs = std::filesystem;
namespace {

LogResult Failure(std::string what) { return {false, std::move(what)}; }

// Appends `bytes` to `name` in `folder` (the folder `dir`, opened), moving a
// full log aside first when asked. Empty with `why` set when the folder takes
// no line; a result once the log was opened, written or not.
std::optional<LogResult> AppendIn(logfile::Opened folder, const fs::path& dir, const char* name,
                                  std::string_view bytes,
                                  const std::function<std::string(int)>* rotated, std::string& why) {
  if (!folder.fd) {
    why = platform::Utf8Of(dir) + ": " + folder.why;
    return std::nullopt;
  }
  if (rotated != nullptr) {
    const std::string failed = logfile::RotateIfOver(folder.fd.get(), name, kErrorLogLimit, *rotated);
    if (!failed.empty()) {
      why = platform::Utf8Of(dir) + ": " + failed;
      return std::nullopt;
    }
  }
  const fs::path file = dir / name;
  logfile::Opened log = logfile::OpenForAppending(folder.fd.get(), name);
  if (!log.fd) {
    why = platform::Utf8Of(file) + ": " + log.why;
    return std::nullopt;
  }
  std::string failed = logfile::WriteAll(log.fd.get(), bytes);
  if (!log.fd.Close() && failed.empty()) failed = "not saved on close";
  if (!failed.empty()) return Failure("Cannot write to " + platform::Utf8Of(file) + ": " + failed);
  return LogResult{};
}

}  // namespace

std::string PrintableLogText(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = text::DecodeUtf8(utf8, i, c);
    if (length == 0) {
      out += '?';  // what the code page makes of it anyway
      ++i;
      continue;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out.append(utf8.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string RotatedLogName(const LocalDateTime& t) {
  std::string stamp = FormatDateTime(t);
  for (char& c : stamp) {
    if (c == ' ') {
      c = '-';
    } else if (c == ':' || c == '/' || c == '\\') {
      c = '.';
    }
  }
  return "Error_" + stamp + ".log";
}

Log::Log(fs::path programDir, Clock clock)
    : Log(std::move(programDir), std::move(clock), logfile::UserLogDir()) {}

Log::Log(fs::path programDir, Clock clock, fs::path userLogDir)
    : programDir_(std::move(programDir)),
      clock_(std::move(clock)),
      userLogDir_(std::move(userLogDir)) {}

LogResult Log::Append(const char* name, std::string_view utf8Line, bool rotate) const {
  const std::string bytes = Utf8ToCp1252(utf8Line) + "\r\n";
  // Two rotations within one second would share a name; never overwrite an
  // older log, take the next free one.
  const std::string first = RotatedLogName(clock_());
  const std::string stem = first.substr(0, first.size() - 4);
  const std::function<std::string(int)> rotated = [&](int n) {
    return n == 1 ? first : stem + "_" + std::to_string(n) + ".log";
  };
  const auto* rotation = rotate ? &rotated : nullptr;

  std::string sharedWhy;
  if (auto done = AppendIn(logfile::OpenSharedFolder(programDir_), LogDir(), name, bytes,
                           rotation, sharedWhy)) {
    return *done;
  }
  std::string userWhy = "no home folder";
  if (!userLogDir_.empty()) {
    if (!toldWhy_.exchange(true)) {
      // Whoever finds lines here learns why they are not in the shared logs.
      const std::string note = FormatDateTime(clock_()) + " - Not written to " +
                               PrintableLogText(sharedWhy) + "; this user's log lines are kept in " +
                               PrintableLogText(platform::Utf8Of(userLogDir_));
      std::string ignored;
      (void)AppendIn(logfile::OpenUserFolder(userLogDir_), userLogDir_, "Debug.log",
                     Utf8ToCp1252(note) + "\r\n", nullptr, ignored);
    }
    if (auto done = AppendIn(logfile::OpenUserFolder(userLogDir_), userLogDir_, name, bytes,
                             rotation, userWhy)) {
      return *done;
    }
  }
  return Failure("Cannot write " + std::string(name) + " in " + sharedWhy + ", nor in " + userWhy);
}

LogResult Log::LogDebug(std::string_view message) const {
  return Append("Debug.log", FormatDateTime(clock_()) + " - " + PrintableLogText(message), false);
}

LogResult Log::LogError(std::int32_t number, std::string_view description,
                        std::string_view procedure) const {
  // The debug copy comes first; a failure there must not cost the error line.
  const LogResult debug = LogDebug("ERROR: " + std::string(description));
  const LogResult written = Append(
      "Error.log", FormatDateTime(clock_()) + " - " + std::to_string(number) + " - " +
                       PrintableLogText(description) + " - " + PrintableLogText(procedure),
      true);
  if (!written) return written;
  return debug;
}

}  // namespace morvanta
