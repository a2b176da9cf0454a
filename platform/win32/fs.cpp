// File status through std::filesystem; unbuffered transfers on the stream's C runtime file.
// Windows has no permission bit for other users' reading: a file whose status can be read
// counts as readable by others.
#include "platform/fs.h"

#include "platform/win32/system.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <io.h>

namespace platform {

namespace {

unsigned transfer_size(std::size_t count) {
  return count > INT_MAX ? INT_MAX : static_cast<unsigned>(count);
}

}  // namespace

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return ::_wfopen(path.c_str(), wideMode.c_str());
}

std::optional<FileStatus> file_status(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(win32::path_from_utf8(path), error);
  if (error || !std::filesystem::exists(status)) return std::nullopt;
  FileStatus result;
  result.othersCanRead = true;
  const auto size = std::filesystem::file_size(win32::path_from_utf8(path), error);
  result.size = error ? 0 : size;
  return result;
}

long read_unbuffered(std::FILE* stream, std::uint8_t* buffer, std::size_t count) {
  return ::_read(::_fileno(stream), buffer, transfer_size(count));
}

long write_unbuffered(std::FILE* stream, const std::uint8_t* buffer, std::size_t count) {
  return ::_write(::_fileno(stream), buffer, transfer_size(count));
}

}  // namespace platform
