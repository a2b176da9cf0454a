// Reading product.ini: one entry per line read (at most 1023 characters at a time), split
// into the product name and the description that make the radio button's caption.
#include "ui/product_catalog.h"

#include <cstring>

namespace {

constexpr std::size_t kLineBufferBytes = 1024;
constexpr std::string_view kNameDelimiters = ": \t\r\n";
constexpr std::string_view kLineEnds = "\r\n";

}  // namespace

CatalogEntry split_catalog_line(std::string_view line) {
  std::string_view rest;
  std::string_view name;
  const std::size_t nameStart = line.find_first_not_of(kNameDelimiters);
  if (nameStart != std::string_view::npos) {
    const std::size_t nameEnd = line.find_first_of(kNameDelimiters, nameStart);
    name =
        line.substr(nameStart, nameEnd == std::string_view::npos ? nameEnd : nameEnd - nameStart);
    // The delimiter that ended the name is consumed; a colon or blank after it stays.
    if (nameEnd != std::string_view::npos) rest = line.substr(nameEnd + 1);
  }
  std::string_view description;
  const std::size_t descriptionStart = rest.find_first_not_of(kLineEnds);
  if (descriptionStart != std::string_view::npos) {
    const std::size_t descriptionEnd = rest.find_first_of(kLineEnds, descriptionStart);
    description = rest.substr(descriptionStart, descriptionEnd == std::string_view::npos
                                                    ? descriptionEnd
                                                    : descriptionEnd - descriptionStart);
  }
  CatalogEntry entry;
  entry.name = name;
  entry.caption = std::string(name) + ":" + std::string(description);
  return entry;
}

std::vector<CatalogEntry> read_catalog(std::FILE* catalog) {
  std::vector<CatalogEntry> entries;
  char line[kLineBufferBytes];
  while (std::fgets(line, sizeof line, catalog) != nullptr)
    entries.push_back(split_catalog_line(std::string_view(line, std::strlen(line))));
  return entries;
}
