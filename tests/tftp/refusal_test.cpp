// Requests the server refuses: each is answered with one ERROR, and then the process ends
// with status 0 and nothing more on its error stream. The server runs in a death test's
// child, which shares the test's client socket, so that the ERROR is read after the exit.
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
  std::string errorStream = "^$";  // a regular expression over the child's whole error stream
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.name;
}

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
    std::filesystem::create_directory(kImageFileName);  // cannot be opened for writing
    write_file("FLASH.BIN", "as a file system that ignores case would find it");
    write_file("other.bin", "x");
    write_file("private.bin", "x", std::filesystem::perms(0640));
  }
  ScratchDir m_dir;
};

TEST_P(TftpRefusal, AnswersOneErrorThenEndsTheProcessWithStatusZero) {
  const Refusal& refusal = GetParam();
  Peer peer;
  const std::uint16_t port = free_loopback_port();
  serve_on_loopback(port);
  EXPECT_EXIT(serve_until_refused(peer, port, refusal.request), ::testing::ExitedWithCode(0),
              refusal.errorStream);
  EXPECT_EQ(peer.receive(), error_packet(refusal.code, refusal.message));
}

const std::string kDenied = "Permission denied, please restart server!";
const std::string kCannotRead = "File cannot be read";

INSTANTIATE_TEST_SUITE_P(
    Requests, TftpRefusal,
    ::testing::Values(
        Refusal{"name_differs_in_case", rrq("FLASH.BIN", "octet"), 2, kDenied},
        Refusal{"other_existing_file", rrq("other.bin", "octet"), 2, kDenied},
        Refusal{"missing_file", rrq("missing.bin", "octet"), 2, kCannotRead},
        Refusal{"no_world_read", rrq("private.bin", "octet"), 2,
                "File doesn't allow world read permission"},
        Refusal{"mail_mode_before_any_file_check", rrq("missing.bin", "mail"), 4,
                "Mode isn't netascii or octet"},
        Refusal{"write_of_another_name", wrq("other.bin", "octet"), 2, kDenied},
        Refusal{"write_into_an_unwritable_image", wrq(kImageFileName, "octet"), 1, kCannotRead},
        Refusal{"unterminated_name", Bytes{0, 1, 'f', 'l', 'a', 's', 'h', '.', 'b', 'i', 'n'}, 4,
                "Mode isn't netascii or octet", "^Invalid filenameInvalid Mode$"},
        Refusal{"name_of_300_bytes", rrq(std::string(300, 'f'), "octet"), 2, kCannotRead}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kalvex::testing
