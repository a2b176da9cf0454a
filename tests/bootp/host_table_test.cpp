// The host table file as the replies and the reports show it: its syntax, templates,
// duplicates and wrong entries, re-reads when it changes, and the shipped example.
#include <gtest/gtest.h>

#include <filesystem>

#include "bootp/bootpd.h"
#include "bootp_server.h"

namespace kalvex::testing {
namespace {

using namespace bootp_offset;
using BootpHostTable = BootpServerTest;

std::string vend_start(const Bytes& reply, std::size_t count) {
  return reply.size() < kVend + count ? "" : hex(std::span(reply).subspan(kVend, count));
}

TEST_F(BootpHostTable, EntriesAreReadByTheFileSyntaxAndWrongOnesDroppedWhole) {
  write_table(
      "# boards\n"
      ".default:\\\r\n"  // a table written on Windows reads the same
      "    :bs=auto:sm=255.255.255.0:\\\r\n"
      "    # the gateway of the lab\n"
      "\n"
      "    :gw=192.168.1.1:hn:\n"
      "early:tc=.late:ha=020000000001:ip=1.1.1.1:\n"  // a template only looks back
      ".late:bf=late.bin:\n"
      "board:tc=.default:ht=ethernet:ha=021A2B3C4D5E:ip=10.0.0.1:bf=\"own:bin\":\n"
      "broken:ht=9:ha=020000000002:ip=10.0.0.1:\n"
      "copy:ha=021A2B3C4D5E:ip=10.0.0.2:bf=copy.bin:\n"
      "quoted:ha=\"02:00:00:00:00:03\":ip=1.1.1.1:bf=a\\\\:b:\n");  // file: a\\:b
  start();

  const Bytes board = reply_to(BootRequest());
  EXPECT_EQ(text_at(board, kFile, 128), "own:bin") << "the first of two equal addresses counts";
  EXPECT_EQ(vend_start(board, 28),
            "63 82 53 63 01 04 FF FF FF 00 03 04 C0 A8 01 01 0D 02 00 00 0C 05 62 6F 61 72 64 FF");
  const Bytes early = reply_to(BootRequest().chaddr(Bytes{2, 0, 0, 0, 0, 1}).xid(2));
  EXPECT_EQ(text_at(early, kFile, 128), "");
  const Bytes quoted = reply_to(BootRequest().chaddr(Bytes{2, 0, 0, 0, 0, 3}).xid(3));
  EXPECT_EQ(text_at(quoted, kFile, 128), "a:b");
  expect_no_reply_to(BootRequest().chaddr(Bytes{2, 0, 0, 0, 0, 2}));

  EXPECT_TRUE(reported("in entry named \"broken\", symbol \"ht\": bad HW address type"));
  EXPECT_TRUE(reported("duplicate Ethernet address: 02-1A-2B-3C-4D-5E"));
  EXPECT_TRUE(reported("can't find tc=\".late\""));
}

TEST_F(BootpHostTable, WrongFieldsAndNamesAreReportedInTheirWords) {
  const struct {
    const char* line;
    const char* symbol;  // none: the text is the whole report
    const char* text;
  } cases[] = {
      {"e1:ip=board:", "ip", "bad INET address"},
      {"e2:ht=foo:ha=021A2B3C4D5E:", "ha", "bad hardware address"},
      {"", nullptr, "Invalid addr type for HW addr parse"},
      {"e3:ht=8:", "ht", "bad HW address type"},
      {"e4:ha=02:1A:2B:3C:4D:5E:", "ha", "bad hardware address"},
      {"e5:ha=zz:", "ha", "bad hardware address"},
      {"", nullptr, "no lookup for HW addr type 1"},
      {"", nullptr, "Add 0x prefix if hex value starts with A-F"},
      {"e6:ms=200:", "ms", "unkown error"},
      {"e7:ms@:", "ms", "unkown error"},
      {"e8:vm=CMU:", "vm", "bad INET address"},
      {"e9:sm=1.2.3.4.5:", "sm", "bad INET address"},
      {"e10:to=x:", "to", "bad longword value"},
      {"e11:T150=0A.0B", "T150", "bad syntax"},
      {"e12:xy=1:", "xy", "unknown symbol"},
      {"e13:ex=1:", "ex", "unknown symbol"},
      {"e14:bf =x:", "bf", "bad syntax"},
      {"e15:hn=1:", "hn", "bad syntax"},
      {"e16:tc:", "tc", "bad syntax"},
      {"e17:ds=:", "ds", "bad syntax"},
      {"e18:tc=.nowhere:", nullptr, "can't find tc=\".nowhere\""},
      {"resolve:", nullptr, "can not get IP addr for resolve"},
      {"", nullptr, "(dummy names should start with '.')"},
      {"d1:ha=020000000009:\nd2:ha=020000000009:", nullptr,
       "duplicate Ethernet address: 02-00-00-00-00-09"},
  };
  std::string table;
  for (const auto& c : cases) table += std::string(c.line) + "\n";
  write_table(table);
  start();
  for (const auto& c : cases) {
    const std::string line = c.line;
    const std::string expected = c.symbol == nullptr
                                     ? c.text
                                     : "in entry named \"" + line.substr(0, line.find(':')) +
                                           "\", symbol \"" + c.symbol + "\": " + c.text;
    EXPECT_TRUE(reported(expected)) << expected;
  }
}

TEST_F(BootpHostTable, HardwareAddressIsReadInEveryWrittenForm) {
  std::uint32_t xid = 0;
  for (const std::string entry : {"ha=021A2B3C4D5E:", "ha=021a2b3c4d5e:", "ha=02.1A.2B.3C.4D.5E:",
                                  "ha=0x02.0x1A.0x2B.0x3C.0x4D.0x5E:", "ha=\"02:1A:2B:3C:4D:5E\":",
                                  "ht=Ethernet:ha=021A2B3C4D5E:", "ha=021A2B3C4D5E:ht=6:"}) {
    SCOPED_TRACE(entry);
    write_table("b:" + entry + "ip=1.1.1.1:\n");
    if (!m_server.running()) start();
    // The last is read as Ethernet and kept when the type becomes IEEE 802.
    const std::uint8_t htype = entry.ends_with("ht=6:") ? 6 : 1;
    EXPECT_FALSE(reply_to(BootRequest().htype(htype).xid(++xid)).empty());
  }
}

TEST_F(BootpHostTable, ChangedFileIsReadAtTheNextDatagram) {
  write_table("board:ha=021A2B3C4D5E:ip=1.1.1.1:bf=one.bin:\n");
  start();
  EXPECT_EQ(text_at(reply_to(BootRequest().xid(1)), kFile, 128), "one.bin");

  write_table("board:ha=021A2B3C4D5E:ip=1.1.1.1:bf=two.bin:\n", true);
  EXPECT_EQ(text_at(reply_to(BootRequest().xid(2)), kFile, 128), "one.bin")
      << "a file with the same modification time is not read again";

  m_server.stop();
  start();  // a second run binds the port again and reads the table afresh
  EXPECT_EQ(text_at(reply_to(BootRequest().xid(3)), kFile, 128), "two.bin");

  write_table("board:ha=021A2B3C4D5E:ip=1.1.1.1:bf=three.bin:\n");
  EXPECT_EQ(text_at(reply_to(BootRequest().xid(4)), kFile, 128), "three.bin");

  std::filesystem::remove("kalvex.ini");
  EXPECT_EQ(text_at(reply_to(BootRequest().xid(5)), kFile, 128), "three.bin") << "table kept";
}

TEST_F(BootpHostTable, NameWithoutAddressTakesTheOneItResolvesTo) {
  bootp_config().resolveHost = [](const std::string& name) {
    return name == "known" ? std::optional(address(kElsewhere)) : std::nullopt;
  };
  write_table("known:ha=021A2B3C4D5E:\n");
  start();
  send(BootRequest());
  const auto reply = receive(m_elsewhere);
  ASSERT_TRUE(reply);
  EXPECT_EQ(address_at(*reply, kYiaddr), address(kElsewhere));
}

TEST_F(BootpHostTable, ShippedExampleServesItsBoards) {
  std::filesystem::copy_file(KALVEX_EXAMPLE_HOST_TABLE, "kalvex.ini");
  start();
  for (const std::uint8_t last : {std::uint8_t{0x5E}, std::uint8_t{0x5F}}) {
    SCOPED_TRACE(last);
    const Bytes reply =
        reply_to(BootRequest().chaddr(Bytes{2, 0x1A, 0x2B, 0x3C, 0x4D, last}).xid(last));
    EXPECT_EQ(text_at(reply, kFile, 128), "flash.bin");
    EXPECT_EQ(address_at(reply, kYiaddr), address(kBoardAddress));
    EXPECT_EQ(address_at(reply, kSiaddr), address(kServerAddress));
    EXPECT_EQ(vend_start(reply, 15), "63 82 53 63 01 04 FF FF FF 00 0D 02 00 00 FF");
  }
}

}  // namespace
}  // namespace kalvex::testing
