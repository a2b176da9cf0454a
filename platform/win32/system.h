// What the Win32 implementation files share: the Windows headers in the order they need
// (Winsock 2 before windows.h), an owner for kernel handles, UTF-8 <-> UTF-16 text, the
// system's messages, and the one start of Windows Sockets. Only platform/ includes it.
#pragma once

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace platform::win32 {

// Owns a kernel handle and closes it when it goes; INVALID_HANDLE_VALUE is taken as none.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) { reset(handle); }
  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return m_handle; }
  bool valid() const { return m_handle != nullptr; }
  HANDLE release() { return std::exchange(m_handle, nullptr); }
  void reset(HANDLE handle = nullptr) {
    if (m_handle != nullptr) ::CloseHandle(m_handle);
    m_handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }

 private:
  HANDLE m_handle = nullptr;
};

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
inline std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(widen(utf8));
}

// The system's own words for an error code (GetLastError's or a Windows Sockets one).
std::string system_message(unsigned long code);

// A Windows Sockets error as the errno value that names the same condition (EINVAL for one
// without such a name), so that the servers read one error channel on every system.
int errno_from_socket_error(int code);
// The Windows Sockets error that an errno value from errno_from_socket_error names; 0 for
// any other errno value.
int socket_error_from_errno(int error);

// Starts Windows Sockets 2.2 once for the whole process; false when that failed. Every
// socket call site asks first, so the order of start-up does not matter.
bool start_winsock();

// Whether this process runs under Wine rather than Windows (ntdll has Wine's own export).
bool running_under_wine();

}  // namespace platform::win32
