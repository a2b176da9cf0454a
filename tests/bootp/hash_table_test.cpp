// The host table's hash indexes: codes and buckets, duplicate refusal, newest-first finds and
// clearing with release.
#include "bootp/hash_table.h"

#include <gtest/gtest.h>

#include <string_view>

#include "bootp/host_table.h"
#include "bootp_test_support.h"

namespace bootp {
namespace {

using testing::address;
using testing::kBoardMac;

HostEntry ethernet_entry(std::string name, std::array<std::uint8_t, 6> mac) {
  HostEntry entry;
  entry.hostName = std::make_shared<const SharedText>(SharedText{std::move(name)});
  entry.hwType = 1;
  std::copy(mac.begin(), mac.end(), entry.hwAddress.begin());
  entry.set(Flag::HwType);
  entry.set(Flag::HwAddress);
  return entry;
}

TEST(HashCode, KnownKeysFallIntoTheirBuckets) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> key;
    std::uint32_t code;
    std::uint32_t bucket;
  };
  const Case cases[] = {
      {"hardware address", {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 0x520, 27},
      {"IP address 192.168.1.2", {192, 168, 1, 2}, 0x8A4, 156},
      {"name board", {'b', 'o', 'a', 'r', 'd'}, 0xC64, 88},
      {"no bytes", {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(hash_Code(c.key), c.code);
    EXPECT_EQ(hash_Code(c.key) % kIndexBuckets, c.bucket);
  }
  EXPECT_EQ(ip_hash(address("192.168.1.2")), 0x8A4u);
  EXPECT_EQ(name_hash("board"), 0xC64u);
}

TEST(HashCode, WrapsAtThirtyTwoBits) {
  // 255 × (2^40 − 1) modulo 2^32: only the low 32 bits of the running sum survive.
  const std::vector<std::uint8_t> key(40, 0xFF);
  EXPECT_EQ(hash_Code(key), 0xFFFFFF01u);
}

TEST(HashIndexCreation, ZeroBucketsGivesNone) {
  EXPECT_EQ(hash_Create<HostEntry>(0), nullptr);
  const auto index = hash_Create<HostEntry>(kIndexBuckets);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(index->bucket_count(), kIndexBuckets);
}

TEST(HashIndexInsert, SameHardwareAddressIsRefusedAndTableUnchanged) {
  const auto index = hash_Create<HostEntry>(kIndexBuckets);
  HostEntry first = ethernet_entry("first", kBoardMac);
  HostEntry second = ethernet_entry("second", kBoardMac);
  first.ipAddress = second.ipAddress = address("192.168.1.2");
  ASSERT_EQ(hash_Insert(*index, hw_hash(first), same_hw_for_insert, first, &first), 0);
  EXPECT_EQ(hash_Insert(*index, hw_hash(second), same_hw_for_insert, second, &second), -1);
  EXPECT_EQ(hash_Find(*index, hw_hash(second), same_hw, second), &first);
  EXPECT_EQ(index->head(hw_hash(first))->next, nullptr);
}

TEST(HashIndexInsert, SameHardwareAddressOnAnotherNetworkOfTheSameMaskIsKept) {
  const auto index = hash_Create<HostEntry>(kIndexBuckets);
  HostEntry first = ethernet_entry("first", kBoardMac);
  HostEntry second = ethernet_entry("second", kBoardMac);
  first.subnetMask = second.subnetMask = address("255.255.255.0");
  first.ipAddress = address("192.168.1.2");
  second.ipAddress = address("192.168.2.2");
  ASSERT_EQ(hash_Insert(*index, hw_hash(first), same_hw_for_insert, first, &first), 0);
  EXPECT_EQ(hash_Insert(*index, hw_hash(second), same_hw_for_insert, second, &second), 0);
}

TEST(HashIndexFind, EqualNamesAreAllKeptAndTheNewestIsFound) {
  const auto index = hash_Create<HostEntry>(kIndexBuckets);
  HostEntry older = ethernet_entry("board", kBoardMac);
  HostEntry newer = ethernet_entry("board", {1, 2, 3, 4, 5, 6});
  const std::string_view name = "board";
  ASSERT_EQ(hash_Insert(*index, name_hash(name), never_equal<std::string_view>, name, &older), 0);
  ASSERT_EQ(hash_Insert(*index, name_hash(name), never_equal<std::string_view>, name, &newer), 0);
  EXPECT_EQ(hash_Find(*index, name_hash(name), same_name, name), &newer);
  const std::string_view other = "other";
  EXPECT_EQ(hash_Find(*index, name_hash(other), same_name, other), nullptr);
  EXPECT_TRUE(hash_Contains(*index, name_hash(name), same_name, name));
}

TEST(HashIndexClear, ReleasesEveryDatumOncePerLinkAndEmptiesTheTable) {
  const auto index = hash_Create<HostEntry>(kIndexBuckets);
  int released = 0;
  hash_Clear(*index, [&](HostEntry*) { ++released; });
  EXPECT_EQ(released, 0);

  HostEntry a = ethernet_entry("a", kBoardMac);
  HostEntry b = ethernet_entry("b", {1, 2, 3, 4, 5, 6});
  for (HostEntry* entry : {&a, &b}) {
    const std::string_view name = entry->name();
    ASSERT_EQ(hash_Insert(*index, name_hash(name), never_equal<std::string_view>, name, entry), 0);
  }
  std::vector<HostEntry*> order;
  hash_Clear(*index, [&](HostEntry* entry) { order.push_back(entry); });
  EXPECT_EQ(order.size(), 2u);
  for (const char* name : {"a", "b"}) {
    const std::string_view key = name;
    EXPECT_EQ(hash_Find(*index, name_hash(key), same_name, key), nullptr);
  }
}

}  // namespace
}  // namespace bootp
