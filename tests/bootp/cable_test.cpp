// The server on a cable of the test's own: the PC's side is a network namespace of this
// thread (the server thread starts in it), the board's side a second namespace joined to it
// by a veth pair. What reaches the board, the PC's neighbour table and real DHCP clients
// show what a board would see; the neighbour entries are the kernel's, made for real.
#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "bootp/bootpd.h"
#include "bootp_server.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "tests/support/eventually.h"
#include "tests/support/network_namespace.h"

namespace kalvex::testing {
namespace {

constexpr const char* kPc = "192.168.77.10";
constexpr const char* kBoard = "192.168.77.9";
const std::string kBoardSide = "kvxbootp" + std::to_string(::getpid());
const std::string kThere = " && ip -n " + kBoardSide + " ";

class BootpOnACable : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_pcSide.entered()) GTEST_SKIP() << m_pcSide.why_not();
    flash_state().serverAddress = address(kPc);
    flash_state().clientAddress = address(kBoard);
    write_file("kalvex.ini",
               "board:ha=021A2B3C4D5E:ip=1.1.1.1:sa=1.1.1.1:sm=255.255.255.0:bf=x:\n");
    std::promise<void> listening;
    bootp_config().onListening = [&] { listening.set_value(); };
    m_server.start([](const platform::StopToken& stop) { bootpd(1, nullptr, stop); });
    ASSERT_EQ(listening.get_future().wait_for(kPatience), std::future_status::ready);
  }

  void TearDown() override {
    m_server.stop();
    // The entries made are remembered process-wide; forget them here, where they were made.
    if (m_pcSide.entered()) remove_neighbour_entries_made();
    bootp_config() = BootpConfig{};
    reset_flash_state_for_tests();
    run_shell("ip netns del " + kBoardSide + " 2>/dev/null");
  }

  // Runs the step in the board's namespace: a socket opened there stays there.
  static void on_board_side(const std::function<void()>& step) {
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int board = ::open(("/run/netns/" + kBoardSide).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::setns(board, CLONE_NEWNET), 0);
    step();
    ASSERT_EQ(::setns(home, CLONE_NEWNET), 0);
    ::close(board);
    ::close(home);
  }

  ScratchDir m_directory;
  DiagnosticsCapture m_reports;
  // pc0, the adapter, here; board0, with the board's hardware address, on the board's side.
  ThreadNetworkNamespace m_pcSide{"ip netns add " + kBoardSide + " && ip link set lo up" +
                                  " && ip link add pc0 type veth peer name board0 netns " +
                                  kBoardSide + " && ip addr add 192.168.77.10/24 dev pc0" +
                                  " && ip link set pc0 up" + kThere +
                                  "link set board0 address 02:1a:2b:3c:4d:5e up"};
  platform::ServerThread m_server;
};

TEST_F(BootpOnACable, StrayAndForgedDatagramsGetNothingAndLeaveTheNeighbourTableAlone) {
  // The board holds its address, and a relay agent's off the adapter's network, so that
  // ordinary sockets there receive what is sent to them.
  ASSERT_TRUE(run_shell("true" + kThere + "addr add 192.168.77.9/24 dev board0" + kThere +
                        "addr add 10.1.1.1/24 dev board0 && ip route add 10.1.1.0/24 via " +
                        kBoard));
  platform::UdpSocket board, relay, local;
  on_board_side([&] {
    ASSERT_TRUE(board.open() && board.bind({0, 68}) && relay.open() && relay.bind({0, 67}));
  });
  ASSERT_TRUE(local.open() && local.bind({address("127.0.0.1"), 0}));
  const struct {
    const char* what;
    platform::UdpSocket& from;
    const char* to;
    Bytes datagram;
  } cases[] = {
      {"a BOOTREPLY for no relay agent", board, kPc,
       BootRequest().op(2).yiaddr("192.168.77.50").chaddr(Bytes{2, 0x66, 0x66, 0x66, 0x66, 0x66})},
      {"a request on another interface", local, "127.0.0.1", BootRequest()},
      {"a request from a relay agent off the adapter's network", board, kPc,
       BootRequest().giaddr("10.1.1.1")},
  };
  std::uint32_t xid = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.from.send_to(c.datagram, {address(c.to), 67});
    // The board's own request follows: its reply must be the first datagram to reach it.
    board.send_to(Bytes(BootRequest().xid(++xid)), {address(kPc), 67});
    EXPECT_EQ(xid_of(receive(board).value_or(Bytes())), xid);
    EXPECT_FALSE(relay.readable_within(std::chrono::milliseconds(0)))
        << "a reply went to the relay agent";
  }
  EXPECT_TRUE(
      m_reports.has(DiagnosticSource::Bootp,
                    "ignoring packet from 127.0.0.1 on lo: only pc0 (192.168.77.10) is served"));
  EXPECT_EQ(neighbour_entry("192.168.77.50", "pc0"), "");
  EXPECT_EQ(neighbour_entry(kBoard, "pc0"), "192.168.77.9 lladdr 02:1a:2b:3c:4d:5e PERMANENT");
}

TEST_F(BootpOnACable, DhcpClientsGetTheBoardsAddressAndBootFile) {
  const std::string here = m_directory.path().string() + "/";
  write_file("udhcpc.sh",
             "#!/bin/sh\n[ $1 = bound ] && echo $ip $siaddr $boot_file >" + here + "out\n",
             std::filesystem::perms(0755));
  const std::string udhcpc = "ip netns exec " + kBoardSide +
                             " busybox udhcpc -i board0 -fqn -t 5 -T 1 -s " + here + "udhcpc.sh";
  const struct {
    std::string run;
    const char* expected;
  } clients[] = {
      {udhcpc, "192.168.77.9 192.168.77.10 x\n"},
      {udhcpc + " -B", "192.168.77.9 192.168.77.10 x\n"},  // asking for replies by broadcast
      // dhclient stays for the lease's renewal: it runs until it has written the lease.
      {"ip netns exec " + kBoardSide + " dhclient -d -1 -sf /bin/true -cf /dev/null -lf " + here +
           "out -pf " + here + "pid board0 2>/dev/null & for i in $(seq 300); do grep -qs fixed " +
           here + "out && break; sleep 0.1; done; kill $!; wait $!",
       "fixed-address 192.168.77.9;\n  filename \"x\";"},
  };
  for (const auto& c : clients) {
    SCOPED_TRACE(c.run);
    std::filesystem::remove("out");
    run_shell("timeout 60 sh -c '" + c.run + "'");
    EXPECT_NE(read_file("out").find(c.expected), std::string::npos) << read_file("out");
  }
}

}  // namespace
}  // namespace kalvex::testing
