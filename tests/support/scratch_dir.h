// A fresh private directory that is the current directory while the object lives: Kalvex
// reads and writes its files relative to the current directory, so every test gets its own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kalvex::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_previous;
  std::filesystem::path m_path;
};

// Writes the bytes into a file (replacing it) with the given permission bits.
void write_file(const std::filesystem::path& path, std::string_view content,
                std::filesystem::perms mode = std::filesystem::perms(0644));
std::string read_file(const std::filesystem::path& path);

}  // namespace kalvex::testing
