#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "platform/process.h"
#include "platform/socket.h"

namespace morvanta::platform {

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::tm UtcTime(std::time_t t) {
  std::tm utc{};
  gmtime_r(&t, &utc);
  return utc;
}

long ProcessId() { return static_cast<long>(::getpid()); }

void SetEnvironment(const char* name, const char* value) { ::setenv(name, value, 1); }

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void BlockBrokenPipesOnThisThread() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void StartSockets() {}

}  // namespace morvanta::platform
