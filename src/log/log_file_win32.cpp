#include <windows.h>

#include <cstdlib>

#include "log/log_file.h"
#include "platform/win32_text.h"

// The Windows side of the logs. Logs\ gets its rights from the installer (the
// station's users may add and change files in it) and each new log inherits
// them, so nothing here widens a file's rights the way the POSIX side opens a
// log to the folder's group. What a member may leave in Logs\ is refused the
// same way: a link (a reparse point) is never followed, a file with a second
// name is not written.
namespace morvanta::logfile {
namespace fs = std::filesystem;
namespace {

constexpr int kMostRotatedNames = 1000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Reason(DWORD error) { return platform::SystemReason(error); }

// Opens a folder itself, not what a link in its place names.
HANDLE OpenFolder(const fs::path& dir, DWORD extra) {
  return ::CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | extra, nullptr);
}

// The folder an open handle is, as a path the wide calls take.
fs::path PathOf(Native folder) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
}

fs::path In(Native folder, const char* name) { return PathOf(folder) / platform::Wide(name); }

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ != kNoFile) ::CloseHandle(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ != kNoFile) ::CloseHandle(fd_);
}

Native Fd::release() {
  const Native fd = fd_;
  fd_ = kNoFile;
  return fd;
}

bool Fd::Close() { return ::CloseHandle(release()) != 0; }

Opened OpenSharedFolder(const fs::path& programDir) {
  const fs::path logs = programDir / L"Logs";
  if (!::CreateDirectoryW(logs.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return {Fd(), "cannot create it: " + Reason(::GetLastError())};
  }
  Fd folder(OpenFolder(logs, FILE_FLAG_OPEN_REPARSE_POINT));
  if (!folder) return {Fd(), Reason(::GetLastError())};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(folder.get(), &info)) return {Fd(), Reason(::GetLastError())};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return {Fd(), "a link, not followed"};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {Fd(), "not a folder"};
  return {std::move(folder), {}};
}

Opened OpenUserFolder(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);  // the user's own profile: its links are the user's
  Fd folder(OpenFolder(dir, 0));
  if (!folder) return {Fd(), Reason(::GetLastError())};
  return {std::move(folder), {}};
}

std::string RotateIfOver(Native folder, const char* name, std::uintmax_t limit,
                         const std::function<std::string(int)>& candidate) {
  const fs::path log = In(folder, name);
  const HANDLE h = ::CreateFileW(log.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? std::string() : name + (": " + Reason(error));
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL known = ::GetFileInformationByHandle(h, &info);
  ::CloseHandle(h);
  if (!known) return name + (": " + Reason(::GetLastError()));
  // Only a log is moved; anything else in its place is refused when opened.
  constexpr DWORD kNotALog = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if ((info.dwFileAttributes & kNotALog) != 0 || info.nNumberOfLinks != 1) return {};
  const std::uintmax_t size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size <= limit) return {};
  for (int n = 1; n <= kMostRotatedNames; ++n) {
    const std::string target = candidate(n);
    // Without MOVEFILE_REPLACE_EXISTING an entry of that name is never replaced.
    if (::MoveFileExW(log.c_str(), In(folder, target.c_str()).c_str(), 0)) return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) continue;
    return "cannot move " + std::string(name) + " to " + target + ": " + Reason(error);
  }
  return "cannot move " + std::string(name) + ": every rotated name is taken";
}

Opened OpenForAppending(Native folder, const char* name) {
  // Appending only, the file opened itself and not what a link names, and
  // open to the other users' programs writing their lines meanwhile.
  Fd log(::CreateFileW(In(folder, name).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!log) return {Fd(), Reason(::GetLastError())};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(log.get(), &info)) return {Fd(), Reason(::GetLastError())};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return {Fd(), "a link, not followed"};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || ::GetFileType(log.get()) != FILE_TYPE_DISK)
    return {Fd(), "not a plain file, not written to"};
  // A second name is another file's: the line would land in that file too.
  if (info.nNumberOfLinks != 1) return {Fd(), "a file with other names, not written to"};
  return {std::move(log), {}};
}

std::string WriteAll(Native fd, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(bytes.size() < (1u << 20) ? bytes.size() : (1u << 20));
    if (!::WriteFile(fd, bytes.data(), chunk, &written, nullptr)) return Reason(::GetLastError());
    if (written == 0) return "nothing written";
    bytes.remove_prefix(written);
  }
  return {};
}

// %LOCALAPPDATA%\Morvanta\Logs: the user's own, not roaming with the profile.
fs::path UserLogDir() {
  const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || local[0] == L'\0') return {};
  const fs::path base(local);
  if (!base.is_absolute()) return {};
  return base / L"Morvanta" / L"Logs";
}

}  // namespace morvanta::logfile
