// Requests the server refuses: each is answered with one ERROR, and then the program ends
// with status 1 after saying why, with the file, mode and client of the request. The server
// runs in a death test's child, which shares the test's client socket, so that the ERROR is
// read after the exit.
#include <filesystem>
#include <thread>

#include "core/file_names.h"
#include "tests/support/eventually.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

struct Refusal {
  const char* name;
  Bytes request;
  int code;
  std::string message;
  int imageMode = 0;  // flash.bin's permission bits; 0: there is none
};

// In the child: the server on this thread, the request sent once the server listens.
void serve_until_refused(Peer& peer, std::uint16_t port, const Bytes& request) {
  platform::StopSource stop;
  std::thread([&] {
    if (eventually([&] { return udp_port_bound(port); }, "the server")) peer.send_to(port, request);
    // Reached only when the server fails to end the process: the test then fails, not hangs.
    std::this_thread::sleep_for(kPatience);
    stop.request_stop();
  }).detach();
  tftp_server(stop.token());
}

class TftpRefusal : public ::testing::TestWithParam<Refusal> {
 protected:
  void SetUp() override {
    write_file("FLASH.BIN", "as a file system that ignores case would find it");
    write_file("other.bin", "x");
  }
  ScratchDir m_dir;
};

TEST_P(TftpRefusal, AnswersOneErrorThenEndsTheProgramSayingWhy) {
  const Refusal& refusal = GetParam();
  if (refusal.imageMode != 0)
    write_file(kImageFileName, "x", std::filesystem::perms(refusal.imageMode));
  Peer peer;
  const std::uint16_t port = free_loopback_port();
  serve_on_loopback(port);
  // The name and mode as the request had them, and the client's address.
  const std::string why = "The board's TFTP request was refused: " + refusal.message +
                          "\n\\(file \"[^\"]*\", mode \"[a-z]+\", from 127.0.0.1\\)\n";
  EXPECT_EXIT(serve_until_refused(peer, port, refusal.request), ::testing::ExitedWithCode(1),
              why + why);  // logged, then the box's text
  EXPECT_EQ(peer.receive(), error_packet(refusal.code, refusal.message));
}

const std::string kDenied = "Permission denied, please restart server!";

// A name other than flash.bin is refused before any file is looked at: existing or not, it
// gets the same answer.
INSTANTIATE_TEST_SUITE_P(
    Requests, TftpRefusal,
    ::testing::Values(Refusal{"name_differs_in_case", rrq("FLASH.BIN", "octet"), 2, kDenied},
                      Refusal{"other_existing_file", rrq("other.bin", "octet"), 2, kDenied},
                      Refusal{"other_missing_file", rrq("missing.bin", "octet"), 2, kDenied},
                      Refusal{"missing_image", rrq(kImageFileName, "octet"), 2,
                              "File cannot be read"},
                      Refusal{"image_not_world_readable", rrq(kImageFileName, "octet"), 2,
                              "File doesn't allow world read permission", 0640},
                      Refusal{"mail_mode_before_any_name_check", rrq("other.bin", "mail"), 4,
                              "Mode isn't netascii or octet"},
                      Refusal{"write_of_another_name", wrq("other.bin", "octet"), 2, kDenied}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TftpRequestPort, TakenByAnotherProgramEndsTheProgramSayingSo) {
  const Peer holder;
  serve_on_loopback(holder.port());
  EXPECT_EXIT(tftp_server(platform::StopSource().token()), ::testing::ExitedWithCode(1),
              "net_init: can't bind local address\nTftp port is not available, some other "
              "application is using it.\nPlease stop it and try again.");
  tftp_config() = TftpConfig{};
}

}  // namespace
}  // namespace kalvex::testing
