// Running a command as a child process with its standard output caught through a pipe into
// a file, and the private place where such a capture file lives. What the capture means and
// which messages a failure shows are the caller's; this layer only reports which step failed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class CaptureOutcome : std::uint8_t {
  Exited,               // the command ran and ended; exit_code holds its code
  PipeFailed,           // no pipe could be created
  StartFailed,          // the program was not found or could not be executed
  ExitCodeUnavailable,  // the child ran but its exit status could not be read
};

struct CaptureResult {
  CaptureOutcome outcome = CaptureOutcome::StartFailed;
  int exit_code = -1;  // meaningful only for Exited; a signal death counts as -1
  // The system's code (errno, or Windows' last error) of a failed read from the pipe or write
  // to the file, where the copy stopped; 0 when it was whole.
  int copy_error = 0;
};

// The words of a command line separated by blanks or tabs; runs of them make no empty words.
std::vector<std::string> split_command_line(std::string_view commandLine);

// Where a program name is run from: a name with a directory part as given; otherwise a
// program of that name beside the running executable or, on Linux, in ../libexec/kalvex
// from it (our companion programs, built and installed), then the system's search path. On
// Windows the name may leave out ".exe".
std::optional<std::filesystem::path> resolve_program(const std::string& name);
std::optional<std::filesystem::path> resolve_program(const std::string& name,
                                                     const std::filesystem::path& besideDir);

// A directory of our own, that nobody else can write to, under the system's place for
// temporary files, created fresh for each capture, so that nobody else can put a link where
// the capture file is written. Nothing when it cannot be made.
std::optional<std::filesystem::path> make_private_directory();

// A file that a capture writes into, created new: never a file or a link that was there.
// Closed when the object goes.
class CaptureFile {
 public:
  // Nothing when anything of that name exists, a link included, or it cannot be created.
  static std::optional<CaptureFile> create_new(const std::filesystem::path& path);
  CaptureFile(CaptureFile&& other) noexcept;
  CaptureFile& operator=(CaptureFile&& other) noexcept;
  ~CaptureFile();

 private:
  friend CaptureResult run_capturing_output(std::string_view commandLine, CaptureFile& output);
  struct Impl;  // the system's open file; each system's implementation defines it
  explicit CaptureFile(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// Runs the command line (split on blanks, no shell) without a window, with standard input
// and standard error on the null device and standard output into a pipe. The pipe is copied
// to the file in chunks of at most 1024 bytes while the child runs, so a listing bigger than
// the pipe never holds the child up, and the copy ends once the child has ended and nothing
// waits in the pipe, even when a grandchild still holds it open.
CaptureResult run_capturing_output(std::string_view commandLine, CaptureFile& output);

}  // namespace platform
