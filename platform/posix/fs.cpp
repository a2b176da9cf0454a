// File status through std::filesystem; unbuffered transfers on the stream's descriptor.
#include "platform/fs.h"

#include <filesystem>
#include <system_error>

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

}  // namespace platform
