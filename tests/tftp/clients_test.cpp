// Real TFTP clients (curl, tftp-hpa's tftp, atftp) against the real server on loopback: what
// a user or a board would notice, byte for byte, with and without options, and the count the
// progress bar is drawn from.
#include <algorithm>
#include <filesystem>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "tests/support/eventually.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

class TftpRealClients : public TftpServerTest {
 protected:
  void SetUp() override {
    if (!clients_installed()) GTEST_SKIP() << "curl, tftp-hpa's tftp and atftp are needed";
  }
  std::string curl(const std::string& arguments) const {
    return "curl -sS --max-time 60 " + arguments + " tftp://127.0.0.1:" + std::to_string(m_port) +
           "/flash.bin";
  }
  std::string tftp(const std::string& mode, const std::string& command) const {
    return "tftp -m " + mode + " 127.0.0.1 " + std::to_string(m_port) + " -c " + command;
  }
  std::string atftp(const std::string& options) const {
    return "atftp " + options + " -g -r flash.bin -l got.bin 127.0.0.1 " + std::to_string(m_port);
  }
  // One run of the server for one download; returns the client's exit status.
  int serve(const std::string& client) {
    start_server();
    const int status = run_client(client);
    wait_until_served();
    stop_server();
    return status;
  }
};

TEST_F(TftpRealClients, DownloadsAreByteExactAndCountedInBytesSent) {
  const std::string clients[] = {
      curl("--tftp-no-options -o got.bin"),
      tftp("octet", "get flash.bin got.bin"),
      curl("--tftp-blksize 1468 -o got.bin"),
      atftp("--option 'blksize 1468' --option 'windowsize 16'"),
  };
  // Around the edges of both block sizes; the last size takes 65 636 blocks of 512 bytes, so
  // the block number wraps after 65535.
  for (const std::size_t size : {0u, 512u, 1467u, 1468u, 1469u, 65536u * 512u + 100u}) {
    SCOPED_TRACE("image of " + std::to_string(size) + " bytes");
    const std::string image = pattern(size);
    write_file(kImageFileName, image);
    for (const std::string& client : clients) {
      SCOPED_TRACE(client);
      std::filesystem::remove("got.bin");
      EXPECT_EQ(serve(client), 0);
      EXPECT_TRUE(read_file("got.bin") == image);
      EXPECT_EQ(flash_state().bytesSent.exchange(0), static_cast<int>(size));
    }
  }
  EXPECT_EQ(m_log.tftp_text(), "");
}

TEST_F(TftpRealClients, NetasciiLineEndsSurviveBothDirectionsAcrossABlockBoundary) {
  // The CR at byte 512 goes on the wire as a CR that ends block 1 and a NUL that opens block 2.
  const std::string text = std::string(511, 'x') + "\rline\r\nbare cr\r end\n";
  write_file(kImageFileName, text);
  serve(tftp("netascii", "get flash.bin got.txt"));
  EXPECT_EQ(read_file("got.txt"), text);
  const auto lineEnds = std::ranges::count(text, '\n') + std::ranges::count(text, '\r');
  EXPECT_EQ(flash_state().bytesSent.load(), static_cast<int>(text.size() + lineEnds));

  write_file(kImageFileName, "stale");
  start_server();
  run_client(tftp("netascii", "put got.txt flash.bin"));
  EXPECT_EQ(read_file(kImageFileName), text);
  EXPECT_EQ(m_log.tftp_text(), "");
}

TEST_F(TftpRealClients, UploadReplacesTheImageExactlyAndSendsNothing) {
  const std::string image = pattern(5000);
  write_file("upload.bin", image);
  start_server();
  for (const char* options : {"--tftp-no-options", "--tftp-blksize 1468"}) {
    SCOPED_TRACE(options);
    write_file(kImageFileName, "stale");
    // The request port listens again after each upload.
    eventually([this] { return udp_port_bound(m_port); }, "the request port to listen");
    EXPECT_EQ(run_client(curl(std::string(options) + " -T upload.bin")), 0);
    EXPECT_EQ(read_file(kImageFileName), image);
  }
  EXPECT_EQ(flash_state().bytesSent.load(), 0);
}

}  // namespace
}  // namespace kalvex::testing
