// POSIX descriptors: the one owner that closes them, and the helpers that copy bytes between
// them, for the platform's POSIX implementation and for the Linux-only tools and tests. The
// portable face of the platform layer never shows a descriptor.
#pragma once

#include <cstddef>
#include <utility>

namespace platform {

// Owns a descriptor and closes it when it goes; -1 owns nothing.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  int release() { return std::exchange(m_fd, -1); }
  // Closes what it owns and takes `fd` instead.
  void reset(int fd = -1);
  // Closes what it owns and tells whether the close succeeded: on some file systems the last
  // write error is reported only here.
  bool close();

 private:
  int m_fd = -1;
};

// Writes all `length` bytes, retrying short and interrupted writes; false on an error.
bool write_whole(int fd, const char* data, std::size_t length);

}  // namespace platform
