#include "log/log_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace morvanta::logfile {
namespace fs = std::filesystem;
namespace {

// Enough for any name a member could have taken before us; past it the line
// goes elsewhere rather than the rotation going on and on.
constexpr int kMostRotatedNames = 1000;

std::string Reason(int error) { return std::strerror(error); }

// A Logs folder with the set-group-ID bit is shared by the station's users
// (an installed program's Logs/ belongs to its group): a log one of them
// starts must stay open to the others, whatever their umask took away.
void ShareWithFolderGroup(int fd, int folder) {
  struct stat dir {};
  if (::fstat(folder, &dir) != 0) return;
  if ((dir.st_mode & S_ISGID) == 0 || (dir.st_mode & S_IWGRP) == 0) return;
  struct stat file {};
  if (::fstat(fd, &file) != 0) return;
  ::fchmod(fd, (file.st_mode & 07777) | S_IRGRP | S_IWGRP);
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool Fd::Close() { return ::close(release()) == 0; }

Opened OpenSharedFolder(const fs::path& programDir) {
  const Fd program(::open(programDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!program) return {Fd(), Reason(errno)};
  if (::mkdirat(program.get(), "Logs", 0777) != 0 && errno != EEXIST) {
    return {Fd(), "cannot create it: " + Reason(errno)};
  }
  Fd logs(::openat(program.get(), "Logs", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!logs) {
    const int error = errno;
    struct stat entry {};
    if (::fstatat(program.get(), "Logs", &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode)) {
      return {Fd(), "a link, not followed"};
    }
    return {Fd(), Reason(error)};
  }
  return {std::move(logs), {}};
}

Opened OpenUserFolder(const fs::path& dir) {
  // Each missing part is this user's alone; parts already there are left as
  // they are (the home folder's links are the user's own).
  fs::path part;
  for (const fs::path& name : dir) {
    part /= name;
    if (part != part.root_path()) ::mkdir(part.c_str(), 0700);
  }
  Fd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return {Fd(), Reason(errno)};
  return {std::move(folder), {}};
}

std::string RotateIfOver(int folder, const char* name, std::uintmax_t limit,
                         const std::function<std::string(int)>& candidate) {
  struct stat log {};
  if (::fstatat(folder, name, &log, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? std::string() : name + (": " + Reason(errno));
  }
  // Only a log is moved; anything else in its place is refused when opened.
  if (!S_ISREG(log.st_mode) || log.st_nlink != 1) return {};
  if (static_cast<std::uintmax_t>(log.st_size) <= limit) return {};
  for (int n = 1; n <= kMostRotatedNames; ++n) {
    const std::string target = candidate(n);
    if (::renameat2(folder, name, folder, target.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno == EEXIST) continue;
    if (errno == EINVAL || errno == ENOSYS) {
      // A file system that cannot rename without replacing: look first.
      struct stat taken {};
      if (::fstatat(folder, target.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) continue;
      if (::renameat(folder, name, folder, target.c_str()) == 0) return {};
    }
    return "cannot move " + std::string(name) + " to " + target + ": " + Reason(errno);
  }
  return "cannot move " + std::string(name) + ": every rotated name is taken";
}

Opened OpenForAppending(int folder, const char* name) {
  // Not following a link, not waiting for a FIFO's reader, never becoming
  // the controlling terminal.
  constexpr int kAppend = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  Fd log(::openat(folder, name, kAppend));
  if (!log && errno == ENOENT) {
    log = Fd(::openat(folder, name, kAppend | O_CREAT | O_EXCL, 0666));
    if (log) {
      ShareWithFolderGroup(log.get(), folder);
    } else if (errno == EEXIST) {
      log = Fd(::openat(folder, name, kAppend));  // another process started it meanwhile
    }
  }
  if (!log) {
    if (errno == ELOOP) return {Fd(), "a link, not followed"};
    if (errno == ENXIO) return {Fd(), "not a plain file, not written to"};  // a FIFO no one reads
    return {Fd(), Reason(errno)};
  }
  struct stat file {};
  if (::fstat(log.get(), &file) != 0) return {Fd(), Reason(errno)};
  if (!S_ISREG(file.st_mode)) return {Fd(), "not a plain file, not written to"};
  // A second name is another file's: the line would land in that file too.
  if (file.st_nlink != 1) return {Fd(), "a file with other names, not written to"};
  const int flags = ::fcntl(log.get(), F_GETFL);
  if (flags >= 0) ::fcntl(log.get(), F_SETFL, flags & ~O_NONBLOCK);
  return {std::move(log), {}};
}

std::string WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Reason(errno);
    if (n == 0) return "nothing written";
    done += static_cast<std::size_t>(n);
  }
  return {};
}

fs::path UserLogDir() {
  // Relative paths in these variables are invalid by the XDG rules: a log
  // would land wherever the program was started.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return fs::path(state) / "morvanta" / "Logs";
  std::string home;
  if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/') {
    home = variable;
  } else {
    passwd entry {};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return fs::path(home) / ".local" / "state" / "morvanta" / "Logs";
}

}  // namespace morvanta::logfile
