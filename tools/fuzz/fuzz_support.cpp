// The shared pieces of the fuzz targets, over the system's own calls: tools/ may use them.
#include "tools/fuzz/fuzz_support.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "core/diagnostics.h"
#include "core/fatal_box.h"

namespace fuzz {

namespace {

std::filesystem::path g_scratch;

void remove_scratch() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(g_scratch, ignored);
}

// A file system in memory where there is one: the targets rewrite a file for every input, and
// a disk file system flushes a file truncated and written again (ext4) at each close.
std::filesystem::path scratch_parent() {
  std::filesystem::path memory = "/dev/shm";
  if (::access(memory.c_str(), W_OK | X_OK) == 0) return memory;
  return std::filesystem::temp_directory_path();
}

void raise_fatal_box(const std::string&) {
  throw FatalBoxRaised{};
}

}  // namespace

const std::filesystem::path& enter_scratch_directory() {
  if (!g_scratch.empty()) return g_scratch;
  std::string name = (scratch_parent() / "kalvex-fuzz-XXXXXX").string();
  if (::mkdtemp(name.data()) == nullptr) fail("mkdtemp failed");
  g_scratch = name;
  std::filesystem::current_path(g_scratch);
  std::atexit(remove_scratch);
  return g_scratch;
}

void silence_diagnostics() {
  set_diagnostic_sink([](DiagnosticSource, int, std::string_view) {});
}

void unwind_fatal_box() {
  install_fatal_box_hook(raise_fatal_box);
}

void fail(const char* what) {
  std::fprintf(stderr, "fuzz target check failed: %s\n", what);
  std::abort();
}

InputStream open_input(const std::uint8_t* data, std::size_t size) {
  // fmemopen refuses a buffer of no bytes; a stream over one byte with none readable is empty.
  static char empty[1] = {};
  std::FILE* stream = size == 0 ? ::fmemopen(empty, 1, "r")
                                : ::fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (stream == nullptr) fail("fmemopen failed");
  if (size == 0) std::fseek(stream, 0, SEEK_END);
  return InputStream(stream);
}

bool write_file(const std::filesystem::path& path, const void* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(file.flush());
}

}  // namespace fuzz
