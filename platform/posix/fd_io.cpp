// Raw descriptor helpers.
#include "platform/posix/fd_io.h"

#include <cerrno>

#include <unistd.h>

namespace platform {

void UniqueFd::reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

bool UniqueFd::close() {
  const int fd = release();
  return fd < 0 || ::close(fd) == 0;
}

bool write_whole(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace platform
