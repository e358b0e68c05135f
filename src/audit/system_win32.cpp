#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

#include "audit/events.h"
#include "audit/system.h"
#include "platform/win32_text.h"

namespace morvanta::audit {

// The user this process runs as: the account name, the domain's or the
// station's, as the event log and file rights name it.
Person CurrentPerson() {
  Person person;
  wchar_t name[257] = L"";
  DWORD size = static_cast<DWORD>(std::size(name));
  if (::GetUserNameW(name, &size) && size > 1) person.login = platform::Utf8(std::wstring_view(name, size - 1));
  if (person.login.empty()) person.login = "unknown";
  return person;
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  DWORD size = static_cast<DWORD>(std::size(name));
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) return "localhost";
  return platform::Utf8(std::wstring_view(name, size));
}

namespace sys {

// Windows has no syslog: the Application event log takes the message, under
// the source "Morvanta" (events 1, notice, and 2, warning).
void ToSystemLog(bool warning, const std::string& xml) {
  static const HANDLE source = ::RegisterEventSourceW(nullptr, L"Morvanta");
  if (source == nullptr) return;
  const std::wstring text = platform::Wide(xml);
  const wchar_t* strings[] = {text.c_str()};
  ::ReportEventW(source, warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, warning ? 2 : 1, nullptr, 1,
                 0, strings, nullptr);
}

int OpenSocket(const addrinfo& a) {
  // Winsock sockets are not inherited by the children CreateProcess starts
  // without bInheritHandles; no flag needed.
  const SOCKET s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == INVALID_SOCKET) return -1;
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return -1;
  }
  return static_cast<int>(s);
}

bool StartConnect(int s, const addrinfo& a, bool& pending) {
  const bool connected = ::connect(platform::Native(s), a.ai_addr, static_cast<int>(a.ai_addrlen)) == 0;
  pending = !connected && ::WSAGetLastError() == WSAEWOULDBLOCK;
  return connected;
}

int WaitConnected(int s, int milliseconds) {
  WSAPOLLFD p{platform::Native(s), POLLWRNORM, 0};
  if (::WSAPoll(&p, 1, milliseconds) <= 0) return 0;
  int error = 0;
  int length = sizeof error;
  ::getsockopt(platform::Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  if (error == 0 && (p.revents & (POLLERR | POLLHUP)) != 0) error = WSAECONNREFUSED;
  if (error != 0) {
    ::WSASetLastError(error);
    return -1;
  }
  return 1;
}

void MakeBlocking(int s, int seconds) {
  u_long nonBlocking = 0;
  ::ioctlsocket(platform::Native(s), FIONBIO, &nonBlocking);
  // Winsock takes the bound in milliseconds, as a DWORD.
  const DWORD bound = static_cast<DWORD>(seconds) * 1000;
  ::setsockopt(platform::Native(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound);
  ::setsockopt(platform::Native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound);
}

int Duplicate(int s) {
  WSAPROTOCOL_INFOW info{};
  if (::WSADuplicateSocketW(platform::Native(s), ::GetCurrentProcessId(), &info) != 0) return -1;
  const SOCKET copy = ::WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return copy == INVALID_SOCKET ? -1 : static_cast<int>(copy);
}

bool HasInput(int s) {
  WSAPOLLFD p{platform::Native(s), POLLRDNORM, 0};
  return ::WSAPoll(&p, 1, 0) > 0 && (p.revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
}

bool SendAll(int s, std::string_view message) {
  // No SIGPIPE on Windows: a closed connection is an error return.
  return ::send(platform::Native(s), message.data(), static_cast<int>(message.size()), 0) ==
         static_cast<int>(message.size());
}

int LastError() { return ::WSAGetLastError(); }
std::string ErrorText(int error) { return platform::SystemReason(static_cast<DWORD>(error)); }
bool TooLong(int error) { return error == WSAEMSGSIZE; }
int TimedOut() { return WSAETIMEDOUT; }
// getaddrinfo's results are Winsock error numbers.
std::string LookupErrorText(int rc) { return platform::SystemReason(static_cast<DWORD>(rc)); }

}  // namespace sys
}  // namespace morvanta::audit
