// Requests over loopback, BOOTP and DHCP: which are answered, where the reply goes, what it
// names, the arp commands started before it, and the reports a user reads.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "bootp/bootpd.h"
#include "bootp_server.h"
#include "platform/interfaces.h"
#include "tests/support/eventually.h"

namespace kalvex::testing {
namespace {

using namespace bootp_offset;
using BootpRequest = BootpServerTest;

constexpr const char* kTable =
    "board:ha=021A2B3C4D5E:ip=192.168.1.2:sa=192.168.1.1:bf=flash.bin:bs=auto:\n"
    "nosa:ha=020000000001:ip=192.168.1.2:\n"
    "waits:ha=020000000002:ip=192.168.1.2:mw=5:\n"
    // 02-00-00-00-00-03 as token ring writes it: every byte bit-reversed
    "token:ht=ieee802:ha=4000000000C0:ip=192.168.1.2:\n";
const Bytes kWaitsMac{2, 0, 0, 0, 0, 2};
const Commands kBoardArp{{"arp", "-d 127.0.0.2"}, {"arp", "-s 127.0.0.2 02-1A-2B-3C-4D-5E"}};

// The canonical request with DHCP's message type and the options given, behind the cookie.
BootRequest dhcp(std::uint8_t type, Bytes options = {}) {
  options.insert(options.begin(), {53, 1, type});
  options.push_back(255);
  return BootRequest().vendor(4, options);
}

std::string hex_at(const Bytes& message, std::size_t at, std::size_t count) {
  return message.size() < at + count ? "too short" : hex(std::span(message).subspan(at, count));
}

TEST_F(BootpRequest, KnownBoardGetsItsAddressServerAndBootFileOverBootpAndDhcpAlike) {
  write_table(kTable);
  start();
  const Bytes reply = reply_to(BootRequest());  // reaches 127.0.0.2, the board's new address
  ASSERT_EQ(reply.size(), 300u);
  EXPECT_EQ(reply[kOp], 2);  // BOOTREPLY
  EXPECT_EQ(address_at(reply, kYiaddr), address(kBoardAddress));
  EXPECT_EQ(address_at(reply, kSiaddr), address(kServerAddress));
  EXPECT_EQ(text_at(reply, kSname, 64), platform::host_name().value());
  EXPECT_EQ(text_at(reply, kFile, 128), "flash.bin");
  EXPECT_EQ(commands(), kBoardArp);
  // U-Boot's placeholders in a BOOTP request's vendor area change nothing of the reply.
  EXPECT_EQ(hex(reply_to(BootRequest().vendor(4, {60, 1, 'U', 1, 4, 0, 0, 0, 0, 255}))),
            hex(reply));
  // A DHCP client's OFFER and ACK carry the same behind their own options.
  const Bytes offer = reply_to(dhcp(1));
  const Bytes ack = reply_to(dhcp(3, {50, 4, 127, 0, 0, 2, 54, 4, 127, 0, 0, 1}));
  for (const auto& [dhcpReply, type] : {std::pair{offer, "02"}, std::pair{ack, "05"}}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(hex_at(dhcpReply, 0, kVend), hex_at(reply, 0, kVend));
    EXPECT_EQ(hex_at(dhcpReply, kVend, 19),  // type, server identifier, a day's lease
              "63 82 53 63 35 01 " + std::string(type) + " 36 04 7F 00 00 01 33 04 00 01 51 80");
    EXPECT_EQ(hex_at(dhcpReply, kVend + 19, 45), hex_at(reply, kVend + 4, 45));
  }
  EXPECT_EQ(commands().size(), 8u) << "all four replies after the board's neighbour entry";

  const Bytes other = reply_to(BootRequest().chaddr(Bytes{2, 0, 0, 0, 0, 1}).xid(2));
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(address_at(other, kSiaddr), platform::ipv4_interfaces().front().address_net)
      << "an entry without sa names the PC's own first address";
}

TEST_F(BootpRequest, DhcpRenewalInformAndWrongAddressAreAnsweredWhereTheRfcSays) {
  platform::UdpSocket relay;
  ASSERT_TRUE(relay.open() && relay.bind({address("127.0.0.3"), bootp_config().serverPort}));
  write_table(kTable);
  start();
  // Renewing: an ACK to the address the client uses, which needs no neighbour entry.
  EXPECT_EQ(hex_at(reply_to(dhcp(3).ciaddr(kBoardAddress)), kYiaddr, 4), "7F 00 00 02");
  EXPECT_TRUE(commands().empty());
  // Informing: the rest of the configuration, without an address or a lease.
  send(dhcp(8).ciaddr(kElsewhere));
  const Bytes informed = receive(m_elsewhere).value_or(Bytes());
  EXPECT_EQ(hex_at(informed, kYiaddr, 4) + text_at(informed, kFile, 128), "00 00 00 00flash.bin");
  EXPECT_EQ(hex_at(informed, kVend, 15), "63 82 53 63 35 01 05 36 04 7F 00 00 01 01 04");
  // Another address asked for, through a relay agent: a NAK that names nothing.
  send(dhcp(3, {50, 4, 127, 0, 0, 7}).giaddr("127.0.0.3"));
  const Bytes refused = receive(relay).value_or(Bytes());
  EXPECT_EQ(hex_at(refused, kYiaddr, 8) + text_at(refused, kFile, 128), "00 00 00 00 00 00 00 00");
  EXPECT_EQ(hex_at(refused, kVend, 14), "63 82 53 63 35 01 06 36 04 7F 00 00 01 FF");

  expect_no_reply_to(dhcp(7).ciaddr(kBoardAddress));                        // release
  expect_no_reply_to(dhcp(4, {50, 4, 127, 0, 0, 2}));                       // decline
  expect_no_reply_to(dhcp(3, {50, 4, 127, 0, 0, 2, 54, 4, 127, 0, 0, 5}));  // another's offer
  EXPECT_TRUE(
      reported("Ethernet address 02-1A-2B-3C-4D-5E declined 127.0.0.2: another host "
               "answers for it"));
}

TEST_F(BootpRequest, OnlyRequestsForThisServerFromKnownClientsAreAnswered) {
  write_table(kTable);
  start();
  const struct {
    const char* what;
    Bytes datagram;
    bool answered;
  } cases[] = {
      {"300 bytes, the least", BootRequest(), true},
      {"299 bytes", BootRequest().length(299), false},
      {"longer than the packet buffer", BootRequest().length(1537), false},
      {"op 3", BootRequest().op(3), false},
      {"a BOOTREPLY for another relay agent", BootRequest().op(2).yiaddr(kBoardAddress), false},
      {"unknown hardware address", BootRequest().chaddr(Bytes{0x99}), false},
      {"hardware type 8", BootRequest().htype(8), false},
      {"hardware type and length 255", BootRequest().htype(255).hlen(255), false},
      {"IEEE 802, listed bit-reversed", BootRequest().htype(6).chaddr(Bytes{2, 0, 0, 0, 0, 3}),
       true},
      {"this host named", BootRequest().sname(platform::host_name().value()), true},
      {"another server named", BootRequest().sname("some-other-server"), false},
      {"a server name filling its field", BootRequest().sname(std::string(64, 'x')), false},
      {"secs below the minimum wait", BootRequest().chaddr(kWaitsMac).secs(4), false},
      {"secs equal to the minimum wait", BootRequest().chaddr(kWaitsMac).secs(5), true},
      {"unknown ciaddr", BootRequest().ciaddr(kElsewhere), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.answered) {
      EXPECT_FALSE(reply_to(c.datagram).empty());
    } else {
      expect_no_reply_to(c.datagram);
    }
  }
}

TEST_F(BootpRequest, OverlongHardwareAddressIsReportedAndSearchedByItsFirstBytes) {
  write_table(kTable);
  start();
  reply_to(BootRequest().hlen(16).chaddr(
      std::array<std::uint8_t, 7>{2, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x77}));
  EXPECT_TRUE(reported("bad addr len from from Ethernet address 02-1A-2B-3C-4D-5E-77-00"));
  EXPECT_EQ(commands().back(), Commands::value_type("arp", "-s 127.0.0.2 02-1A-2B-3C-4D-5E-77-00"));
}

TEST_F(BootpRequest, ReplyGoesWhereItsFieldsSayWithArpOnlyForANewAddress) {
  platform::UdpSocket relay;
  ASSERT_TRUE(relay.open() && relay.bind({address("127.0.0.3"), bootp_config().serverPort}));
  write_table(kTable);
  start();
  // A known ciaddr: answered there, its yiaddr left as sent.
  const Bytes known =
      reply_to(BootRequest().ciaddr(kBoardAddress).yiaddr(kElsewhere).chaddr(kControlMac).xid(7));
  EXPECT_EQ(address_at(known, kYiaddr), address(kElsewhere));
  // Through a relay agent: to the agent, on the server port.
  send(BootRequest().giaddr("127.0.0.3").xid(8));
  const auto relayed = receive(relay);
  ASSERT_TRUE(relayed);
  EXPECT_EQ(xid_of(*relayed), 8u);
  EXPECT_EQ(address_at(*relayed, kYiaddr), address(kBoardAddress));
  EXPECT_TRUE(commands().empty());
  // A BOOTREPLY for this host as relay agent: passed on to its yiaddr as it came, after the
  // arp commands.
  Bytes passing =
      BootRequest().op(2).giaddr("127.0.0.1").yiaddr(kBoardAddress).siaddr("9.9.9.9").xid(9);
  passing.resize(320, 0x5A);
  EXPECT_EQ(reply_to(passing), passing);
  EXPECT_EQ(commands(), kBoardArp);
}

TEST_F(BootpRequest, BootFileNamedForTheBoardIsPreferredWhenOthersMayReadIt) {
  write_table(kTable);
  start();
  const auto place = [](const char* name, int mode, std::size_t size) {
    std::filesystem::remove(name);
    if (mode != 0) write_file(name, std::string(size, 'x'), std::filesystem::perms(mode));
  };
  const struct {
    const char* what;
    int flashMode, boardMode;  // 0: no such file
    const char* file;
    const char* blocks;
  } cases[] = {
      {"no file", 0, 0, "flash.bin", "00 00"},
      {"flash.bin", 0644, 0, "flash.bin", "00 01"},
      {"flash.bin.board too", 0644, 0644, "flash.bin.board", "00 03"},
      {"flash.bin.board that others may not read", 0644, 0640, "flash.bin", "00 01"},
  };
  std::uint32_t xid = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    place("flash.bin", c.flashMode, 100);
    place("flash.bin.board", c.boardMode, 1100);
    const Bytes reply = reply_to(BootRequest().xid(++xid));
    ASSERT_EQ(reply.size(), 300u);
    EXPECT_EQ(text_at(reply, kFile, 128), c.file);
    // the class mask of 127.0.0.2, then the boot size in 512-byte blocks
    EXPECT_EQ(hex(std::span(reply).subspan(kVend, 15)),
              std::string("63 82 53 63 01 04 FF 00 00 00 0D 02 ") + c.blocks + " FF");
  }
}

TEST_F(BootpRequest, EveryDatagramLooksForTheTableEvenOneThatIsNotARequest) {
  start();  // no kalvex.ini yet
  send(BootRequest().op(3));
  const auto missing = [](const Diagnostic& line) {
    return line.text == "stat on \"kalvex.ini\": No such file or directory";
  };
  eventually([&] { return std::ranges::count_if(m_reports.all(), missing) == 2; },
             "the op 3 datagram to look for the table");

  write_table(kTable);
  EXPECT_FALSE(reply_to(BootRequest()).empty());
}

TEST_F(BootpRequest, ReportsOfASilentServerReachTheErrorStreamAsLines) {
  set_diagnostic_sink(nullptr);  // the program's own destinations
  ::testing::internal::CaptureStderr();
  start();  // no kalvex.ini yet, and never a flash.bin
  write_table(kTable);
  send(BootRequest().chaddr(Bytes{2, 0, 0, 0, 0, 0x77}).xid(2));
  reply_to(BootRequest().xid(3));
  const std::string text = "\n" + ::testing::internal::GetCapturedStderr();
  for (const char* line : {"stat on \"kalvex.ini\": No such file or directory",
                           "unknown client Ethernet address 02-00-00-00-00-77",
                           "can not determine size of file \"flash.bin\""})
    EXPECT_NE(text.find("\n" + std::string(line) + "\n"), std::string::npos) << line << text;
}

TEST(BootpStartUp, TakenServerPortEndsTheProgramWithItsMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  platform::UdpSocket other;
  ASSERT_TRUE(other.open() && other.bind({address("127.0.0.1"), 0}));
  EXPECT_EXIT(
      {
        bootp_config().serverPort = other.local_endpoint()->port;
        bootp_config().bindAddress_net = address("127.0.0.1");
        bootpd(1, nullptr, platform::StopToken());
      },
      ::testing::ExitedWithCode(1),
      "Bootp port is not available, some other application is using it.\nPlease stop it and "
      "try again.");
}

#ifndef _WIN32
// Without the privilege the port is not taken by anyone: the box says what is missing.
// (Windows asks for administrator rights at start-up instead.)
TEST(BootpStartUp, PortWithoutThePrivilegeSaysSo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (::getuid() == 0 && ::setuid(65534) != 0) std::_Exit(3);
        bootp_config().serverPort = 999;
        bootp_config().bindAddress_net = address("127.0.0.1");
        bootpd(1, nullptr, platform::StopToken());
      },
      ::testing::ExitedWithCode(1), "Bootp port 999 may not be used by this program");
}
#endif

}  // namespace
}  // namespace kalvex::testing
