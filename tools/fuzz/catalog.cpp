// libFuzzer target for the catalog parse: the input is a whole "product.ini". Every entry's
// name must be a name the dialog can build file names from (no delimiter in it, at most one
// line piece long), and its caption must be the name, a colon and a description of one line.
#include <cstdint>
#include <string_view>

#include "tools/fuzz/fuzz_support.h"
#include "ui/product_catalog.h"

namespace {

constexpr std::size_t kLinePieceBytes = 1023;

void check_entry(const CatalogEntry& entry) {
  if (entry.name.size() > kLinePieceBytes) fuzz::fail("a name longer than one line piece");
  if (entry.name.find_first_of(": \t\r\n") != std::string::npos)
    fuzz::fail("a name with a delimiter in it");
  const std::string_view caption = entry.caption;
  if (!caption.starts_with(entry.name) || caption.size() <= entry.name.size() ||
      caption[entry.name.size()] != ':')
    fuzz::fail("a caption that does not start with the name and a colon");
  if (caption.substr(entry.name.size()).find_first_of("\r\n") != std::string_view::npos)
    fuzz::fail("a caption with a line end in it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::InputStream catalog = fuzz::open_input(data, size);
  for (const CatalogEntry& entry : read_catalog(catalog.get())) check_entry(entry);
  return 0;
}
