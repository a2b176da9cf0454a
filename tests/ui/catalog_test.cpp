// The product catalog: how a line splits into name and caption, and how lines of any length
// become entries (and so option numbers).
#include "ui/product_catalog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(CatalogLine, SplitsIntoTheNameAndTheCaption) {
  struct Case {
    const char* line;
    const char* name;
    const char* caption;
  };
  const Case cases[] = {
      {"X10: first board\n", "X10", "X10: first board"},
      {"X10 first board\n", "X10", "X10:first board"},
      {"X10 : first board\n", "X10", "X10:: first board"},
      {"X10", "X10", "X10:"},
      {"\n", "", ":"},
      {" \t::X10:\tdual band\r\n", "X10", "X10:\tdual band"},
      {"X10:\r\n\r\nrest", "X10", "X10:rest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CatalogEntry entry = split_catalog_line(c.line);
    EXPECT_EQ(entry.name, c.name);
    EXPECT_EQ(entry.caption, c.caption);
  }
}

// One read takes at most 1023 characters, its line feed included, so a longer line makes
// several entries and shifts the option numbers of everything after it.
TEST(CatalogFile, EveryPieceOfALineIsAnEntryBlankAndUnterminatedLinesToo) {
  for (const auto& [length, pieces] : {std::pair{1022, 1}, {1023, 2}, {2045, 2}, {2046, 3}}) {
    SCOPED_TRACE(length);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::string contents = std::string(std::size_t(length), 'N') + "\n\nX10: last";
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::rewind(file);
    const std::vector<CatalogEntry> entries = read_catalog(file);
    std::fclose(file);
    ASSERT_EQ(entries.size(), std::size_t(pieces) + 2);
    EXPECT_EQ(entries[0].name, std::string(std::min(length, 1023), 'N'));
    EXPECT_EQ(entries[std::size_t(pieces)].caption, ":");
    EXPECT_EQ(entries.back().caption, "X10: last");
  }
}

}  // namespace
