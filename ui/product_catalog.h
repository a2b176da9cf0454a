// The product catalog "product.ini": one product per line, a name and a description. Lines
// are read in pieces of at most 1023 characters, so a longer line makes more than one entry;
// blank lines are entries too, with an empty name. No header, comments or escapes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct CatalogEntry {
  std::string name;     // the image is name + ".bin", the picture name + ".bmp"
  std::string caption;  // name, ":", description
};

// The name is the first token delimited by ": \t\r\n" (the one delimiter after it is
// consumed); the description is the rest up to the line end, leading line ends skipped.
CatalogEntry split_catalog_line(std::string_view line);

// Every entry of an open catalog, in file order.
std::vector<CatalogEntry> read_catalog(std::FILE* catalog);
