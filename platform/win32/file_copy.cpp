// Replacing a file by a copy of another: copied to a new file of our own beside the target,
// then moved over it in one step (MoveFileEx), so the target is never half written.
#include "platform/file_copy.h"

#include "platform/win32/system.h"

#include <optional>
#include <random>
#include <string>

namespace platform {

namespace {

bool is_regular_file(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// A name beside the target that nothing has yet: ".flash.bin.1a2b3c".
std::optional<std::wstring> copy_beside(const std::wstring& source,
                                        const std::filesystem::path& target) {
  std::random_device random;
  const std::filesystem::path directory =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::wstring name = (directory / (L"." + target.filename().wstring() + L"." +
                                            std::to_wstring(random() & 0xFFFFFF)))
                                  .wstring();
    // Fails when the name exists: the copy is always a file of our own.
    if (::CopyFileW(source.c_str(), name.c_str(), TRUE)) return name;
    if (::GetLastError() != ERROR_FILE_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

bool copy_file_replacing(const std::filesystem::path& source, const std::filesystem::path& target) {
  const std::wstring from = source.wstring();
  if (!is_regular_file(from)) return false;
  const std::optional<std::wstring> copy = copy_beside(from, target);
  if (!copy) return false;
  // The copy takes the source's attributes; a read-only one could never be replaced later.
  const DWORD attributes = ::GetFileAttributesW(copy->c_str());
  bool copied = attributes != INVALID_FILE_ATTRIBUTES &&
                ::SetFileAttributesW(copy->c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  copied = copied && ::MoveFileExW(copy->c_str(), target.wstring().c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!copied) ::DeleteFileW(copy->c_str());
  return copied;
}

}  // namespace platform
