// DHCP-speaking boot loaders over loopback: the exchange their client needs, each reply
// carrying what the BOOTP reply carries, and the messages a server with static bindings
// leaves unanswered.
#include <gtest/gtest.h>

#include "bootp/bootpd.h"
#include "bootp_server.h"
#include "platform/wire.h"

namespace kalvex::testing {
namespace {

using namespace bootp_offset;
using DhcpExchange = BootpServerTest;

constexpr const char* kTable =
    "board:ha=021A2B3C4D5E:ip=1.1.1.1:sa=1.1.1.1:bf=flash.bin:sm=255.255.255.0:"
    "gw=192.168.1.1:bs=auto:hn:\n";
const Commands kBoardArp{{"arp", "-d 127.0.0.2"}, {"arp", "-s 127.0.0.2 02-1A-2B-3C-4D-5E"}};

Bytes address_option(std::uint8_t tag, const char* text) {
  Bytes option{tag, 4, 0, 0, 0, 0};
  platform::wire::store_net32(std::span(option).subspan(2).first<4>(), address(text));
  return option;
}

Bytes operator+(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The canonical request with DHCP's message type and the options given, behind the cookie.
BootRequest dhcp(std::uint8_t type, std::uint32_t xid, Bytes options = {}) {
  options.insert(options.begin(), {53, 1, type});
  options.push_back(255);
  return BootRequest().xid(xid).vendor(4, options);
}

std::string span_hex(const Bytes& message, std::size_t at, std::size_t count) {
  return message.size() < at + count ? "too short" : hex(std::span(message).subspan(at, count));
}

TEST_F(DhcpExchange, OfferAndAckCarryTheBootpReplyBehindTheirOwnOptions) {
  write_table(kTable);
  start();
  const Bytes bootp = reply_to(BootRequest().xid(1));
  ASSERT_EQ(bootp.size(), 300u);
  // A BOOTP request whose vendor area holds U-Boot's placeholders but no message type.
  const Bytes placeholders = BootRequest().xid(1).vendor(
      4, {60, 4, 'U', '-', 'B', 'o', 1, 4, 0, 0, 0, 0, 3, 4, 0, 0, 0, 0, 255});
  EXPECT_EQ(hex(reply_to(placeholders)), hex(bootp));

  const Bytes offer = reply_to(dhcp(1, 1));
  const Bytes ack =
      reply_to(dhcp(3, 1, address_option(50, kBoardAddress) + address_option(54, kServerAddress)));
  for (const auto& [reply, type] : {std::pair{offer, "02"}, std::pair{ack, "05"}}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(span_hex(reply, 0, kVend), span_hex(bootp, 0, kVend)) << "yiaddr, siaddr, file";
    EXPECT_EQ(span_hex(reply, kVend, 19),  // type, server identifier, a day's lease
              "63 82 53 63 35 01 " + std::string(type) + " 36 04 7F 00 00 01 33 04 00 01 51 80");
    EXPECT_EQ(span_hex(reply, kVend + 19, 45), span_hex(bootp, kVend + 4, 45));
  }
  EXPECT_EQ(commands().size(), 4 * kBoardArp.size()) << "all four replies after the board's entry";
}

TEST_F(DhcpExchange, RenewalInformAndWrongAddressAreAnsweredWhereTheRfcSays) {
  platform::UdpSocket relay;
  ASSERT_TRUE(relay.open() && relay.bind({address("127.0.0.3"), bootp_config().serverPort}));
  write_table(kTable);
  start();
  // Renewing: to the address the client uses, which needs no neighbour entry.
  const Bytes renewed = reply_to(dhcp(3, 2).ciaddr(kBoardAddress));
  EXPECT_EQ(span_hex(renewed, kVend + 4, 3), "35 01 05");
  EXPECT_EQ(address_at(renewed, kYiaddr), address(kBoardAddress));
  EXPECT_TRUE(commands().empty());

  // Informing: the rest of the configuration, without an address or a lease.
  send(dhcp(8, 3).ciaddr(kElsewhere));
  const auto informed = receive(m_elsewhere);
  ASSERT_TRUE(informed);
  EXPECT_EQ(address_at(*informed, kYiaddr), 0u);
  EXPECT_EQ(text_at(*informed, kFile, 128), "flash.bin");
  EXPECT_EQ(span_hex(*informed, kVend, 15), "63 82 53 63 35 01 05 36 04 7F 00 00 01 01 04");

  // Another address asked for, through a relay agent: a NAK that names nothing.
  send(dhcp(3, 4, address_option(50, "127.0.0.7")).giaddr("127.0.0.3"));
  const auto refused = receive(relay);
  ASSERT_TRUE(refused);
  EXPECT_EQ(span_hex(*refused, kVend, 14), "63 82 53 63 35 01 06 36 04 7F 00 00 01 FF");
  EXPECT_EQ(address_at(*refused, kYiaddr) | address_at(*refused, kSiaddr), 0u);
  EXPECT_EQ(text_at(*refused, kFile, 128), "");

  expect_no_reply_to(dhcp(7, 5).ciaddr(kBoardAddress));               // release
  expect_no_reply_to(dhcp(4, 6, address_option(50, kBoardAddress)));  // decline
  EXPECT_TRUE(
      reported("Ethernet address 02-1A-2B-3C-4D-5E declined 127.0.0.2: another host "
               "answers for it"));
  expect_no_reply_to(dhcp(3, 7, address_option(54, "127.0.0.5")));  // another server's offer
}

}  // namespace
}  // namespace kalvex::testing
