// What every system's capture shares: the command line's words.
#include "platform/capture.h"

namespace platform {

std::vector<std::string> split_command_line(std::string_view commandLine) {
  std::vector<std::string> words;
  std::size_t position = 0;
  while (position < commandLine.size()) {
    std::size_t start = commandLine.find_first_not_of(" \t", position);
    if (start == std::string_view::npos) break;
    std::size_t end = commandLine.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = commandLine.size();
    words.emplace_back(commandLine.substr(start, end - start));
    position = end;
  }
  return words;
}

}  // namespace platform
