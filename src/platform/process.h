#pragma once
// The few process-wide calls that differ between POSIX and Windows.

#include <ctime>
#include <string>

namespace morvanta::platform {

// The local and UTC calendar time of `t` (localtime_r / localtime_s).
std::tm LocalTime(std::time_t t);
std::tm UtcTime(std::time_t t);

// This process's identifier, as the system log and audit messages show it.
long ProcessId();

// Sets an environment variable for this process (setenv / _putenv_s).
void SetEnvironment(const char* name, const char* value);

// A peer that closes its end must not end the program through SIGPIPE;
// Windows has no such signal.
void IgnoreBrokenPipes();
// The same for the calling thread alone, whatever the program's handler: a
// write to a closed connection fails with EPIPE there.
void BlockBrokenPipesOnThisThread();

}  // namespace morvanta::platform
