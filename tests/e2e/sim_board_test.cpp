// What keeps the whole-flash runs honest: the simulated board takes only frames sent to its
// own hardware address, so a reply reaches it only through the neighbour entry that Kalvex
// made, and only BOOTP replies for its own chaddr and a request it sent lately.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>

#include "platform/process.h"
#include "tools/sim_board/link.h"
#include "tools/sim_board/packets.h"

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

}  // namespace
}  // namespace sim_board
