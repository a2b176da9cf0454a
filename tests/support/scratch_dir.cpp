#include "tests/support/scratch_dir.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace kalvex::testing {

namespace {

// A directory of a name that nothing had, for its owner only where the system has such bits.
std::filesystem::path make_fresh_directory() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "kalvex-test-%08x", static_cast<unsigned>(random()));
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    if (!std::filesystem::create_directory(path)) continue;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  throw std::runtime_error("cannot make a scratch directory");
}

}  // namespace

ScratchDir::ScratchDir()
    : m_previous(std::filesystem::current_path()), m_path(make_fresh_directory()) {
  std::filesystem::current_path(m_path);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::current_path(m_previous, ignored);
  std::filesystem::remove_all(m_path, ignored);
}

void write_file(const std::filesystem::path& path, std::string_view content,
                std::filesystem::perms mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  std::filesystem::permissions(path, mode);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace kalvex::testing
