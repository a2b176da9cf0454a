// The reply's length and vendor area: the RFC 1048 cookie, the options of the host entry in
// their order, and what happens when the room runs out.
#include "bootp/vendor.h"

#include <gtest/gtest.h>

#include "bootp/host_table.h"
#include "bootp_test_support.h"
#include "core/flash_state.h"

namespace bootp {
namespace {

using testing::boot_request;
using testing::hex;
using testing::reported;
using testing::reported_texts;

class VendorArea : public ::testing::Test {
 protected:
  void SetUp() override { clear_bootp_reported_messages(); }

  // A reply to the canonical request (plus any change) for the entry "board:<fields>".
  void fill(const std::string& fields, std::uint64_t bootFileSize = 0,
            const std::function<void(std::vector<std::uint8_t>&)>& change = nullptr) {
    std::vector<std::uint8_t> request = boot_request();
    if (change) change(request);
    std::fill(m_packet.buffer.begin(), m_packet.buffer.end(), 0xEE);  // an earlier datagram
    std::copy(request.begin(), request.end(), m_packet.buffer.begin());
    m_packet.length = m_packet.receivedLength = request.size();
    HostEntry entry;
    ASSERT_EQ(parse_entry(entry, "board:" + fields), 0) << reported_texts();
    fill_vendor_area(m_packet, entry, bootFileSize, 0);
  }
  std::string vend(std::size_t count) const {
    return hex(m_packet.buffer.data() + offset::kVend, count);
  }
  std::string vend_tail(std::size_t from) const {
    return hex(m_packet.buffer.data() + offset::kVend + from,
               m_packet.length - offset::kVend - from);
  }
  static std::string zeros(std::size_t count) {
    const std::vector<std::uint8_t> bytes(count, 0);
    return hex(bytes.data(), count);
  }

