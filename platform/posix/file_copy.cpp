// Replacing a file by a copy of another: written to a private temporary file beside the
// target, made readable by all, then renamed over it, so the target is never half written.
#include "platform/file_copy.h"

#include "platform/posix/fd_io.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kCopyChunkBytes = std::size_t{64} * 1024;
constexpr mode_t kReadableByAll = 0644;

bool copy_contents(int from, int to) {
  char chunk[kCopyChunkBytes];
  for (;;) {
    ssize_t got = ::read(from, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    if (!write_whole(to, chunk, static_cast<std::size_t>(got))) return false;
  }
}

UniqueFd open_regular_file(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (fd.valid() && (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))) fd.reset();
  return fd;
}

}  // namespace

bool copy_file_replacing(const std::filesystem::path& source, const std::filesystem::path& target) {
  const UniqueFd from = open_regular_file(source);
  if (!from.valid()) return false;
  std::filesystem::path directory = target.parent_path();
  std::string pattern = (directory.empty() ? std::filesystem::path(".") : directory) /
                        ("." + target.filename().string() + ".XXXXXX");
  UniqueFd to(::mkostemp(pattern.data(), O_CLOEXEC));  // new, exclusive, mode 0600
  if (!to.valid()) return false;
  bool copied = copy_contents(from.get(), to.get()) && ::fchmod(to.get(), kReadableByAll) == 0;
  copied = to.close() && copied;
  copied = copied && ::rename(pattern.c_str(), target.c_str()) == 0;
  if (!copied) ::unlink(pattern.c_str());
  return copied;
}

}  // namespace platform
