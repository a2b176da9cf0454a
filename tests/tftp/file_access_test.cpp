// netascii in both directions, with the pair state carried from one block to the next, and
// the reports of what is left over at close.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/tftp/tftp_test_support.h"
#include "tftp/endpoint.h"
#include "tftp/file_access.h"
#include "tftp/tftp_server.h"

using namespace tftp_test;

namespace {

class NetasciiFile : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_captured_errors();
    capture_error_stream();
  }
  void TearDown() override { set_error_stream_sink(nullptr); }

  // Reads the whole file in blocks of blockSize, as the transfer does.
  std::vector<Bytes> read_blocks(const Bytes& content, int blockSize) {
    write_file("in.bin", content);
    std::FILE* stream = file_open("in.bin", "rb", 0);
    EXPECT_NE(stream, nullptr);
    std::vector<Bytes> blocks;
    for (;;) {
      Bytes block(static_cast<std::size_t>(blockSize));
      const int n = file_read(stream, block.data(), blockSize, kNetascii);
      if (n == 0) break;
      block.resize(static_cast<std::size_t>(n));
      blocks.push_back(block);
    }
    file_close(stream);
    return blocks;
  }

  Bytes write_blocks(const std::vector<Bytes>& blocks) {
    std::FILE* stream = file_open("out.bin", "wb", 0);
    EXPECT_NE(stream, nullptr);
    for (const Bytes& block : blocks) {
      file_write(stream, block.data(), static_cast<int>(block.size()), kNetascii);
    }
    file_close(stream);
    return read_file("out.bin");
  }

  ScratchDir m_dir;
};

TEST_F(NetasciiFile, ReadingTurnsLineEndsIntoTelnetPairsAcrossBlocks) {
  struct Case {
    const char* name;
    Bytes file;
    int blockSize;
    std::vector<Bytes> blocks;
  };
  const Case cases[] = {
      {"lf", {'a', '\n', 'b'}, 512, {{'a', '\r', '\n', 'b'}}},
      {"cr", {'a', '\r', 'b'}, 512, {{'a', '\r', 0, 'b'}}},
      {"lf split", {'a', '\n', 'b'}, 2, {{'a', '\r'}, {'\n', 'b'}}},
      {"cr split", {'\r', '\r'}, 3, {{'\r', 0, '\r'}, {0}}},
      {"pair fills the block", {'\n'}, 2, {{'\r', '\n'}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_blocks(c.file, c.blockSize), c.blocks);
    EXPECT_EQ(captured_errors(), "");
  }
}

TEST_F(NetasciiFile, ClosingBetweenTheBytesOfAPairIsReported) {
  write_file("in.bin", {'\n'});
  std::FILE* stream = file_open("in.bin", "rb", 0);
  std::uint8_t byte = 0;
  ASSERT_EQ(file_read(stream, &byte, 1, kNetascii), 1);
  file_close(stream);
  EXPECT_EQ(captured_errors(), "nextchar >= 0");
}

TEST_F(NetasciiFile, WritingUndoesTelnetPairsAcrossBlocks) {
  struct Case {
    const char* name;
    std::vector<Bytes> blocks;
    Bytes file;
    std::string errors;
  };
  const Case cases[] = {
      {"cr lf", {{'a', '\r', '\n', 'b'}}, {'a', '\n', 'b'}, ""},
      {"cr nul", {{'a', '\r', 0, 'b'}}, {'a', '\r', 'b'}, ""},
      {"cr split", {{'a', '\r'}, {'\n', 'b'}}, {'a', '\n', 'b'}, ""},
      {"cr x", {{'\r', 'x'}}, {'x'}, "CR followed by 0x78"},
      {"cr high byte", {{'\r', 0x80}}, {0x80}, "CR followed by 0xffffff80"},
      {"final cr", {{'a', '\r'}}, {'a'}, "final character was a CR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_captured_errors();
    EXPECT_EQ(write_blocks(c.blocks), c.file);
    EXPECT_EQ(captured_errors(), c.errors);
  }
}

TEST_F(NetasciiFile, UnknownModeMovesNoBytes) {
  write_file("in.bin", {'a'});
  std::FILE* stream = file_open("in.bin", "rb", 0);
  std::uint8_t byte = 0;
  EXPECT_EQ(file_read(stream, &byte, 1, 7), 0);
  file_close(stream);
  EXPECT_EQ(captured_errors(), "unknown MODE value");
}

}  // namespace
