// File status through std::filesystem; unbuffered transfers on the stream's descriptor;
// private files made with mkostemp, so that no name is guessed and nothing planted is opened.
#include "platform/fs.h"

#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::optional<FileStatus> file_status(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return std::nullopt;
  FileStatus result;
  result.othersCanRead =
      (status.permissions() & std::filesystem::perms::others_read) != std::filesystem::perms::none;
  const auto size = std::filesystem::file_size(path, error);
  result.size = error ? 0 : size;
  return result;
}

long read_unbuffered(std::FILE* stream, std::uint8_t* buffer, std::size_t count) {
  return static_cast<long>(::read(::fileno(stream), buffer, count));
}

long write_unbuffered(std::FILE* stream, const std::uint8_t* buffer, std::size_t count) {
  return static_cast<long>(::write(::fileno(stream), buffer, count));
}

std::optional<TemporaryFile> create_temporary_beside(const std::string& path) {
  const std::filesystem::path target(path);
  std::string name =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  // mkostemp creates with O_EXCL and mode 0600; the served image must be world-readable.
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::FILE* stream = ::fchmod(fd, 0644) == 0 ? ::fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    ::close(fd);
    ::unlink(name.c_str());
    return std::nullopt;
  }
  return TemporaryFile{stream, name};
}

}  // namespace platform
