// What the Win32 implementation files share: UTF-8 <-> UTF-16 for the wide calls, the
// system's messages for its error codes, Windows Sockets started once and its error codes in
// errno's names, and whether Wine stands in for Windows.
#include "platform/win32/system.h"

#include <cerrno>

namespace platform::win32 {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length = static_cast<int>(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(needed > 0 ? needed : 0), L'\0');
  if (needed > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
  return wide;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int length = static_cast<int>(utf16.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, text.data(), needed, nullptr, nullptr);
  return text;
}

std::string system_message(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? narrow(std::wstring_view(buffer, length)) : std::string();
  ::LocalFree(buffer);
  // The system ends its messages with a line break (and often a full stop before it).
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

bool running_under_wine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

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
