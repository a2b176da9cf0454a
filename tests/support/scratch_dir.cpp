#include "tests/support/scratch_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace kalvex::testing {

ScratchDir::ScratchDir() : m_previous(std::filesystem::current_path()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kalvex-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
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
