// The reply's length and vendor area as the board receives them: the RFC 1048 cookie, the
// entry's options in their order, and what is left out when the room runs out.
#include <gtest/gtest.h>

#include "bootp_server.h"

namespace kalvex::testing {
namespace {

using namespace bootp_offset;
using BootpReplyContent = BootpServerTest;

// The entry for the board: the case's fields, then the board's hardware address and an ip.
std::string board_entry(const std::string& entry) {
  return entry + "ha=021A2B3C4D5E:ip=1.1.1.1:\n";
}

std::string zeros(std::size_t count) {
  return hex(Bytes(count, 0));
}

std::string vend_of(const Bytes& reply) {
  return reply.size() < kVend ? "" : hex(std::span(reply).subspan(kVend));
}

TEST_F(BootpReplyContent, EntryFieldsBecomeOptionsInTheirOrderAsFarAsTheyFit) {
  std::string sixteen, fourteen, eleven;
  for (int i = 1; i <= 16; ++i) sixteen += "10.0.0." + std::to_string(i) + " ";
  for (int i = 1; i <= 14; ++i) {
    fourteen += hex(Bytes{10, 0, 0, static_cast<std::uint8_t>(i)}) + " ";
    if (i == 11) eleven = fourteen;
  }
  const struct {
    std::string entry;
    std::string vend;         // then zeros up to 64 bytes
    std::string report = {};  // a "No room" report, if any
  } cases[] = {
      {".b:sm=255.255.255.0:gw=192.168.1.1:bs=auto:bf=flash.bin:",  // the classic reply
       "63 82 53 63 "                                               // cookie
       "01 04 FF FF FF 00 "                                         // subnet mask
       "03 04 C0 A8 01 01 "                                         // gateway
       "0D 02 08 00 "  // boot size: flash.bin's 1 MiB in 2048 blocks of 512 bytes
       "FF"},
      {".b:gw=192.168.1.1:", "63 82 53 63 FF"},  // no gateway without a mask
      {".b:bs=1000:", "63 82 53 63 0D 02 03 E8 FF"},
      {".b:bs=019:", "63 82 53 63 0D 02 00 11 FF"},  // a leading 0 is octal, 9 counts all the same
      {".b:bs:", "63 82 53 63 0D 02 00 00 FF"},      // auto, and no boot file
      {".b:bs=auto:bs@:", "63 82 53 63 FF"},
      {"board:", "63 82 53 63 01 04 FF 00 00 00 FF"},  // class mask of 127.0.0.2
      {".b:hn:", "63 82 53 63 0C 02 2E 62 FF"},
      {".t:hn:sm=255.255.0.0:\n.b:tc=.t:", "63 82 53 63 01 04 FF FF 00 00 0C 02 2E 62 FF"},
      {".b:to=-300:sw=10.1:", "63 82 53 63 02 04 FF FF FE D4 10 04 0A 00 00 01 FF"},
      {".b:to=auto:", "63 82 53 63 02 04 00 00 00 00 FF"},
      {".b:T128=\"abc\":T150=0A.0B:", "63 82 53 63 80 04 61 62 63 00 96 02 0A 0B FF"},
      {".b:cs=1.1.1.1:lg=2.2.2.2:ds=3.3.3.3:",
       "63 82 53 63 06 04 03 03 03 03 08 04 01 01 01 01 07 04 02 02 02 02 FF"},
      {".b:im=1.1.1.1:vm=cmu:", "63 82 53 63 FF"},  // never sent; the cookie is always RFC 1048
      {".b:sm=255.255.255.0:gw=192.168.1.1:bs=4:ef=ext:dn=example.com:hn:",
       "63 82 53 63 01 04 FF FF FF 00 03 04 C0 A8 01 01 0D 02 00 04 12 03 65 78 74 FF"},
      {".b:sm=255.255.255.0:gw=192.168.1.1:bs=1:dn=" + std::string(60, 'd') + ":hn:",
       "63 82 53 63 01 04 FF FF FF 00 03 04 C0 A8 01 01 0D 02 00 01 FF",
       ".b: No room for \"dn\" option"},
      {".b:ds=" + sixteen + ":lg=1.1.1.1:", "63 82 53 63 06 38 " + fourteen + "FF",
       ".b: No room for \"ds\" option"},
      {".b:T200=\"" + std::string(100, 'x') + "\":T201=01:", "63 82 53 63 C9 01 01 FF",
       ".b: No room for \"(generic)\" option"},
      // The gateways that fit leave room for the boot size and the end option.
      {".b:sm=255.255.255.0:gw=" + sixteen + ":bs=4:",
       "63 82 53 63 01 04 FF FF FF 00 03 2C " + eleven + "0D 02 00 04 FF",
       ".b: No room for \"gw\" option"},
      {".b:ef=" + std::string(70, 'e') + ":", "63 82 53 63 FF", ".b: No room for \"ef\" option"},
  };
  write_file("flash.bin", std::string(1048576, 'x'));
  std::uint32_t xid = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    write_table(board_entry(c.entry));
    if (!m_server.running()) start();
    const std::size_t written = (c.vend.size() + 1) / 3;
    EXPECT_EQ(vend_of(reply_to(BootRequest().xid(++xid))), c.vend + " " + zeros(64 - written));
    if (!c.report.empty()) {
      EXPECT_TRUE(reported(c.report));
    }
  }
}

// The request with option 57 (maximum message size) at `at` in its vendor area, pads before
// it, cut or grown to `length` bytes.
BootRequest with_option57(std::size_t at, std::uint16_t size, std::size_t length) {
  return BootRequest()
      .vendor(4, Bytes(at - 4, 0))
      .vendor(at, {57, 2, static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)})
      .length(length);
}

TEST_F(BootpReplyContent, ReplyLengthFollowsMessageSizeOrTheClientsOption57) {
  const struct {
    const char* what;
    const char* entry;
    BootRequest request;
    std::size_t length;
  } cases[] = {
      {"ms sets the length", ".b:ms=576:", BootRequest(), 576},
      {"ms wins over option 57", ".b:ms=400:", with_option57(4, 576, 300), 400},
      {"option 57 behind the cookie", ".b:", with_option57(4, 576, 300), 576},
      {"option 57 at vendor byte 60", ".b:", with_option57(60, 576, 300), 576},
      {"option 57 at vendor byte 64 is not seen", ".b:", with_option57(64, 576, 400), 400},
      {"option 57 just above 300", ".b:", with_option57(4, 350, 300), 350},
      {"option 57 of 300 or less", ".b:", with_option57(4, 299, 341), 341},
      {"option 57 beyond the buffer", ".b:", with_option57(4, 2000, 300), 1536},
      {"option 57 cut off by the datagram's end", ".b:", with_option57(62, 576, 300), 300},
  };
  std::uint32_t xid = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_table(board_entry(c.entry));
    if (!m_server.running()) start();
    BootRequest request = c.request;
    EXPECT_EQ(reply_to(request.xid(++xid)).size(), c.length);
  }
}

TEST_F(BootpReplyContent, LongerReplyCarriesNothingOfAnEarlierDatagram) {
  write_table(board_entry(".b:ms=576:ef=x:"));
  start();
  send(Bytes(600, 0xEE));  // op 0xEE: not served, but it fills the packet buffer
  const Bytes reply = reply_to(BootRequest());
  ASSERT_EQ(reply.size(), 576u);
  EXPECT_EQ(vend_of(reply), "63 82 53 63 12 01 78 FF " + zeros(576 - kVend - 8));
}

}  // namespace
}  // namespace kalvex::testing
