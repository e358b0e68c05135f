#pragma once
// Sockets as the program uses them, on POSIX and on Winsock. A socket is kept
// in an int: Winsock's handles are kernel handles, whose values fit in 32
// bits, and -1 (INVALID_SOCKET cut to an int) still says "none".

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace morvanta::platform {

#ifdef _WIN32
inline constexpr int kShutRead = SD_RECEIVE;
inline constexpr int kShutBoth = SD_BOTH;
inline SOCKET Native(int socket) { return static_cast<SOCKET>(static_cast<unsigned>(socket)); }
// Shutting a socket is how another thread's blocking read or write on it is
// ended (a cancel, a bound). Unlike POSIX, Winsock's shutdown does not end a
// recv already waiting (seen under wine; Windows documents only that later
// calls fail): the socket's pending I/O, any thread's, is cancelled too.
inline int ShutSocket(int socket, int how) {
  const int result = ::shutdown(Native(socket), how);
  ::CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), nullptr);
  return result;
}
inline int CloseSocket(int socket) { return ::closesocket(Native(socket)); }
// Waits up to `milliseconds` for bytes to read (or the end of the stream).
inline int WaitReadable(int socket, int milliseconds) {
  WSAPOLLFD waiting{Native(socket), POLLRDNORM, 0};
  return ::WSAPoll(&waiting, 1, milliseconds);
}
#else
inline constexpr int kShutRead = SHUT_RD;
inline constexpr int kShutBoth = SHUT_RDWR;
inline int ShutSocket(int socket, int how) { return ::shutdown(socket, how); }
inline int CloseSocket(int socket) { return ::close(socket); }
inline int WaitReadable(int socket, int milliseconds) {
  pollfd waiting{socket, POLLIN, 0};
  return ::poll(&waiting, 1, milliseconds);
}
#endif

// Winsock works only between WSAStartup and WSACleanup; one process-wide
// start, made before the first socket of any thread, covers the program.
// Nothing on POSIX.
void StartSockets();

}  // namespace morvanta::platform
