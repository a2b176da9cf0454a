// The neighbour table as `ip neigh` shows it, changed through the platform layer inside a
// network namespace of the test's own: a veth pair, 192.168.77.10/24 on one end and
// 192.168.0.1/16 on the other.
#include "platform/neighbour.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/net.h"
#include "tests/support/network_namespace.h"

#include <net/if.h>

namespace {

using Mac = std::vector<std::uint8_t>;
const Mac kBoardMac{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
const Mac kOtherMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

class NeighbourTable : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_namespace.entered()) GTEST_SKIP() << m_namespace.why_not();
    m_index = ::if_nametoindex("kvx0");
    ASSERT_NE(m_index, 0u);
  }

  static std::string board_entry() {
    return kalvex::testing::neighbour_entry("192.168.77.9", "kvx0");
  }

  kalvex::testing::ThreadNetworkNamespace m_namespace{kalvex::testing::kVethPair};
  const std::uint32_t m_board = platform::inet_addr("192.168.77.9");
  std::uint32_t m_index = 0;
};

TEST_F(NeighbourTable, PermanentEntryIsAddedReplacedAndDeletedInTheOrderAsked) {
  EXPECT_EQ(platform::add_permanent_neighbour(m_index, m_board, kBoardMac).text, "");
  EXPECT_EQ(board_entry(), "192.168.77.9 lladdr 02:1a:2b:3c:4d:5e PERMANENT");
  EXPECT_EQ(platform::add_permanent_neighbour(m_index, m_board, kOtherMac).text, "");
  EXPECT_EQ(board_entry(), "192.168.77.9 lladdr 02:00:00:00:00:01 PERMANENT");
  // A reply's pair, back to back: the entry it leaves is the new one.
  EXPECT_EQ(platform::delete_neighbour(m_index, m_board).text, "");
  EXPECT_EQ(platform::add_permanent_neighbour(m_index, m_board, kBoardMac).text, "");
  EXPECT_EQ(board_entry(), "192.168.77.9 lladdr 02:1a:2b:3c:4d:5e PERMANENT");
  EXPECT_EQ(platform::delete_neighbour(m_index, m_board).text, "");
  EXPECT_EQ(board_entry(), "");
}

TEST_F(NeighbourTable, ThreadThatMovedToAnotherNamespaceChangesThatOnesTable) {
  ASSERT_TRUE(platform::add_permanent_neighbour(m_index, m_board, kBoardMac).ok());
  {
    const kalvex::testing::ThreadNetworkNamespace other{kalvex::testing::kVethPair};
    ASSERT_TRUE(other.entered()) << other.why_not();
    const auto index = platform::interface_index_for(m_board);
    ASSERT_TRUE(index);
    EXPECT_EQ(platform::add_permanent_neighbour(*index, m_board, kOtherMac).text, "");
    EXPECT_EQ(board_entry(), "192.168.77.9 lladdr 02:00:00:00:00:01 PERMANENT");
  }
  EXPECT_EQ(board_entry(), "192.168.77.9 lladdr 02:1a:2b:3c:4d:5e PERMANENT");
}

TEST_F(NeighbourTable, RefusedRequestIsReportedAndLeavesTheTableAlone) {
  const Mac nine(9, 0x02);
  const struct {
    const char* name;
    platform::NeighbourResult result;
  } cases[] = {
      {"no hardware address", platform::add_permanent_neighbour(m_index, m_board, {})},
      {"nine bytes", platform::add_permanent_neighbour(m_index, m_board, nine)},
      {"no such interface", platform::add_permanent_neighbour(9999, m_board, kBoardMac)},
      {"absent entry", platform::delete_neighbour(m_index, m_board)},
  };
  for (const auto& refused : cases) {
    SCOPED_TRACE(refused.name);
    EXPECT_FALSE(refused.result.ok());
    EXPECT_NE(refused.result.text, "");
  }
  EXPECT_EQ(cases[3].result.error, std::errc::no_such_file_or_directory);
  EXPECT_EQ(board_entry(), "");
}

TEST_F(NeighbourTable, InterfaceIsTheOneWhoseNetworkHoldsTheAddress) {
  const struct {
    const char* address;
    std::optional<std::uint32_t> index;
  } cases[] = {
      {"192.168.77.9", m_index},  // in both networks: the narrower one wins
      {"192.168.5.5", ::if_nametoindex("kvx1")},
      {"192.169.77.9", std::nullopt},
      {"203.0.113.77", std::nullopt},
  };
  for (const auto& expected : cases) {
    SCOPED_TRACE(expected.address);
    EXPECT_EQ(platform::interface_index_for(platform::inet_addr(expected.address)), expected.index);
  }
}

}  // namespace
