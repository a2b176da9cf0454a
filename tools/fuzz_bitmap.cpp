// libFuzzer harness for the bitmap reader; not part of the build. Run with clang:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     tools/fuzz_bitmap.cpp platform/ui/bitmap.cpp -o /tmp/fuzz_bitmap && /tmp/fuzz_bitmap
// A decoded picture must hold exactly width x height pixels.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/ui/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<ui::Bitmap> bitmap = ui::decode_bitmap(std::span<const std::uint8_t>(data, size));
  if (bitmap && bitmap->pixels.size() != static_cast<std::size_t>(bitmap->width) *
                                             static_cast<std::size_t>(bitmap->height))
    std::abort();
  return 0;
}
