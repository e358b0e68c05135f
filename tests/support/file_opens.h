#pragma once
// How many times a file is opened, as the kernel reports it (inotify):
// every open counts, whichever routine makes it, with no hook in the
// program.

#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

namespace morvanta::test {

class FileOpens {
 public:
  // Closes are watched too: the kernel merges equal events that follow each
  // other unread, so with opens alone two reads would count as one.
  explicit FileOpens(const std::filesystem::path& file) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) wd_ = inotify_add_watch(fd_, file.c_str(), IN_OPEN | IN_CLOSE);
  }
  ~FileOpens() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileOpens(const FileOpens&) = delete;
  FileOpens& operator=(const FileOpens&) = delete;

  bool watching() const { return wd_ >= 0; }

  // The opens since the watch began or the last call. An open is reported
  // before open(2) returns, so everything the caller has done is counted.
  int Take() {
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return opens;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_OPEN) != 0) ++opens;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  int fd_ = -1;
  int wd_ = -1;
};

}  // namespace morvanta::test
