// The product catalog: how a line splits into name and caption, and how lines of any length
// become entries (and so option numbers).
#include "ui/product_catalog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct SplitCase {
  const char* line;
  const char* name;
  const char* caption;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
  *out << '"' << c.line << '"';
}

class CatalogLineSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(CatalogLineSplit, GivesNameAndCaption) {
  const SplitCase& c = GetParam();
  SCOPED_TRACE(c.line);
  CatalogEntry entry = split_catalog_line(c.line);
  EXPECT_EQ(entry.name, c.name);
  EXPECT_EQ(entry.caption, c.caption);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CatalogLineSplit,
    testing::Values(SplitCase{"X10: first board\n", "X10", "X10: first board"},
                    SplitCase{"X10 first board\n", "X10", "X10:first board"},
                    SplitCase{"X10 : first board\n", "X10", "X10:: first board"},
                    SplitCase{"X10\n", "X10", "X10:"}, SplitCase{"X10", "X10", "X10:"},
                    SplitCase{"\n", "", ":"}, SplitCase{"", "", ":"},
                    SplitCase{" \t::X10:\tdual band\r\n", "X10", "X10:\tdual band"},
                    SplitCase{"X10:\r\n\r\nrest", "X10", "X10:rest"},
                    SplitCase{"X10\tsecond: board \n", "X10", "X10:second: board "}));

class CatalogFile : public testing::Test {
 protected:
  std::vector<CatalogEntry> read(const std::string& contents) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return {};
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::rewind(file);
    std::vector<CatalogEntry> entries = read_catalog(file);
    std::fclose(file);
    return entries;
  }
};

TEST_F(CatalogFile, EveryLineIsAnEntryBlankOnesAndTheUnterminatedLastOneIncluded) {
  std::vector<CatalogEntry> entries = read("A1: one\n\nB2 two\nC3: three");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].caption, "A1: one");
  EXPECT_EQ(entries[1].name, "");
  EXPECT_EQ(entries[1].caption, ":");
  EXPECT_EQ(entries[2].caption, "B2:two");
  EXPECT_EQ(entries[3].caption, "C3: three");
}

// A line is read at most 1023 characters at a time (its line feed included), so longer ones
// become several entries and shift the option numbers of everything after them.
TEST_F(CatalogFile, LongLinesSplitEvery1023Characters) {
  struct LongLine {
    std::size_t length;
    std::size_t entries;
  };
  for (const LongLine& c : {LongLine{1022, 1}, LongLine{1023, 2}, LongLine{1024, 2},
                            LongLine{2045, 2}, LongLine{2046, 3}}) {
    SCOPED_TRACE("line of " + std::to_string(c.length));
    const std::string longName(c.length, 'N');
    std::vector<CatalogEntry> entries = read(longName + "\nX10: after\n");
    ASSERT_EQ(entries.size(), c.entries + 1);
    EXPECT_EQ(entries.front().name, longName.substr(0, 1023));
    EXPECT_EQ(entries.back().name, "X10");  // option number c.entries + 1
    if (c.length == 1023) {
      EXPECT_EQ(entries[1].name, "");  // the continuation is only the line end
    }
    if (c.length == 1024) {
      EXPECT_EQ(entries[1].name, "N");
    }
  }
}

}  // namespace
