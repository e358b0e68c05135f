#pragma once
// The file side of the logs. The shared Logs/ folder is writable by every
// member of the station's group, so whatever another member left there may be
// meant to catch this user's lines: a link to one of this user's files, a
// FIFO that never takes a byte, a second name of someone else's file. A log is
// written only when it is what a log should be, a plain file with one name,
// opened without following links and without waiting.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace morvanta::logfile {

// An open file or folder: a descriptor on POSIX, a handle on Windows.
#ifdef _WIN32
using Native = void*;  // HANDLE
inline const Native kNoFile = reinterpret_cast<Native>(-1);  // INVALID_HANDLE_VALUE
#else
using Native = int;
inline constexpr Native kNoFile = -1;
#endif

// An open file, closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(Native fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  Native get() const { return fd_; }
  Native release();
  // Closes now; false when the close failed (a write the disk refused late).
  bool Close();
  explicit operator bool() const { return fd_ != kNoFile; }

 private:
  Native fd_ = kNoFile;
};

// A descriptor, or why there is none.
struct Opened {
  Fd fd;
  std::string why;
};

// <programDir>/Logs, created when missing. A link in its place is not
// followed: the folder is the program's own or none.
Opened OpenSharedFolder(const std::filesystem::path& programDir);

// The user's own log folder, its missing parts created for the user alone.
Opened OpenUserFolder(const std::filesystem::path& dir);

// Moves `name` in `folder` aside when it is a plain file larger than `limit`,
// to the first of candidate(1), candidate(2)... that no entry has; an entry
// of any kind is never replaced. Returns why it failed, or "".
std::string RotateIfOver(Native folder, const char* name, std::uintmax_t limit,
                         const std::function<std::string(int)>& candidate);

// Opens `name` in `folder` for appending, starting it when missing, and
// refuses anything but a plain file with one name. A log started in a shared
// folder (set-group-ID, group-writable) is opened to the folder's group.
Opened OpenForAppending(Native folder, const char* name);

// Writes all of `bytes`; returns why it failed, or "".
std::string WriteAll(Native fd, std::string_view bytes);

// Where a user's lines go when the shared folder takes none:
// $XDG_STATE_HOME/morvanta/Logs (only when it is an absolute path), else
// ~/.local/state/morvanta/Logs. Empty when there is no home either. On
// Windows %LOCALAPPDATA%\Morvanta\Logs.
std::filesystem::path UserLogDir();

}  // namespace morvanta::logfile
