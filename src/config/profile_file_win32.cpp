#include <windows.h>

#include <random>
#include <vector>

#include "config/profile_file.h"
#include "platform/win32_text.h"

namespace morvanta {
namespace fs = std::filesystem;
namespace {

// Other programs may read, write, rename or delete the file while it is open,
// as they may on POSIX: an editor holding Settings.ini never blocks a write.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string LastError() { return platform::SystemReason(::GetLastError()); }

// Closes the handle on every way out.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  // Closes now, for the error close can report.
  bool Close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

bool Denied(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; }

}  // namespace

std::optional<std::string> ReadBytes(const fs::path& file) {
  Handle h(::CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
  if (!h.ok()) return std::nullopt;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h.get(), &size) || size.QuadPart < 0) return std::nullopt;
  std::string data(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    DWORD got = 0;
    if (!::ReadFile(h.get(), data.data() + done, chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    done += got;
  }
  data.resize(done);
  return data;
}

std::optional<std::string> Examine(const fs::path& file, FileBefore& before) {
  // FILE_FLAG_BACKUP_SEMANTICS: a folder in the file's place opens too, and
  // is then told apart.
  Handle h(::CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.ok()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    return platform::SystemReason(error);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h.get(), &info)) return LastError();
  before.exists = true;
  before.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  before.size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  before.links = info.nNumberOfLinks;
  return std::nullopt;
}

// Who may write is the file's access list's answer for this process's token
// (groups, deny entries, inherited rights): the owner alone says nothing on
// Windows. The read-only attribute refuses everyone, administrators too.
std::optional<std::string> RefusalToWrite(const fs::path& file, const FileBefore& /*info*/) {
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return "the file is read-only";

  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                         DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetFileSecurityW(file.c_str(), kWhat, nullptr, 0, &needed);
  if (needed == 0) return LastError();
  std::vector<unsigned char> descriptor(needed);
  if (!::GetFileSecurityW(file.c_str(), kWhat, descriptor.data(), needed, &needed)) return LastError();

  HANDLE process = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) return LastError();
  HANDLE token = nullptr;
  const BOOL duplicated = ::DuplicateToken(process, SecurityImpersonation, &token);
  ::CloseHandle(process);
  if (!duplicated) return LastError();

  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  DWORD wanted = FILE_GENERIC_WRITE;
  ::MapGenericMask(&wanted, &mapping);
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  const BOOL checked = ::AccessCheck(descriptor.data(), token, wanted, &mapping, &privileges, &privilegesSize,
                                     &granted, &allowed);
  const DWORD error = ::GetLastError();
  ::CloseHandle(token);
  if (!checked) return platform::SystemReason(error);
  if (!allowed) return "the file is read-only for this user (access denied)";
  return std::nullopt;
}

// Written to a new file in the same folder, flushed, then put in the file's
// place: ReplaceFileW over an existing file (which keeps its access list,
// attributes and streams), MoveFileExW with MOVEFILE_WRITE_THROUGH for a new
// one. A folder that lets this user change the file but not create files in
// it, or a file whose access list may not be copied, is written in place.
std::optional<std::string> WriteBeside(const fs::path& file, std::string_view out, const FileBefore* old,
                                       Replaced& how) {
  how = Replaced::Done;
  const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(L".");
  std::random_device random;
  fs::path temp;
  HANDLE raw = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 8 && raw == INVALID_HANDLE_VALUE; ++attempt) {
    temp = dir / (file.filename().wstring() + L".tmp" + std::to_wstring(random()));
    raw = ::CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = ::GetLastError();
    if (raw == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS) break;
  }
  if (raw == INVALID_HANDLE_VALUE) {
    if (old != nullptr && Denied(error)) {
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    return "cannot create a file in " + platform::Utf8(dir.wstring()) + " (" + platform::SystemReason(error) + ")";
  }
  Handle h(raw);
  const auto discard = [&](std::string why) {
    ::DeleteFileW(temp.c_str());
    return std::optional<std::string>(std::move(why));
  };
  if (!WriteAll(h.get(), out) || !::FlushFileBuffers(h.get())) {
    const DWORD failed = ::GetLastError();
    h.Close();
    return discard(failed == ERROR_DISK_FULL || failed == ERROR_HANDLE_DISK_FULL ? "the disk is full"
                                                                                 : platform::SystemReason(failed));
  }
  if (!h.Close()) return discard(LastError());
  if (old != nullptr) {
    if (!::ReplaceFileW(file.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      const DWORD failed = ::GetLastError();
      ::DeleteFileW(temp.c_str());
      if (Denied(failed) || failed == ERROR_UNABLE_TO_REMOVE_REPLACED) {
        how = Replaced::UseInPlace;
        return std::nullopt;
      }
      return platform::SystemReason(failed);
    }
    return std::nullopt;
  }
  if (!::MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_WRITE_THROUGH)) return discard(LastError());
  return std::nullopt;
}

std::optional<std::string> WriteInPlace(const fs::path& file, std::string_view out, std::uintmax_t /*oldSize*/) {
  // Not through a link: the file itself, as examined.
  Handle h(::CreateFileW(file.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.ok()) return LastError();
  if (!WriteAll(h.get(), out) || !::SetEndOfFile(h.get()) || !::FlushFileBuffers(h.get())) return LastError();
  if (!h.Close()) return LastError();
  return std::nullopt;
}

}  // namespace morvanta
