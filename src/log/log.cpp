#include "log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "log/codepage.h"

namespace morvanta {
namespace fs = std::filesystem;
namespace {

// A CR or LF inside a text would forge extra log lines: one entry, one line.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

LogResult Failure(std::string what) { return {false, std::move(what)}; }

LogResult EnsureDir(const fs::path& dir) {
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return {};
  fs::create_directories(dir, ec);
  if (ec) return Failure("Cannot create " + dir.string() + ": " + ec.message());
  return {};
}

// A Logs folder with the set-group-ID bit is shared by the station's users
// (an installed program's Logs/ belongs to its group): a log one of them
// starts must stay open to the others, whatever their umask took away.
void ShareWithFolderGroup(int fd, const fs::path& dir) {
  struct stat folder {};
  if (::stat(dir.c_str(), &folder) != 0) return;
  if ((folder.st_mode & S_ISGID) == 0 || (folder.st_mode & S_IWGRP) == 0) return;
  struct stat file {};
  if (::fstat(fd, &file) != 0) return;
  ::fchmod(fd, (file.st_mode & 07777) | S_IRGRP | S_IWGRP);
}

int OpenForAppending(const fs::path& file) {
  constexpr int kAppend = O_WRONLY | O_APPEND | O_CLOEXEC;
  int fd = ::open(file.c_str(), kAppend);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = ::open(file.c_str(), kAppend | O_CREAT | O_EXCL, 0666);
  if (fd >= 0) {
    ShareWithFolderGroup(fd, file.parent_path());
  } else if (errno == EEXIST) {
    fd = ::open(file.c_str(), kAppend);  // another process started it meanwhile
  }
  return fd;
}

LogResult AppendLine(const fs::path& file, std::string_view utf8Line) {
  const int fd = OpenForAppending(file);
  if (fd < 0) return Failure("Cannot open " + file.string() + " for appending");
  const std::string line = Utf8ToCp1252(utf8Line) + "\r\n";
  std::size_t done = 0;
  bool failed = false;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = true;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) failed = true;
  if (failed) return Failure("Cannot write to " + file.string());
  return {};
}

}  // namespace

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
    : programDir_(std::move(programDir)), clock_(std::move(clock)) {}

LogResult Log::LogDebug(std::string_view message) const {
  if (LogResult dir = EnsureDir(LogDir()); !dir) return dir;
  return AppendLine(DebugLogPath(),
                    FormatDateTime(clock_()) + " - " + OneLine(message));
}

LogResult Log::LogError(std::int32_t number, std::string_view description,
                        std::string_view procedure) const {
  // The debug copy comes first; a failure there must not cost the error line.
  const LogResult debug = LogDebug("ERROR: " + std::string(description));

  if (LogResult dir = EnsureDir(LogDir()); !dir) return dir;
  std::error_code ec;
  const fs::path errorLog = ErrorLogPath();
  const std::uintmax_t size = fs::file_size(errorLog, ec);
  if (!ec && size > kErrorLogLimit) {
    // Two rotations within one second would share a name; never overwrite an
    // older log, take the next free one.
    const std::string name = RotatedLogName(clock_());
    const std::string stem = name.substr(0, name.size() - 4);
    fs::path target = LogDir() / name;
    for (int n = 2; fs::exists(target, ec); ++n) {
      target = LogDir() / (stem + "_" + std::to_string(n) + ".log");
    }
    fs::rename(errorLog, target, ec);
    if (ec) {
      return Failure("Cannot move " + errorLog.string() + " to " +
                     target.string() + ": " + ec.message());
    }
  }
  const LogResult written = AppendLine(
      errorLog, FormatDateTime(clock_()) + " - " + std::to_string(number) +
                    " - " + OneLine(description) + " - " + OneLine(procedure));
  if (!written) return written;
  return debug;
}

}  // namespace morvanta
