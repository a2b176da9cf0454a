// Replays corpora without libFuzzer, so that the ordinary builds (g++, the sanitizer builds)
// run every fuzz target over its seeds and regression inputs in CTest: each file named, or
// each file of each directory named, is fed once to LLVMFuzzerTestOneInput in name order.
// A check that fails aborts, as it would under libFuzzer; the exit status is 0 otherwise.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& argument) {
  std::vector<std::filesystem::path> inputs;
  if (!std::filesystem::is_directory(argument)) return {argument};
  for (const auto& item : std::filesystem::directory_iterator(argument))
    if (item.is_regular_file()) inputs.push_back(item.path());
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    // Absolute before a target changes the working directory.
    for (const auto& input : inputs_of(std::filesystem::absolute(argv[i]))) inputs.push_back(input);
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...: no inputs found\n", argv[0]);
    return 2;
  }
  for (const auto& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    if (!file.eof() && file.fail()) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 2;
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
