// Requests the server refuses: each is answered with one ERROR and the process then ends
// with status 0. The server runs in a forked child so that its exit can be observed.
#include <sys/stat.h>
#include <string>

#include <gtest/gtest.h>

#include "tests/tftp/tftp_test_support.h"
#include "tftp/transfer.h"

using namespace tftp_test;

namespace {

struct Refusal {
  const char* name;
  Bytes request;
  int code;
  std::string message;
  std::string errors;  // what the server writes to its error stream
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.name;
}

Bytes unterminated_rrq() {
  Bytes packet = rrq("flash.bin", "octet");
  packet.resize(2 + 9);  // the name's NUL and the mode cut off
  return packet;
}

Bytes long_name_rrq() {
  return rrq(std::string(300, 'f'), "octet");
}

class TftpRefusal : public ::testing::TestWithParam<Refusal> {
 protected:
  void SetUp() override {
    write_file("flash.bin", pattern_bytes(100));
    // Stands in for a file system that ignores case, where the name's status is found.
    write_file("FLASH.BIN", pattern_bytes(100));
    write_file("other.bin", pattern_bytes(100));
    write_file("private.bin", pattern_bytes(100), 0640);
  }
  ScratchDir m_dir;
};

TEST_P(TftpRefusal, AnswersOneErrorThenEndsTheProcessWithStatusZero) {
  const Refusal& refusal = GetParam();
  const std::uint16_t port = free_loopback_port();
  ChildServer server(port);
  ASSERT_TRUE(wait_until_bound(port));
  Peer peer;
  peer.send_to_port(port, refusal.request);

  const Bytes reply = peer.receive().value_or(Bytes{});
  Bytes expected = error_packet(refusal.code, refusal.message);
  EXPECT_EQ(reply, expected) << hex(reply);
  const ChildResult result = server.wait();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.errors, refusal.errors);
}

const std::string kDenied = "Permission denied, please restart server!";

INSTANTIATE_TEST_SUITE_P(
    Requests, TftpRefusal,
    ::testing::Values(Refusal{"name_differs_in_case", rrq("FLASH.BIN", "octet"), 2, kDenied, ""},
                      Refusal{"other_existing_file", rrq("other.bin", "octet"), 2, kDenied, ""},
                      Refusal{"missing_file", rrq("missing.bin", "octet"), 2, "File cannot be read",
                              ""},
                      Refusal{"no_world_read", rrq("private.bin", "octet"), 2,
                              "File doesn't allow world read permission", ""},
                      Refusal{"mail_mode_before_any_file_check", rrq("missing.bin", "mail"), 4,
                              "Mode isn't netascii or octet", ""},
                      Refusal{"write_of_another_name", wrq("other.bin", "octet"), 2, kDenied, ""},
                      Refusal{"unterminated_name", unterminated_rrq(), 4,
                              "Mode isn't netascii or octet", "Invalid filenameInvalid Mode"},
                      Refusal{"name_of_300_bytes", long_name_rrq(), 2, "File cannot be read", ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TftpRefusalWrite, UnwritableImageIsAnsweredWithError1) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir("flash.bin", 0755), 0);
  const std::uint16_t port = free_loopback_port();
  ChildServer server(port);
  ASSERT_TRUE(wait_until_bound(port));
  Peer peer;
  peer.send_to_port(port, wrq("flash.bin", "octet"));
  EXPECT_EQ(peer.receive().value_or(Bytes{}), error_packet(1, "File cannot be read"));
  EXPECT_EQ(server.wait().exitCode, 0);
}

}  // namespace
