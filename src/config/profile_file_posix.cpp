#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "config/profile_file.h"

namespace morvanta {
namespace fs = std::filesystem;

// One open, one fstat, one read: ReadINI reads the file on every lookup, so
// that a change made by another program is seen at once, and this keeps that
// cheap.
std::optional<std::string> ReadBytes(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    std::string data(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    bool failed = false;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = n < 0;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    data.resize(done);
    if (!failed) bytes = std::move(data);
  }
  ::close(fd);
  return bytes;
}

std::optional<std::string> Examine(const fs::path& file, FileBefore& before) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return std::nullopt;
    return std::error_code(errno, std::generic_category()).message();
  }
  before.exists = true;
  before.regular = S_ISREG(info.st_mode);
  before.size = static_cast<std::uintmax_t>(info.st_size);
  before.links = info.st_nlink;
  before.mode = info.st_mode;
  before.owner = info.st_uid;
  before.group = info.st_gid;
  return std::nullopt;
}

namespace {

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// Closes the descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, for the error close can report (a write the disk refused late).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

// The file rewritten through its own inode: what a locked program folder
// allows, and what keeps owner, mode and other links as they are. Space is
// reserved first, so a full disk fails before anything has changed.
}  // namespace

std::optional<std::string> WriteInPlace(const fs::path& file, std::string_view out,
                                        std::uintmax_t oldSize) {
  Fd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return ErrnoText(errno);
  const auto size = static_cast<off_t>(out.size());
  if (size > static_cast<off_t>(oldSize)) {
    const int reserved = ::posix_fallocate(fd.get(), 0, size);
    // File systems without reservation just write.
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) return ErrnoText(reserved);
  }
  if (!WriteAll(fd.get(), out, 0)) return ErrnoText(errno);
  if (::ftruncate(fd.get(), size) != 0) return ErrnoText(errno);
  if (::fsync(fd.get()) != 0) return ErrnoText(errno);
  if (!fd.Close()) return ErrnoText(errno);
  return std::nullopt;
}

// The new content beside the file, renamed over it: a crash or a full disk
// never leaves half a Settings.ini. The new file takes the old one's mode,
// owner and group; when this process may not give it those, the caller
// writes in place instead.
std::optional<std::string> WriteBeside(const fs::path& file, std::string_view out,
                                       const FileBefore* old, Replaced& how) {
  how = Replaced::Done;
  const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::random_device random;
  fs::path temp;
  int raw = -1;
  for (int attempt = 0; attempt < 8 && raw < 0; ++attempt) {
    temp = dir / (file.filename().string() + ".tmp" + std::to_string(random()));
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) break;
  }
  if (raw < 0) {
    const int error = errno;
    if (old != nullptr && (error == EACCES || error == EPERM)) {
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    return "cannot create a file in " + dir.string() + " (" + ErrnoText(error) + ")";
  }
  Fd fd(raw);
  std::error_code ec;
  struct stat made {};
  const auto discard = [&](std::string why) {
    fs::remove(temp, ec);
    return std::optional<std::string>(std::move(why));
  };
  if (old != nullptr) {
    // A set-group-ID folder gives new files its group: compare what was made.
    if (::fstat(fd.get(), &made) != 0) return discard(ErrnoText(errno));
    if ((made.st_uid != old->owner || made.st_gid != old->group) &&
        ::fchown(fd.get(), old->owner, old->group) != 0) {
      fs::remove(temp, ec);
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    if (::fchmod(fd.get(), old->mode & 07777) != 0) return discard(ErrnoText(errno));
  }
  if (!WriteAll(fd.get(), out, 0) || ::fsync(fd.get()) != 0 || !fd.Close()) {
    return discard(errno == ENOSPC ? "the disk is full" : ErrnoText(errno));
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int error = errno;
    // A sticky folder lets only the file's owner replace it.
    if (old != nullptr && (error == EACCES || error == EPERM)) {
      fs::remove(temp, ec);
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    return discard(ErrnoText(error));
  }
  return std::nullopt;
}

// Whether this process may write the file, as the system decides it. Root
// may write anything; a file without any write permission was made so on
// purpose, and root leaves it alone as well.
std::optional<std::string> RefusalToWrite(const fs::path& file, const FileBefore& info) {
  if (::geteuid() == 0 && (info.mode & 0222) == 0) return "the file is read-only";
  if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0) return std::nullopt;
  const int error = errno;
  if (error == EROFS) return "the file is read-only (read-only file system)";
  if (error == EACCES || error == EPERM) {
    return "the file is read-only for this user (" + ErrnoText(error) + ")";
  }
  return ErrnoText(error);
}

}  // namespace morvanta
