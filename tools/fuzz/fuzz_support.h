// What the fuzz targets share: a private working directory for the files a target reads and
// writes, the servers' diagnostics kept quiet, fatal_box turned into an unwind back to the
// target, and an input read as a stream. Each target is one file of this folder defining
// LLVMFuzzerTestOneInput; replay_main.cpp feeds a corpus to it without libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace fuzz {

// A directory of its own made with mkdtemp (in /dev/shm where it can be), entered as the current
// directory for the rest of the process and removed with its contents when the process exits. Made
// on the first call.
const std::filesystem::path& enter_scratch_directory();

// The diagnostics channel drops everything: a target runs millions of inputs, and the
// formatting still runs, which is what matters.
void silence_diagnostics();

// Thrown by the fatal box hook that unwind_fatal_box installs: the code under test asked to
// end the process, and the target ends the input there instead.
struct FatalBoxRaised {};
void unwind_fatal_box();

// fail() ends the run with a finding when a target's own check fails; the message says which.
[[noreturn]] void fail(const char* what);

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using InputStream = std::unique_ptr<std::FILE, FileCloser>;
// The input as a read-only stream over its bytes (an empty input reads as an empty stream).
InputStream open_input(const std::uint8_t* data, std::size_t size);

// Writes the bytes to the file, replacing it; false when it could not be written.
bool write_file(const std::filesystem::path& path, const void* data, std::size_t size);

}  // namespace fuzz
