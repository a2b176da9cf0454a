// Files as the servers look at them: a file's size and whether others may read it, the
// unbuffered reads and writes that octet transfers make on an open stream, and opening a
// stream by a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

struct FileStatus {
  std::uint64_t size = 0;
  // The permission bit for reading by others. Windows has no such bit: there every file
  // whose status can be read counts as readable by others.
  bool othersCanRead = false;
};

// Opens the file as std::fopen does, for any name the system can hold (Windows needs its
// wide-character call for names outside the ANSI code page).
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

// None when the file's status cannot be read (it does not exist, or a directory on the way
// cannot be searched).
std::optional<FileStatus> file_status(const std::string& path);

// One read or write on the stream's descriptor, bypassing the stream's buffer: the number of
// bytes moved, or below 0 on an error.
long read_unbuffered(std::FILE* stream, std::uint8_t* buffer, std::size_t count);
long write_unbuffered(std::FILE* stream, const std::uint8_t* buffer, std::size_t count);

struct TemporaryFile {
  std::FILE* stream = nullptr;  // open for writing
  std::string path;
};
// A new file of a name nobody can guess, in the directory of `path` and named after it,
// created exclusively (never an existing file or a link someone planted) and readable by
// everyone (0644), so that it can be renamed over `path` once it is whole.
std::optional<TemporaryFile> create_temporary_beside(const std::string& path);

}  // namespace platform
