#pragma once
// Runs a piece of a test as an ordinary user. The suite often runs as root
// (CI does), and root ignores file modes, so a test of a locked-down folder or
// a read-only file has to put its subject in a process that has dropped root:
// a child that takes the user's groups, group and user id (by default
// nobody/nogroup, 65534) before it runs the body. Run without root, the child
// simply runs as the current user, who is unprivileged already.
//
// Also here: giving a test file to an owner, so that a case can make "the
// administrator's file" (root) or "the user's file" (the child's user).

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace morvanta::testing {

inline bool RunningAsRoot() { return ::geteuid() == 0; }

struct Identity {
  uid_t uid = 65534;  // nobody
  gid_t gid = 65534;  // nogroup
  std::vector<gid_t> groups;  // supplementary groups, none by default
};

// The identity a child really gets: `who` when root, else the current user
// (with the current groups).
inline Identity EffectiveChild(const Identity& who) {
  if (RunningAsRoot()) return who;
  return {::geteuid(), ::getegid(), {}};
}

// Exit statuses the child uses for its own failures; bodies return 0..99.
inline constexpr int kDropFailed = 120;
inline constexpr int kBodyThrew = 121;
inline constexpr int kExecFailed = 122;

// Result of a child: its exit status, or -1 when it did not end normally
// (a signal, or killed at the deadline).
struct ChildResult {
  int status = -1;
  bool timedOut = false;
};

namespace detail {

// In the child only: becomes `who` for good. False when any step fails.
inline bool DropTo(const Identity& who) {
  if (!RunningAsRoot()) return true;
  if (::setgroups(who.groups.size(), who.groups.empty() ? nullptr : who.groups.data()) != 0)
    return false;
  if (::setgid(who.gid) != 0 || ::setuid(who.uid) != 0) return false;
  // No way back: a child that could regain root would test nothing.
  return ::geteuid() == who.uid && ::setuid(0) != 0;
}

// Waits for the child with a deadline; kills it when the deadline passes.
inline ChildResult Reap(pid_t pid, std::chrono::milliseconds deadline) {
  ChildResult result;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int ready = -1;
    do {
      ready = ::poll(&p, 1, static_cast<int>(deadline.count()));
    } while (ready < 0 && errno == EINTR);
    ::close(pidfd);
    if (ready == 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
    }
  } else {
    // Kernels before 5.3: ask for the child's end until the deadline.
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        result.timedOut = true;
        ::kill(pid, SIGKILL);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!result.timedOut) return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, false};
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace detail

// Runs `body` in a forked child as `who` and returns its exit status (the
// body's result). Only for single-threaded callers (a GoogleTest body): the
// child runs on a copy of the process in which no other thread exists.
inline ChildResult RunAs(const Identity& who, const std::function<int()>& body,
                         std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    if (!detail::DropTo(who)) ::_exit(kDropFailed);
    int code = kBodyThrew;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);  // no destructors, handlers or leak check of the parent's copy
  }
  return detail::Reap(pid, deadline);
}

// Starts this very program again as `who`, with `args` and extra environment
// entries ("NAME=value"), and returns its exit status. For callers with
// threads (a Qt application): the child execs at once. The program is opened
// before the drop, so a build folder the user may not enter still works.
inline ChildResult RunSelfAs(const Identity& who, const std::vector<std::string>& args,
                             const std::vector<std::string>& environment,
                             std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
  const int self = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (self < 0) return {};
  // Everything the child needs is built before fork: no allocation after it.
  std::vector<std::string> argStore{"self"};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(self);
    return {};
  }
  if (pid == 0) {
    if (!detail::DropTo(who)) ::_exit(kDropFailed);
    ::fexecve(self, argv.data(), envp.data());
    ::_exit(kExecFailed);
  }
  ::close(self);
  return detail::Reap(pid, deadline);
}

// Who owns a file a case makes.
enum class Owner {
  Root,   // the administrator; without root: the current user
  Child,  // the user the child runs as
};

// Gives `path` to `owner` with group `gid` (a group the child is in; the
// owner's own group when unset) and sets its mode. Without root the owner
// cannot change: the file stays the current user's, and an administrator's
// file gets as owner rights what the child would have had (the group's when
// it shares the group, else the others'), so the system decides the same.
// False when a step failed.
inline bool Give(const std::filesystem::path& path, Owner owner, std::filesystem::perms mode,
                 const Identity& child = {}, std::optional<gid_t> gid = std::nullopt) {
  using std::filesystem::perms;
  if (RunningAsRoot()) {
    const uid_t uid = owner == Owner::Root ? 0 : child.uid;
    const gid_t group = gid ? *gid : (owner == Owner::Root ? 0 : child.gid);
    if (::lchown(path.c_str(), uid, group) != 0) return false;
  } else if (owner == Owner::Root) {
    const auto bits = static_cast<unsigned>(mode);
    const unsigned as = gid ? (bits >> 3) & 7 : bits & 7;
    mode = static_cast<perms>((bits & ~0700u) | (as << 6));
  }
  std::error_code ec;
  std::filesystem::permissions(path, mode, ec);
  return !ec;
}

}  // namespace morvanta::testing