  Packet m_packet;
};

TEST_F(VendorArea, MaskGatewayAndAutomaticBootSizeInAClassicReply) {
  fill("sm=255.255.255.0:gw=192.168.1.1:bs=auto:", 1048576);
  EXPECT_EQ(m_packet.length, 300u);
  EXPECT_EQ(vend(21),
            "63 82 53 63 "        // cookie
            "01 04 FF FF FF 00 "  // subnet mask
            "03 04 C0 A8 01 01 "  // gateway
            "0D 02 08 00 "        // boot size: 2048 blocks of 512 bytes
            "FF");
  EXPECT_EQ(vend_tail(21), zeros(43));
}

TEST_F(VendorArea, FixedGroupFollowsTheEntry) {
  struct Case {
    const char* fields;
    std::uint64_t fileSize;
    const char* expected;
  };
  const Case cases[] = {
      {"gw=192.168.1.1:", 0, "63 82 53 63 FF 00"},
      {"bs=1000:", 0, "63 82 53 63 0D 02 03 E8 FF"},
      {"bs=auto:", 0, "63 82 53 63 0D 02 00 00 FF"},
      {"bs=auto:", 513, "63 82 53 63 0D 02 00 02 FF"},
      {"bs=70000:", 0, "63 82 53 63 0D 02 11 70 FF"},
      {"hn:", 0, "63 82 53 63 0C 05 62 6F 61 72 64 FF"},
      {"to=-300:sw=10.0.0.1:", 0, "63 82 53 63 02 04 FF FF FE D4 10 04 0A 00 00 01 FF"},
      {"T128=\"abc\":T150=0A.0B:", 0, "63 82 53 63 80 04 61 62 63 00 96 02 0A 0B FF"},
      {"cs=1.1.1.1:lg=2.2.2.2:ds=3.3.3.3:", 0,
       "63 82 53 63 06 04 03 03 03 03 08 04 01 01 01 01 07 04 02 02 02 02 FF"},
      {"im=1.1.1.1:", 0, "63 82 53 63 FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    fill(c.fields, c.fileSize);
    const std::string expected = c.expected;
    EXPECT_EQ(vend((expected.size() + 1) / 3), expected);
  }
}

TEST_F(VendorArea, ExtensionFileEndsTheAreaAfterTheFixedGroup) {
  fill("sm=255.255.255.0:gw=192.168.1.1:bs=4:ef=ext:dn=example.com:hn:");
  EXPECT_EQ(vend(28),
            "63 82 53 63 01 04 FF FF FF 00 03 04 C0 A8 01 01 0D 02 00 04 "
            "12 03 65 78 74 FF "  // option 18 and the end option
            "00 00");             // the request's own bytes stay behind it
}

TEST_F(VendorArea, RequestCookieIsAlwaysReplacedByRfc1048) {
  for (const std::array<std::uint8_t, 4> cookie :
       {std::array<std::uint8_t, 4>{'C', 'M', 'U', 0}, std::array<std::uint8_t, 4>{0, 0, 0, 0}}) {
    fill("vm=cmu:", 0, [&](std::vector<std::uint8_t>& request) {
      std::copy(cookie.begin(), cookie.end(), request.begin() + offset::kVend);
    });
    EXPECT_EQ(vend(5), "63 82 53 63 FF");
  }
}

TEST_F(VendorArea, OptionThatDoesNotFitStopsTheListWithEndOption) {
  const std::string name60(60, 'd');
  fill("sm=255.255.255.0:gw=192.168.1.1:bs=auto:dn=" + name60 + ":hn:", 1048576);
  EXPECT_EQ(vend(21), "63 82 53 63 01 04 FF FF FF 00 03 04 C0 A8 01 01 0D 02 08 00 FF");
  EXPECT_EQ(vend_tail(21), zeros(43));
  EXPECT_TRUE(reported("board: No room for \"dn\" option", kNotice)) << reported_texts();
}

TEST_F(VendorArea, AddressListIsCutShortToWhatFits) {
  std::string sixteen;
  for (int i = 1; i <= 16; ++i) sixteen += "10.0.0." + std::to_string(i) + " ";
  fill("ds=" + sixteen + ":lg=1.1.1.1:");
  // 60 free bytes, one kept for the end option: the tag, the length and 14 addresses.
  EXPECT_EQ(vend(8), "63 82 53 63 06 38 0A 00");
  EXPECT_EQ(hex(m_packet.buffer.data() + offset::kVend + 58, 6), "0A 00 00 0E FF 00");
  EXPECT_TRUE(reported("board: No room for \"ds\" option", kNotice)) << reported_texts();
}

TEST_F(VendorArea, RawOptionThatDoesNotFitIsSkipped) {
  const std::string big(100, 'x');
  fill("T200=\"" + big + "\":T201=01:");
  EXPECT_EQ(vend(8), "63 82 53 63 C9 01 01 FF");
  EXPECT_TRUE(reported("board: No room for \"(generic)\" option", kNotice)) << reported_texts();
}

TEST_F(VendorArea, ReplyLengthFollowsMessageSizeOrTheClientsOption57) {
  struct Case {
    const char* what;
    const char* fields;
    std::size_t tagAt;  // vendor offset of option 57; 0 for none
    std::uint16_t size;
    std::size_t requestLength;
    std::size_t expected;
  };
  const Case cases[] = {
      {"ms sets the length", "ms=576:", 0, 0, 300, 576},
      {"ms wins over option 57", "ms=400:", 4, 576, 300, 400},
      {"option 57 right behind the cookie", "", 4, 576, 300, 576},
      {"option 57 at offset 60", "", 60, 576, 300, 576},
      {"option 57 behind offset 64", "", 64, 576, 400, 400},
      {"option 57 of 300 or less", "", 4, 299, 341, 341},
      {"option 57 beyond the buffer is capped", "", 4, 2000, 300, 1536},
      {"option 57 whose value lies outside the datagram", "", 62, 576, 300, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fill(c.fields, 0, [&](std::vector<std::uint8_t>& request) {
      request.resize(c.requestLength, 0);
      std::fill(request.begin() + offset::kVend + 4, request.end(), 0);  // pads
      if (c.tagAt == 0) return;
      const std::size_t at = offset::kVend + c.tagAt;
      request[at] = 57;
      request[at + 1] = 2;
      if (at + 3 < request.size()) {
        request[at + 2] = static_cast<std::uint8_t>(c.size >> 8);
        request[at + 3] = static_cast<std::uint8_t>(c.size);
      }
    });
    EXPECT_EQ(m_packet.length, c.expected);
  }
}

TEST_F(VendorArea, LongerReplyCarriesNothingOfAnEarlierDatagram) {
  // The extension file stops the filling before the rest is cleared: what lies behind must
  // be zeros, not the 0xEE of the datagram before.
  fill("ms=576:ef=x:");
  ASSERT_EQ(m_packet.length, 576u);
  EXPECT_EQ(vend(8), "63 82 53 63 12 01 78 FF");
  EXPECT_EQ(vend_tail(300 - offset::kVend), zeros(276));
}

}  // namespace
}  // namespace bootp
