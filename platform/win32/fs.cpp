// File status through std::filesystem; unbuffered transfers on the stream's C runtime file.
// Windows has no permission bit for other users' reading: a file whose status can be read
// counts as readable by others.
#include "platform/fs.h"

#include "platform/win32/system.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
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

std::optional<TemporaryFile> create_temporary_beside(const std::string& path) {
  const std::filesystem::path target = win32::path_from_utf8(path);
  std::random_device random;
  // A few tries with fresh names: CREATE_NEW refuses a name someone else holds (or planted).
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
    const std::filesystem::path name =
        target.parent_path() / (L"." + target.filename().wstring() + win32::widen(suffix));
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    std::FILE* stream = fd >= 0 ? ::_fdopen(fd, "wb") : nullptr;
    if (stream != nullptr) return TemporaryFile{stream, win32::narrow(name.wstring())};
    if (fd >= 0) {
      ::_close(fd);
    } else {
      ::CloseHandle(handle);
    }
    ::DeleteFileW(name.c_str());
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace platform
