#include <windows.h>
#include <winsock2.h>

#include <cstdlib>

#include "platform/process.h"
#include "platform/socket.h"

namespace morvanta::platform {

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_s(&local, &t);
  return local;
}

std::tm UtcTime(std::time_t t) {
  std::tm utc{};
  gmtime_s(&utc, &t);
  return utc;
}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

void SetEnvironment(const char* name, const char* value) { ::_putenv_s(name, value); }

void IgnoreBrokenPipes() {}

void BlockBrokenPipesOnThisThread() {}

void StartSockets() {
  // Once; never cleaned up: sockets of threads still ending at exit stay valid.
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

}  // namespace morvanta::platform
