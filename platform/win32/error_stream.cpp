// Standard error onto a log file: the file opened for appending without following a link,
// refused unless it is an ordinary file on disk, then put under the C runtime's descriptor 2
// and the process's standard error handle.
#include "platform/error_stream.h"

#include "platform/win32/system.h"

#include <fcntl.h>
#include <io.h>

namespace platform {

namespace {

bool is_plain_disk_file(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileType(file) == FILE_TYPE_DISK &&
         ::GetFileInformationByHandle(file, &information) &&
         (information.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

bool append_error_stream_to(const char* path) {
  win32::UniqueHandle file(::CreateFileW(
      win32::widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid() || !is_plain_disk_file(file.get())) return false;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_WRONLY);
  if (fd < 0) return false;
  file.release();  // the descriptor owns it now
  const bool moved = ::_dup2(fd, 2) == 0;
  if (moved) ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(2)));
  ::_close(fd);
  return moved;
}

}  // namespace platform
