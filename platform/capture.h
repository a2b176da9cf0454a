// Running a command as a child process with its standard output caught through a pipe into
// a file, and the private place where such a capture file lives. What the capture means and
// which messages a failure shows are the caller's; this layer only reports which step failed.
#pragma once

#include <cstdint>
#include <filesystem>
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
  int copy_error = 0;  // errno of a failed read from the pipe (the copy stopped there), or 0
};

// The words of a command line separated by blanks or tabs; runs of them make no empty words.
std::vector<std::string> split_command_line(std::string_view commandLine);

// Where a program name is run from: a name with a slash as given; otherwise a program of
// that name beside the running executable or in ../libexec/kalvex from it (our companion
// programs, built and installed), then the PATH.
std::optional<std::filesystem::path> resolve_program(const std::string& name);
std::optional<std::filesystem::path> resolve_program(const std::string& name,
                                                     const std::filesystem::path& besideDir);

// Runs the command line (split on blanks, no shell) with standard input and standard error
// on /dev/null and standard output into a pipe. The pipe is copied to outputFd in chunks
// of at most 1024 bytes while the child runs, so a listing bigger than the pipe never holds
// the child up, and the copy ends once the child has ended and nothing waits in the pipe.
CaptureResult run_capturing_output(std::string_view commandLine, int outputFd);

// A directory of our own (mode 0700) under $TMPDIR or /tmp, created fresh for each capture,
// so that nobody else can put a link where the capture file is written.
std::optional<std::filesystem::path> make_private_directory();
// Creates the file for writing; fails if anything of that name exists, a link included.
// Returns the descriptor or -1.
int create_new_file(const std::filesystem::path& path);
void close_file(int fd);

}  // namespace platform
