// Reading the host table: every field symbol and value syntax applied to an entry, and whole
// files with comments, continuation lines, templates, duplicates and re-reads.
#include "bootp/host_table.h"

#include <gtest/gtest.h>

#include <functional>

#include "bootp/bootpd.h"
#include "bootp/symbols.h"
#include "bootp_test_support.h"
#include "core/flash_state.h"

namespace bootp {
namespace {

using testing::address;
using testing::reported;
using testing::reported_texts;
using testing::WorkingDirectory;
using testing::write_file;

constexpr const char* kClientAddress = "192.168.1.2";

std::array<std::uint8_t, 8> board_mac() {
  return {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0};
}

class HostTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_bootp_reported_messages();
    flash_state().clientAddress = address(kClientAddress);
    // Names are never looked up in the system's resolver here: that could leave the machine.
    bootp_config().resolveHost = [](const std::string&) { return std::optional<std::uint32_t>(); };
    ASSERT_TRUE(create_host_indexes());
  }
  void TearDown() override {
    destroy_host_table();
    bootp_config() = BootpConfig{};
    flash_state().clientAddress = 0;
  }
};

struct FieldCase {
  const char* fields;
  const char* error;  // empty when the entry is accepted
  std::function<void(const HostEntry&)> check;
};

void PrintTo(const FieldCase& c, std::ostream* out) {
  *out << c.fields;
}

class HostEntryFields : public HostTableTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(HostEntryFields, ApplyOrFailWithTheirText) {
  const FieldCase& c = GetParam();
  HostEntry entry;
  const int result = parse_entry(entry, std::string("board:") + c.fields);
  if (*c.error == '\0') {
    EXPECT_EQ(result, 0) << reported_texts();
    if (c.check) c.check(entry);
  } else {
    EXPECT_NE(result, 0);
    EXPECT_NE(reported_texts().find(std::string("\": ") + c.error + "\n"), std::string::npos)
        << reported_texts();
  }
}

const auto kHasFlags = [](std::uint32_t first, std::uint32_t second = 0) {
  return [=](const HostEntry& e) {
    EXPECT_EQ(e.flags[0], first);
    EXPECT_EQ(e.flags[1], second);
  };
};

