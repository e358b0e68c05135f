#pragma once
// The audit trail's calls into the system: the system log and the socket to
// the audit record repository. POSIX in system_posix.cpp (syslog(3)),
// Windows in system_win32.cpp (the Application event log, Winsock).

#include <string>
#include <string_view>

#include "platform/socket.h"

namespace morvanta::audit::sys {

// One audit message to the system log: syslog's authpriv facility, or the
// Application event log under the source "Morvanta".
void ToSystemLog(bool warning, const std::string& xml);

// A socket for `a`, not inherited by children, that connects without
// blocking; -1 when none.
int OpenSocket(const addrinfo& a);
// Starts connecting: true when connected at once; false with `pending` when
// the connection goes on (WaitConnected says how it ends), else failed.
bool StartConnect(int s, const addrinfo& a, bool& pending);
// Waits up to `milliseconds`: 1 connected, 0 still waiting, -1 failed.
int WaitConnected(int s, int milliseconds);
// Blocking from now on, each send and receive bounded by `seconds`.
void MakeBlocking(int s, int seconds);
// A second socket for the same connection (for the TLS stream), or -1.
int Duplicate(int s);
// Whether there is anything to read: a repository never sends, so that is
// its end of the connection.
bool HasInput(int s);
bool SendAll(int s, std::string_view message);

// The last socket error, its text, and whether it says a datagram was too
// long for the network.
int LastError();
std::string ErrorText(int error);
bool TooLong(int error);
int TimedOut();  // the error a connection that took too long reports
// The name lookup's (getaddrinfo's) text for its result `rc`.
std::string LookupErrorText(int rc);

}  // namespace morvanta::audit::sys
