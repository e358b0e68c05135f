#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "audit/events.h"
#include "audit/system.h"

namespace morvanta::audit {

Person CurrentPerson() {
  Person person;
  const uid_t uid = ::geteuid();
  person.login = std::to_string(uid);
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    if (found->pw_name != nullptr && *found->pw_name != '\0') person.login = found->pw_name;
    if (found->pw_gecos != nullptr) {
      const std::string gecos = found->pw_gecos;
      person.fullName = gecos.substr(0, gecos.find(','));
    }
  }
  return person;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = "";
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

namespace sys {

void ToSystemLog(bool warning, const std::string& xml) {
  ::syslog(LOG_AUTHPRIV | (warning ? LOG_WARNING : LOG_NOTICE), "%s", xml.c_str());
}

int OpenSocket(const addrinfo& a) {
  return ::socket(a.ai_family, a.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a.ai_protocol);
}

bool StartConnect(int s, const addrinfo& a, bool& pending) {
  const bool connected = ::connect(s, a.ai_addr, a.ai_addrlen) == 0;
  pending = !connected && errno == EINPROGRESS;
  return connected;
}

int WaitConnected(int s, int milliseconds) {
  pollfd p{s, POLLOUT, 0};
  if (::poll(&p, 1, milliseconds) <= 0) return 0;
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 1;
}

void MakeBlocking(int s, int seconds) {
  ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK);
  const timeval bound{seconds, 0};
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
}

int Duplicate(int s) { return ::fcntl(s, F_DUPFD_CLOEXEC, 0); }

bool HasInput(int s) {
  pollfd p{s, POLLIN | POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool SendAll(int s, std::string_view message) {
  return ::send(s, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

int LastError() { return errno; }
std::string ErrorText(int error) { return std::strerror(error); }
bool TooLong(int error) { return error == EMSGSIZE; }
int TimedOut() { return ETIMEDOUT; }
std::string LookupErrorText(int rc) { return gai_strerror(rc); }

}  // namespace sys
}  // namespace morvanta::audit