INSTANTIATE_TEST_SUITE_P(
    Symbols, HostEntryFields,
    ::testing::Values(
        // ip: validated, then replaced by the board's address
        FieldCase{"ip=1.2.3.4:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.ipAddress, address(kClientAddress));
                    EXPECT_EQ(e.flags[0], 1u << 12);
                  }},
        FieldCase{"ip=board:", "bad INET address", nullptr},
        // bs: switch, auto, number, removal
        FieldCase{"bs:", "", kHasFlags(0b1100)}, FieldCase{"bs", "", kHasFlags(0b1100)},
        FieldCase{"bs=auto:bs@:", "", kHasFlags(0b1000)},
        FieldCase{"bs=auto:bs=1000:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.flags[0], 0b0100u);
                    EXPECT_EQ(e.bootSize, 1000u);
                  }},
        // flag bits of both words, bit for bit
        FieldCase{"bf=flash.bin:sa=1.2.3.4:bs:sm=255.255.255.0:ms=576:mw=5:vm=rfc:", "",
                  kHasFlags(0x8000F, 0xE)},
        FieldCase{"cs=1.1.1.1:ds=1.1.1.1:gw=1.1.1.1:im=1.1.1.1:lg=1.1.1.1:lp=1.1.1.1:"
                  "ns=1.1.1.1:rl=1.1.1.1:ts=1.1.1.1:ys=1.1.1.1:nt=1.1.1.1:",
                  "", kHasFlags(0xC042E870)},
        FieldCase{"bf=a:hd=b:td=c:df=d:dn=e:rp=f:ef=g:yd=h:", "", kHasFlags(0x2D900201)},
        FieldCase{"sw=1.2.3.4:ra=1.2.3.4:to=5:T1=01:", "", kHasFlags(0x12200080)},
        FieldCase{"hn:", "", kHasFlags(0x50000)}, FieldCase{"hn:hn@:", "", kHasFlags(0)},
        FieldCase{"hn=1:", "bad syntax", nullptr},
        FieldCase{"gw=1.2.3.4:gw@:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.flags[0], 0u);
                    EXPECT_EQ(e.gateways, nullptr);
                  }},
        // ht: names, numbers, limits
        FieldCase{"ht=Ethernet:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.hwType, 1);
                    EXPECT_EQ(e.flags[0], 1u << 10);
                  }},
        FieldCase{"ht=token-ring:", "", [](const HostEntry& e) { EXPECT_EQ(e.hwType, 6); }},
        FieldCase{"ht=ax.25:", "", [](const HostEntry& e) { EXPECT_EQ(e.hwType, 3); }},
        FieldCase{"ht=0x7:", "", [](const HostEntry& e) { EXPECT_EQ(e.hwType, 7); }},
        FieldCase{"ht=foo:", "", [](const HostEntry& e) { EXPECT_EQ(e.hwType, 0); }},
        FieldCase{"ht=foo:ha=021A2B3C4D5E:", "bad hardware address", nullptr},
        FieldCase{"ht=8:", "bad HW address type", nullptr},
        FieldCase{"ht=9:", "bad HW address type", nullptr},
        // ha: every written form gives the same address
        FieldCase{"ha=021A2B3C4D5E:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.hwAddress, board_mac());
                    EXPECT_EQ(e.hwType, 1);
                    EXPECT_EQ(e.flags[0], (1u << 8) | (1u << 10));
                  }},
        FieldCase{"ha=02.1A.2B.3C.4D.5E:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.hwAddress, board_mac()); }},
        FieldCase{"ha=0x02.0x1A.0x2B.0x3C.0x4D.0x5E:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.hwAddress, board_mac()); }},
        FieldCase{"ha=\"02:1A:2B:3C:4D:5E\":", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.hwAddress, board_mac()); }},
        FieldCase{"ha=021a2b3c4d5e:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.hwAddress, board_mac()); }},
        FieldCase{"ha=02:1A:2B:3C:4D:5E:", "bad hardware address", nullptr},
        FieldCase{"ha=021A2B3C4D:", "bad hardware address", nullptr},
        FieldCase{"ha=021A2B3C4D5E:ht=6:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.hwType, 6);
                    EXPECT_EQ(e.hwAddress, board_mac());
                  }},
        // ms limits
        FieldCase{"ms=576:", "", [](const HostEntry& e) { EXPECT_EQ(e.messageSize, 576u); }},
        FieldCase{"ms=1536:", "", nullptr}, FieldCase{"ms=200:", "unkown error", nullptr},
        FieldCase{"ms=1537:", "unkown error", nullptr}, FieldCase{"ms@:", "unkown error", nullptr},
        FieldCase{"ms=576:ms@:", "", kHasFlags(0, 0)},
        // numbers: octal, hex and the decimal digits accepted in every base
        FieldCase{"mw=019:", "", [](const HostEntry& e) { EXPECT_EQ(e.minWait, 17u); }},
        FieldCase{"mw=010:", "", [](const HostEntry& e) { EXPECT_EQ(e.minWait, 8u); }},
        FieldCase{"mw=0x1F:", "", [](const HostEntry& e) { EXPECT_EQ(e.minWait, 31u); }},
        FieldCase{"mw=X1f:", "", [](const HostEntry& e) { EXPECT_EQ(e.minWait, 31u); }},
        FieldCase{"mw=4294967297:", "", [](const HostEntry& e) { EXPECT_EQ(e.minWait, 1u); }},
        // addresses in their one- to four-part forms
        FieldCase{"sw=10.1:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.swapServer, address("10.0.0.1")); }},
        FieldCase{"sw=1.2.300:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.swapServer, address("1.2.1.44")); }},
        FieldCase{"sw=0x7f000001:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.swapServer, address("127.0.0.1")); }},
        FieldCase{"sm=255.255.255.0junk:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.subnetMask, address("255.255.255.0")); }},
        FieldCase{"sm=1.2.3.4.5:", "bad INET address", nullptr},
        FieldCase{"sa=server:", "bad INET address", nullptr},
        FieldCase{"ra=:", "bad INET address", nullptr},
        // address lists
        FieldCase{"gw=1.2.3.4, 5.6.7.8 ,9.10.11.12:", "",
                  [](const HostEntry& e) {
                    ASSERT_NE(e.gateways, nullptr);
                    EXPECT_EQ(e.gateways->addresses_net,
                              (std::vector<std::uint32_t>{address("1.2.3.4"), address("5.6.7.8"),
                                                          address("9.10.11.12")}));
                  }},
        FieldCase{
            "ds=1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17:", "",
            [](const HostEntry& e) { EXPECT_EQ(e.domainServers->addresses_net.size(), 16u); }},
        FieldCase{"ds=:", "bad syntax", nullptr},
        FieldCase{"ds=dns.example:", "bad syntax", nullptr},
        // vm
        FieldCase{"vm=rfc1048:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.vendorCookie, (std::array<std::uint8_t, 4>{99, 130, 83, 99}));
                    EXPECT_EQ(e.flags[1], 1u << 3);
                  }},
        FieldCase{"vm=cmu:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.vendorCookie, (std::array<std::uint8_t, 4>{'C', 'M', 'U', 0}));
                  }},
        FieldCase{"vm=1.2.3.4:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.vendorCookie, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
                  }},
        FieldCase{"vm=rfc:vm=auto:", "", kHasFlags(0, 0)},
        FieldCase{"vm=CMU:", "bad INET address", nullptr},
        // to
        FieldCase{"to=-300:", "", [](const HostEntry& e) { EXPECT_EQ(e.timeOffset, -300); }},
        FieldCase{"to=auto:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.timeOffset, 0);
                    EXPECT_TRUE(e.has(Flag::TimeOffset));
                  }},
        FieldCase{"to=x:", "bad longword value", nullptr},
        FieldCase{"to=99999999999:", "bad longword value", nullptr},
        // raw options
        FieldCase{
            "T128=\"abc\":", "",
            [](const HostEntry& e) {
              ASSERT_NE(e.rawOptions, nullptr);
              EXPECT_EQ(e.rawOptions->bytes, (std::vector<std::uint8_t>{128, 4, 'a', 'b', 'c', 0}));
            }},
        FieldCase{"T150=0A.0B:T384=0x01FF:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.rawOptions->bytes,
                              (std::vector<std::uint8_t>{150, 2, 0x0A, 0x0B, 128, 2, 0x01, 0xFF}));
                  }},
        FieldCase{"T150=:", "",
                  [](const HostEntry& e) {
                    EXPECT_EQ(e.rawOptions->bytes, (std::vector<std::uint8_t>{150, 0}));
                  }},
        FieldCase{"T150=0A.0B", "bad syntax", nullptr},
        FieldCase{"T150 0A:", "bad syntax", nullptr},
        FieldCase{"T150=0A.0G:", "bad syntax", nullptr},
        // text values: quotes, escapes, trailing blanks and the 79-character cut
        FieldCase{"bf=\"a:b\":", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.bootFile->text, "a:b"); }},
        FieldCase{"bf=a\\:b  :", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.bootFile->text, "a:b"); }},
        FieldCase{"bf=:", "", [](const HostEntry& e) { EXPECT_EQ(e.bootFile->text, ""); }},
        FieldCase{"bf=first:bf=second:", "",
                  [](const HostEntry& e) { EXPECT_EQ(e.bootFile->text, "second"); }},
        FieldCase{
            "dn=abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz"
            "0123:",
            "", [](const HostEntry& e) { EXPECT_EQ(e.domainName->text.size(), 79u); }},
        // syntax errors
        FieldCase{"xy=1:", "unknown symbol", nullptr},
        FieldCase{"ex=1:", "unknown symbol", nullptr}, FieldCase{"ex :", "unknown symbol", nullptr},
        FieldCase{"bf =x:", "bad syntax", nullptr}, FieldCase{"bf:", "bad syntax", nullptr},
        FieldCase{"tc:", "bad syntax", nullptr}, FieldCase{"tc@:", "bad syntax", nullptr},
        FieldCase{"b", "unknown symbol", nullptr},
        FieldCase{" :  : bf=x", "", [](const HostEntry& e) { EXPECT_EQ(e.bootFile->text, "x"); }}));

