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

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

namespace {

using Mac = std::vector<std::uint8_t>;
const Mac kBoardMac{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
const Mac kOtherMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

// Runs a shell command line in the calling thread's network namespace; its standard output,
// or nothing when it failed.
std::optional<std::string> run(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string output;
  std::array<char, 256> chunk{};
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr)
    output += chunk.data();
  if (::pclose(pipe) != 0) return {};
  return output;
}

class NeighbourTable : public ::testing::Test {
 protected:
  // Only this thread moves into the new namespace; TearDown brings it home, and the namespace
  // goes with its last user, veth pair and all.
  void SetUp() override {
    m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_home < 0 || ::unshare(CLONE_NEWNET) != 0)
      GTEST_SKIP() << "cannot create a network namespace (needs root): " << std::strerror(errno);
    m_inside = true;
    ASSERT_TRUE(
        run("ip link add kvx0 type veth peer name kvx1"
            " && ip addr add 192.168.77.10/24 dev kvx0 && ip addr add 192.168.0.1/16 dev kvx1"
            " && ip link set kvx0 up && ip link set kvx1 up"));
    m_index = ::if_nametoindex("kvx0");
    ASSERT_NE(m_index, 0u);
  }
  void TearDown() override {
    if (m_inside) {
      EXPECT_EQ(::setns(m_home, CLONE_NEWNET), 0) << std::strerror(errno);
    }
    if (m_home >= 0) ::close(m_home);
  }

  // The board's entry as `ip neigh` prints it, empty when there is none.
  static std::string board_entry() {
    std::string entry = run("ip neigh show 192.168.77.9 dev kvx0").value_or("ip neigh failed");
    entry.erase(entry.find_last_not_of(" \n") + 1);
    return entry;
  }

  const std::uint32_t m_board = platform::inet_addr("192.168.77.9");
  std::uint32_t m_index = 0;
  int m_home = -1;
  bool m_inside = false;
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
