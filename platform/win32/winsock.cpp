// Windows Sockets 2: started once for the process, and its error codes told in errno's terms.
#include <cerrno>

#include "platform/win32/system.h"

namespace platform::win32 {

namespace {

struct ErrorPair {
  int socketError;
  int error;
};

// The conditions a UDP server meets, by both names.
constexpr ErrorPair kErrors[] = {
    {WSAEINTR, EINTR},
    {WSAEBADF, EBADF},
    {WSAEACCES, EACCES},
    {WSAEFAULT, EFAULT},
    {WSAEINVAL, EINVAL},
    {WSAEMFILE, EMFILE},
    {WSAEWOULDBLOCK, EWOULDBLOCK},
    {WSAENOTSOCK, ENOTSOCK},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETDOWN, ENETDOWN},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAECONNRESET, ECONNRESET},
    {WSAENOBUFS, ENOBUFS},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
};

}  // namespace

int errno_from_socket_error(int code) {
  for (const ErrorPair& pair : kErrors)
    if (pair.socketError == code) return pair.error;
  return EINVAL;
}

int socket_error_from_errno(int error) {
  for (const ErrorPair& pair : kErrors)
    if (pair.error == error) return pair.socketError;
  return 0;
}

bool start_winsock() {
  // Never cleaned up: the process ends straight after its last socket closes, and Windows
  // releases everything then.
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace platform::win32