TEST_F(HostTableTest, FailingFieldIsReportedWithEntryAndSymbol) {
  HostEntry entry;
  EXPECT_NE(parse_entry(entry, "board:bf=x:T77=zz"), 0);
  EXPECT_TRUE(reported("in entry named \"board\", symbol \"T77\": bad syntax", kError))
      << reported_texts();
}

TEST(EntryText, SplitsTheFileByItsSyntax) {
  struct Case {
    const char* what;
    std::string file;
    std::vector<std::string> entries;
  };
  const std::string longLine(3000, 'a');
  const Case cases[] = {
      {"comments and blank lines between entries",
       "# comment\n\n   # indented comment\nA:bf=x:\n\nB:bf=y\n",
       {"A:bf=x:", "B:bf=y"}},
      {"continuation lines with a comment between them",
       ".default:\\\n    :bs=auto:\\\n# a remark\n\n    :sm=255.255.255.0:\nnext:\n",
       {".default::bs=auto::sm=255.255.255.0:", "next:"}},
      {"blanks after a colon are dropped", "A:  bf=x:\t ht=1\n", {"A:bf=x:ht=1"}},
      {"a quoted section keeps newlines and colons",
       "A:dn=\"x:\ny\":\nB:\n",
       {"A:dn=\"x:\ny\":", "B:"}},
      {"a backslash takes the next character", "A:bf=a\\\\b\\\nc\n", {"A:bf=a\\b\nc"}},
      {"a newline after a colon ends the entry", "A:\nbf=x\n", {"A:", "bf=x"}},
      {"Windows line ends", "A:bf=x:\\\r\n  :sm=1.2.3.4:\r\nB:\r\n", {"A:bf=x::sm=1.2.3.4:", "B:"}},
      {"an entry is cut at 2047 characters",
       longLine + "\n",
       {std::string(2047, 'a'), std::string(953, 'a')}},
      {"a backslash at the end of the file", "A:bf=x\\", {"A:bf=x"}},
      {"an unclosed quote at the end of the file", "A:dn=\"abc", {"A:dn=\"abc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EntrySource source(c.file);
    std::vector<std::string> entries;
    for (std::string text = read_entry_text(source); !text.empty(); text = read_entry_text(source))
      entries.push_back(text);
    EXPECT_EQ(entries, c.entries);
  }
}

TEST(HostNames, GoodNamesAndClassMasks) {
  for (const char* good : {"board", "a.b-c.d_e9", "B1"}) EXPECT_TRUE(is_good_name(good)) << good;
  for (const char* bad : {"", ".default", "1board", "board-", "a..b", "a.", "bo ard"})
    EXPECT_FALSE(is_good_name(bad)) << bad;
  EXPECT_EQ(default_netmask(address("10.0.0.9")), address("255.0.0.0"));
  EXPECT_EQ(default_netmask(address("172.16.0.1")), address("255.255.0.0"));
  EXPECT_EQ(default_netmask(address("192.168.1.2")), address("255.255.255.0"));
  EXPECT_EQ(default_netmask(address("224.0.0.1")), std::nullopt);
}

class HostTableFile : public HostTableTest {
 protected:
  HostEntry* by_name(std::string_view name) {
    return hash_Find(*host_table().nameIndex, name_hash(name), same_name, name);
  }
  HostEntry* by_mac(std::array<std::uint8_t, 8> mac) {
    HostEntry key;
    key.hwType = 1;
    key.hwAddress = mac;
    return hash_Find(*host_table().hwIndex, hw_hash(key), same_hw, key);
  }
  WorkingDirectory m_directory;
};

TEST_F(HostTableFile, GoodEntriesAreFiledAndWrongOnesDroppedWhole) {
  write_file("kalvex.ini",
             "# boards\n"
             ".default:\\\n"
             "    :bs=auto:sm=255.255.255.0:\\\n"
             "    # the gateway of the lab\n"
             "    :gw=192.168.1.1:\n"
             "\n"
             "early:tc=.late:bf=early.bin:\n"
             ".late:dn=late.example:\n"
             "board:tc=.default:ht=ethernet:ha=021A2B3C4D5E:ip=10.0.0.1:sa=1.1.1.1:bf=flash.bin:\n"
             "broken:ht=9:ha=112233445566:ip=10.0.0.1:\n"
             "copy:ha=021A2B3C4D5E:ip=10.0.0.2:\n"
             "other:ha=0A0B0C0D0E0F:ip=10.0.0.3:bf=other.bin:\n");
  read_host_table(true);

  EXPECT_EQ(host_table().entries, 5);  // .default, early, .late, board, other
  EXPECT_EQ(host_table().hosts, 3);    // board, copy (counted, then dropped), other
  EXPECT_EQ(by_name("broken"), nullptr);
  EXPECT_EQ(by_name("copy"), nullptr);
  EXPECT_TRUE(reported("in entry named \"broken\", symbol \"ht\": bad HW address type"));
  EXPECT_TRUE(reported("duplicate Ethernet address: 02-1A-2B-3C-4D-5E", kNotice));
  EXPECT_TRUE(reported("can't find tc=\".late\"", kError));

  HostEntry* board = by_mac(board_mac());
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(board->name(), "board");
  EXPECT_EQ(board->bootFile->text, "flash.bin");
  EXPECT_EQ(board->ipAddress, address(kClientAddress));
  EXPECT_EQ(board->subnetMask, address("255.255.255.0"));
  EXPECT_TRUE(board->has(Flag::BootSizeAuto));
  EXPECT_EQ(board->linkCount, 3u);
  // The template's gateway list is shared, not copied.
  HostEntry* defaults = by_name(".default");
  ASSERT_NE(defaults, nullptr);
  EXPECT_EQ(board->gateways, defaults->gateways);
  EXPECT_EQ(defaults->gateways.use_count(), 2);
  EXPECT_EQ(defaults->linkCount, 1u);

  HostEntry* early = by_name("early");
  ASSERT_NE(early, nullptr);
  EXPECT_FALSE(early->has(Flag::DomainName));
  EXPECT_EQ(early->bootFile->text, "early.bin");

  HostEntry key;
  key.ipAddress = address(kClientAddress);
  EXPECT_EQ(hash_Find(*host_table().ipIndex, ip_hash(key.ipAddress), same_ip, key),
            by_name("other"));  // the newest of the entries sharing the board's address
}

TEST_F(HostTableFile, TemplateGivesOnlyWhatTheEntryLacks) {
  write_file("kalvex.ini",
             ".t:bf=template.bin:sm=255.255.0.0:hn:bs=7:T1=01:\n"
             "board:bs=auto:bs@:tc=.t:bf=own.bin:ha=021A2B3C4D5E:\n");
  read_host_table(true);
  HostEntry* board = by_name("board");
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(board->bootFile->text, "own.bin");
  EXPECT_EQ(board->subnetMask, address("255.255.0.0"));
  EXPECT_TRUE(board->has(Flag::HostNameSwitch));
  EXPECT_TRUE(board->has(Flag::SendHostName));
  // The boot size comes from the template together with its auto flag.
  EXPECT_TRUE(board->has(Flag::BootSize));
  EXPECT_FALSE(board->has(Flag::BootSizeAuto));
  EXPECT_EQ(board->bootSize, 7u);
  EXPECT_EQ(board->rawOptions, by_name(".t")->rawOptions);
}

TEST_F(HostTableFile, NamesAreResolvedOrGivenClassMasksByKind) {
  bootp_config().resolveHost = [](const std::string& name) -> std::optional<std::uint32_t> {
    if (name == "known") return address("172.16.5.5");
    return std::nullopt;
  };
  write_file("kalvex.ini",
             "board:ip=10.0.0.9:\n"
             ".dummy:ip=10.0.0.9:\n"
             "known:\n"
             "unknown:\n");
  read_host_table(true);
  EXPECT_EQ(by_name("board")->subnetMask, address("255.255.255.0"));  // class of 192.168.1.2
  EXPECT_FALSE(by_name(".dummy")->has(Flag::SubnetMask));
  EXPECT_EQ(by_name("known")->ipAddress, address("172.16.5.5"));
  EXPECT_EQ(by_name("known")->subnetMask, address("255.255.0.0"));
  EXPECT_FALSE(by_name("unknown")->has(Flag::IpAddress));
  EXPECT_TRUE(reported("can not get IP addr for unknown", kError));
  EXPECT_TRUE(reported("(dummy names should start with '.')", kError));
  EXPECT_EQ(host_table().hosts, 3);
}

TEST_F(HostTableFile, IsReadAgainOnlyWhenItsModificationTimeChanges) {
  write_file("kalvex.ini", "first:\n");
  read_host_table(true);
  const auto firstTime = std::filesystem::last_write_time("kalvex.ini");
  ASSERT_NE(by_name("first"), nullptr);

  write_file("kalvex.ini", "second:\n");
  std::filesystem::last_write_time("kalvex.ini", firstTime);
  read_host_table(false);
  EXPECT_NE(by_name("first"), nullptr);
  EXPECT_EQ(by_name("second"), nullptr);

  std::filesystem::last_write_time("kalvex.ini", firstTime + std::chrono::seconds(1));
  read_host_table(false);
  EXPECT_EQ(by_name("first"), nullptr);  // the old table is released, not merged
  EXPECT_NE(by_name("second"), nullptr);
  EXPECT_EQ(host_table().entries, 1);
}

TEST_F(HostTableFile, MissingFileKeepsTheTableAndIsReported) {
  write_file("kalvex.ini", "first:\n");
  read_host_table(true);
  std::filesystem::remove("kalvex.ini");
  read_host_table(false);
  EXPECT_NE(by_name("first"), nullptr);
  EXPECT_TRUE(reported("stat on \"kalvex.ini\": No such file or directory", kError))
      << reported_texts();

  write_file("kalvex.ini", "");
  read_host_table(false);
  EXPECT_EQ(by_name("first"), nullptr);
  EXPECT_EQ(host_table().entries, 0);
}

TEST_F(HostTableFile, ShippedExampleGivesEachBoardFlashBinAndTheBootServer) {
  std::filesystem::copy_file(KALVEX_EXAMPLE_HOST_TABLE, "kalvex.ini");
  read_host_table(true);
  EXPECT_EQ(host_table().entries, 3) << reported_texts();
  for (const char* name : {"board", "board2"}) {
    SCOPED_TRACE(name);
    const HostEntry* board = by_name(name);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->bootFile->text, "flash.bin");
    EXPECT_TRUE(board->has(Flag::BootServer));
    EXPECT_FALSE(board->has(Flag::HomeDir) || board->has(Flag::TftpDir));
    EXPECT_EQ(board->ipAddress, address(kClientAddress));
    EXPECT_EQ(board->linkCount, 3u);  // by hardware address, IP address and name
  }
  EXPECT_EQ(by_mac(board_mac()), by_name("board"));
}

}  // namespace
}  // namespace bootp
