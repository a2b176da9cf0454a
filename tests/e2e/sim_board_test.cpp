// What keeps the whole-flash runs honest: the simulated board takes only frames sent to its
// own hardware address, so a reply reaches it only through the neighbour entry that Kalvex
// made, and only BOOTP replies for its own chaddr and a request it sent lately; with a window
// it acknowledges every window and every gap once, so a server's window is really exercised.
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>

#include "platform/process.h"
#include "tools/sim_board/link.h"
#include "tools/sim_board/packets.h"
#include "tools/sim_board/tftp_client.h"

namespace sim_board {
namespace {

using namespace std::chrono_literals;

constexpr MacAddress kBoardMac = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr MacAddress kOtherMac = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
constexpr std::uint32_t kXid = 0x12345678;

struct ReplyCase {
  const char* name;
  MacAddress chaddr;
  std::uint32_t xid;
  std::uint8_t op;
  bool accepted;
};

class BoardTakesReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(BoardTakesReply, OnlyForItsOwnAddressAndARecentRequest) {
  Bytes reply = build_boot_request({GetParam().chaddr, GetParam().xid, 0});
  reply[0] = GetParam().op;
  const std::uint32_t recent[] = {0x0BADF00D, kXid};
  EXPECT_EQ(parse_boot_reply(reply, kBoardMac, recent).has_value(), GetParam().accepted)
      << hex_text(reply);
}

INSTANTIATE_TEST_SUITE_P(Cases, BoardTakesReply,
                         testing::Values(ReplyCase{"Ours", kBoardMac, kXid, 2, true},
                                         ReplyCase{"OtherBoard", kOtherMac, kXid, 2, false},
                                         ReplyCase{"UnknownXid", kBoardMac, kXid + 1, 2, false},
                                         ReplyCase{"Request", kBoardMac, kXid, 1, false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Runs `body` on a thread in a network namespace of its own, with a veth pair "pc" - "board"
// up; the namespace goes with the thread. Returns why it could not, or nothing.
std::string on_a_private_link(const std::function<void()>& body) {
  std::string unavailable;
  std::thread([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      unavailable = "cannot make a network namespace (needs root)";
      return;
    }
    const std::vector<std::vector<std::string>> commands = {
        {"ip", "link", "add", "pc", "type", "veth", "peer", "name", "board"},
        {"ip", "link", "set", "board", "address", mac_text(kBoardMac), "up"},
        {"ip", "link", "set", "pc", "up"}};
    for (const auto& command : commands)
      if (platform::run_and_wait(command, 10s) != 0) unavailable = "ip cannot make a veth pair";
    if (unavailable.empty()) body();
  }).join();
  return unavailable;
}

TEST(BoardLink, TakesOnlyFramesForItsOwnHardwareAddress) {
  const std::string unavailable = on_a_private_link([] {
    std::string error;
    auto board = RawLink::open("board", error);
    auto pc = RawLink::open("pc", error);
    ASSERT_TRUE(board && pc) << error;
    const Bytes stray = {1}, meant = {2};
    ASSERT_TRUE(pc->send(build_broadcast_udp(67, 68, stray, 1), kOtherMac));
    ASSERT_TRUE(pc->send(build_broadcast_udp(67, 68, meant, 2), kBoardMac));
    const auto frame = board->receive(Clock::now() + 10s);
    ASSERT_TRUE(frame) << "the frame sent to the board's own address never arrived";
    const auto datagram = parse_udp_packet(*frame);
    ASSERT_TRUE(datagram);
    EXPECT_EQ(Bytes(datagram->payload.begin(), datagram->payload.end()), meant);
  });
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
}

// A server on 127.0.0.1 that agrees to 8-byte blocks in windows of four and sends what the
// test says, recording every ACK that comes back.
class ScriptedServer {
 public:
  ScriptedServer() {
    EXPECT_TRUE(m_socket.open() && m_socket.bind({platform::inet_addr("127.0.0.1"), 0}));
    m_port = m_socket.local_endpoint().value_or(platform::Endpoint{}).port;
  }
  std::uint16_t port() const { return m_port; }

  // Whether a datagram came from the board before the limit passed; its opcode is kept.
  bool next(std::chrono::milliseconds limit = 10s) {
    m_buffer.assign(2048, 0);
    const auto result = m_socket.receive(m_buffer, platform::StopToken(), limit);
    if (result.status != platform::RecvResult::Status::Received) return false;
    m_board = result.from;
    m_buffer.resize(result.length);
    last_op = m_buffer.size() >= 2 ? m_buffer[1] : 0;
    const auto packet = parse_tftp(m_buffer);
    if (packet && packet->op == TftpOp::Ack) acks.push_back(packet->number);
    return true;
  }
  void send(const Bytes& packet) { m_socket.send_to(packet, m_board); }
  void agree() {
    static constexpr char kOack[] = "\0\6blksize\0008\0windowsize\0004";  // and the last NUL
    send(Bytes(kOack, kOack + sizeof kOack));
  }
  void data(std::uint16_t block, std::size_t length = 8) {
    send(build_data(block, Bytes(length, static_cast<std::uint8_t>('a' + block))));
  }

  std::vector<std::uint16_t> acks;
  std::uint8_t last_op = 0;

 private:
  platform::UdpSocket m_socket;
  std::uint16_t m_port = 0;
  platform::Endpoint m_board;
  Bytes m_buffer;
};

struct WindowCase {
  const char* name;
  bool skip_last_ack;
  std::vector<std::uint16_t> acks;
};

class BoardAcknowledges : public testing::TestWithParam<WindowCase> {};

TEST_P(BoardAcknowledges, EachWindowAndEachGapOnce) {
  ScriptedServer server;
  FetchOptions options;
  options.server_net = platform::inet_addr("127.0.0.1");
  options.server_port = server.port();
  options.blksize = 8;
  options.windowsize = 4;
  options.skip_last_ack = GetParam().skip_last_ack;
  std::ostringstream log;
  FetchResult result;
  std::jthread board([&] { result = fetch_image(options, log); });

  ASSERT_TRUE(server.next());
  EXPECT_EQ(server.last_op, static_cast<std::uint8_t>(TftpOp::Rrq));
  server.agree();
  ASSERT_TRUE(server.next());  // ACK 0
  for (std::uint16_t block = 1; block <= 4; ++block) server.data(block);
  EXPECT_TRUE(server.next());  // the window's one ACK
  server.data(5);
  server.data(7);  // 6 lost
  server.data(8);
  EXPECT_TRUE(server.next());  // ACK 5, once
  server.data(6);
  server.data(7);
  server.data(8, 3);
  board.join();
  // The board has ended: whatever it sent over loopback is queued by now.
  while (server.next(1ms)) {
  }

  EXPECT_EQ(server.acks, GetParam().acks) << log.str();
  EXPECT_EQ(result.outcome, FetchResult::Outcome::Complete) << log.str();
  EXPECT_EQ(result.image.size(), 7u * 8 + 3);
}

INSTANTIATE_TEST_SUITE_P(Cases, BoardAcknowledges,
                         testing::Values(WindowCase{"EveryBlock", false, {0, 4, 5, 8}},
                                         WindowCase{"AllButTheLast", true, {0, 4, 5}}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace sim_board
