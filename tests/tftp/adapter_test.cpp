// The confirmed adapter, in a network namespace of the test's own: a datagram that comes in
// on another interface goes unanswered, before and during the transfer, and the block size
// a client asks for is cut to what the adapter carries in one datagram.
#include "core/file_names.h"
#include "core/flash_state.h"
#include "tests/support/network_namespace.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

// kvx0's address (the adapter the user confirmed) and kvx1's. Datagrams sent to an address of
// this machine come in on the interface that holds it.
const std::uint32_t kAdapter_net = platform::inet_addr("192.168.77.10");
const std::uint32_t kOther_net = platform::inet_addr("192.168.0.1");

class TftpConfirmedAdapter : public TftpServerTest {
 protected:
  void SetUp() override {
    if (!m_namespace.entered()) GTEST_SKIP() << m_namespace.why_not();
    flash_state().serverAddress = kAdapter_net;
    tftp_config().bindAddress_net = platform::kInaddrAny;  // every interface, as the product
    write_file(kImageFileName, m_image);
    start_server();
  }
  // The loopback tests that run after these in the same process serve every adapter.
  void TearDown() override { flash_state().serverAddress = 0; }
  ThreadNetworkNamespace m_namespace{std::string(kVethPair) +
                                     " && ip link set lo up && ip link set kvx0 mtu 1000"};
  const std::string m_image = pattern(2000);
};

TEST_F(TftpConfirmedAdapter, AnswersOnlyItsOwnInterfaceWithBlocksThatFitItsMtu) {
  Peer board(platform::kInaddrAny, kAdapter_net);
  Peer elsewhere(platform::kInaddrAny, kOther_net);
  elsewhere.send_to(m_port, rrq(kImageFileName, "octet"));
  board.send_to(m_port, with_options(rrq(kImageFileName, "octet"), {"blksize", "1468"}));
  EXPECT_EQ(board.receive(), with_options({0, 6}, {"blksize", "968"}));  // 1000 - 28 - 4
  elsewhere.send_to(board.transfer_port(), ack(0));
  board.send(ack(0));
  EXPECT_EQ(board.receive(), data(1, m_image.substr(0, 968)));
  EXPECT_FALSE(elsewhere.pending());
  EXPECT_EQ(m_log.all().size(), 2u) << m_log.tftp_text();
}

}  // namespace
}  // namespace kalvex::testing
