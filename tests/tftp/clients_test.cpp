// Real TFTP clients (curl and tftp-hpa's tftp) against the real server on loopback: what a
// user or a board would notice, byte for byte.
#include <algorithm>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "core/flash_state.h"
#include "tests/tftp/tftp_test_support.h"

using namespace tftp_test;

namespace {

class TftpRealClients : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    if (!program_exists("curl") || !program_exists("tftp")) {
      GTEST_SKIP() << "curl and tftp-hpa's tftp are needed (scripts/install-deps.sh)";
    }
  }
  std::string url() const { return "tftp://127.0.0.1:" + std::to_string(port()) + "/flash.bin"; }
  std::string port_text() const { return std::to_string(port()); }

  int curl_get(const std::string& out) {
    return run_program({"curl", "-sS", "--tftp-no-options", "-o", out, url()});
  }
  int tftp_command(const std::string& mode, const std::vector<std::string>& command) {
    std::vector<std::string> argv{"tftp", "-m", mode, "127.0.0.1", port_text(), "-c"};
    argv.insert(argv.end(), command.begin(), command.end());
    return run_program(argv);
  }
  void serve_one(const std::function<void()>& client) {
    start_server();
    client();
    stop_server();
  }
};

TEST_F(TftpRealClients, DownloadsAreByteExactForEverySizeShape) {
  const std::size_t sizes[] = {0, 1, 511, 512, 513, 1000, 1024, 3 * 1024 * 1024 + 77};
  for (const std::size_t size : sizes) {
    SCOPED_TRACE("image of " + std::to_string(size) + " bytes");
    const Bytes image = pattern_bytes(size);
    write_file("flash.bin", image);

    serve_one([&] { EXPECT_EQ(curl_get("by-curl.bin"), 0); });
    EXPECT_EQ(read_file("by-curl.bin"), image);
    EXPECT_EQ(flash_state().bytesSent.exchange(0), static_cast<int>(size));

    serve_one([&] { tftp_command("octet", {"get", "flash.bin", "by-tftp.bin"}); });
    EXPECT_EQ(read_file("by-tftp.bin"), image);
    EXPECT_EQ(flash_state().bytesSent.exchange(0), static_cast<int>(size));
  }
  EXPECT_EQ(captured_errors(), "");
}

TEST_F(TftpRealClients, NetasciiDownloadTranslatesEveryLineEnd) {
  // LF and CR everywhere, with a pair straddling the first block boundary.
  Bytes text(511, 'x');
  for (int i = 0; i < 900; ++i) text.push_back(i % 3 == 0 ? '\n' : i % 3 == 1 ? '\r' : 'k');
  write_file("flash.bin", text);
  serve_one([&] { tftp_command("netascii", {"get", "flash.bin", "ascii.txt"}); });
  EXPECT_EQ(read_file("ascii.txt"), text);
  const auto lineEnds = std::count_if(text.begin(), text.end(),
                                      [](std::uint8_t c) { return c == '\n' || c == '\r'; });
  EXPECT_EQ(flash_state().bytesSent.load(), static_cast<int>(text.size() + lineEnds));
}

TEST_F(TftpRealClients, UploadsWriteTheFileExactly) {
  const Bytes image = pattern_bytes(5000);
  Bytes text;
  for (int i = 0; i < 1500; ++i) text.push_back(i % 4 == 0 ? '\n' : i % 4 == 1 ? '\r' : 'p');
  write_file("upload.bin", image);
  write_file("upload.txt", text);

  serve_one([&] {
    EXPECT_EQ(run_program({"curl", "-sS", "--tftp-no-options", "-T", "upload.bin", url()}), 0);
  });
  EXPECT_EQ(read_file("flash.bin"), image);

  serve_one([&] { tftp_command("octet", {"put", "upload.txt", "flash.bin"}); });
  EXPECT_EQ(read_file("flash.bin"), text);

  serve_one([&] { tftp_command("netascii", {"put", "upload.txt", "flash.bin"}); });
  EXPECT_EQ(read_file("flash.bin"), text);
  EXPECT_EQ(flash_state().bytesSent.load(), 0);
  EXPECT_EQ(captured_errors(), "");
}

TEST_F(TftpRealClients, ImagesPastBlock65535WrapTheBlockNumberAndFinish) {
  const Bytes image = pattern_bytes(65536u * 512u + 100u);
  write_file("flash.bin", image);
  serve_one([&] { EXPECT_EQ(curl_get("wrapped.bin"), 0); });
  EXPECT_TRUE(read_file("wrapped.bin") == image);
  EXPECT_EQ(flash_state().bytesSent.load(), static_cast<int>(image.size()));
  EXPECT_EQ(captured_errors(), "");
}

}  // namespace
