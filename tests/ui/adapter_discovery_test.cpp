// Adapter discovery: the scan of an ipconfig listing as a table of lines and the slots they
// fill, and the whole road through a real child process: the companion listing of this
// machine, failures to start, and the capture file that is gone afterwards.
#include "app/adapter_discovery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <stdlib.h>

#include "platform/interfaces.h"
#include "platform/net.h"
#include "platform/ui/headless/headless_backend.h"

namespace {

std::vector<std::string> filled_slots() {
  std::vector<std::string> slots;
  for (const auto& slot : adapterAddresses) {
    std::string text(slot.data(), strnlen(slot.data(), slot.size()));
    EXPECT_LT(text.size(), slot.size()) << "every slot keeps its terminating zero";
    slots.push_back(text);
  }
  while (!slots.empty() && slots.back().empty()) slots.pop_back();
  return slots;
}

void scan(const std::string& listing) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite(listing.data(), 1, listing.size(), file);
  std::rewind(file);
  scan_adapter_listing(file);
  std::fclose(file);
}

struct ListingCase {
  const char* name;
  std::string listing;
  std::vector<std::string> slots;
};

void PrintTo(const ListingCase& c, std::ostream* out) {
  *out << c.name;
}

std::string addresses_from(int first, int count) {
  std::string listing;
  for (int i = first; i < first + count; ++i)
    listing += "   IP Address. . . . . . . . . . . . : 10.0.0." + std::to_string(i) + "\n";
  return listing;
}

std::vector<std::string> dotted_from(int first, int count) {
  std::vector<std::string> slots;
  for (int i = first; i < first + count; ++i) slots.push_back("10.0.0." + std::to_string(i));
  return slots;
}

const ListingCase kListings[] = {
    {"dot leaders", "        IP Address. . . . . . . . . . . . : 192.168.1.5\n", {"192.168.1.5"}},
    {"no label", "        Subnet Mask . . . . . . . . . . . : 192.168.1.5\n", {}},
    {"label in lower case", "        ip address. . . . : 192.168.1.5\n", {}},
    {"longer label", "   Autoconfiguration IP Address. . . : 169.254.7.9\n", {"169.254.7.9"}},
    {"all zero", "   IP Address. . . . . . . . . . . . : 0.0.0.0\n", {}},
    {"not quite all zero", "   IP Address. . . . . . . . . . . . : 0.0.0.1\n", {"0.0.0.1"}},
    {"colon without blank", "IP Address:192.168.1.5\n", {"92.168.1.5"}},
    {"no colon", "   IP Address 192.168.1.5\n", {}},
    {"colon last, no line end", "   IP Address. . . :", {}},
    {"colon before the line end", "   IP Address. . . :\n", {}},
    {"blank only after the colon", "   IP Address. . . : \t \r\n", {}},
    {"tab and carriage return", "IP Address: \t10.1.2.3\t(Preferred)\r\n", {"10.1.2.3"}},
    {"first colon decides", "Adapter eth0: IP Address 10.1.2.3\n", {"IP"}},
    {"two addresses in order",
     "Ethernet adapter eth0:\n\n   IP Address. . . . : 192.168.1.5\n"
     "   Subnet Mask . . . : 255.255.255.0\n\nEthernet adapter eth1:\n\n"
     "   IP Address. . . . : 10.0.0.7\n",
     {"192.168.1.5", "10.0.0.7"}},
    {"label cut by the 255-character piece",
     std::string(250, ' ') + "IP Address. . . : 10.0.0.2\n",
     {}},
    {"address in the continuation of a long line",
     "IP Address" + std::string(250, '.') + ": 10.0.0.3\n   IP Address. . : 10.0.0.4\n",
     {"10.0.0.4"}},
    {"token longer than a slot", "   IP Address. . : " + std::string(40, '1') + "\n", {}},
    {"token of exactly 31 characters",
     "   IP Address. . : " + std::string(31, '7') + "\n",
     {std::string(31, '7')}},
    {"ten addresses fill every slot", addresses_from(1, 10), dotted_from(1, 10)},
    {"the eleventh and later are dropped", addresses_from(1, 14), dotted_from(1, 10)},
};

class AdapterListingScan : public testing::TestWithParam<ListingCase> {};

TEST_P(AdapterListingScan, FillsTheSlotsInListingOrder) {
  std::fill(adapterAddresses[0].begin(), adapterAddresses[0].end(), 'x');  // an earlier scan
  scan(GetParam().listing);
  EXPECT_EQ(filled_slots(), GetParam().slots);
}

INSTANTIATE_TEST_SUITE_P(Listings, AdapterListingScan, testing::ValuesIn(kListings),
                         [](const testing::TestParamInfo<ListingCase>& listing) {
                           std::string name;
                           for (char c : std::string(listing.param.name))
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

class AdapterDiscovery : public testing::Test {
 protected:
  ui::HeadlessBackend m_backend;
};

TEST_F(AdapterDiscovery, CompanionListingGivesThisMachinesAddressesAndLeavesNoFile) {
  const std::string commandLine = std::string(KALVEX_IPCONFIG_PATH) + " ";
  EXPECT_EQ(capture_output("ipconfig", commandLine.c_str()), 0);
  const std::filesystem::path capture = capture_file_path();
  ASSERT_TRUE(std::filesystem::exists(capture));
  EXPECT_EQ(capture.filename(), "ipcfg");
  read_adapter_addresses();
  EXPECT_FALSE(std::filesystem::exists(capture));
  EXPECT_FALSE(std::filesystem::exists(capture.parent_path()));

  std::vector<std::string> expected;
  for (const platform::InterfaceAddress& address : platform::ipv4_interfaces())
    if (!address.loopback && address.address_net != 0 && expected.size() < kAdapterSlots)
      expected.push_back(platform::inet_ntoa(address.address_net));
  EXPECT_EQ(filled_slots(), expected);
  EXPECT_TRUE(m_backend.message_boxes().empty());
}

TEST_F(AdapterDiscovery, FailuresAreReportedAndLeaveAnEmptyList) {
  struct Failure {
    const char* commandLine;
    int result;
    std::vector<std::string> messages;
  };
  const Failure failures[] = {
      {"kalvex-no-such-program ", -1, {"Fail to start program ipconfig."}},
      {"false", -1, {}},
      {"true", 0, {}},
  };
  std::size_t boxesBefore = 0;
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.commandLine);
    EXPECT_EQ(capture_output("ipconfig", failure.commandLine), failure.result);
    const std::filesystem::path capture = capture_file_path();
    EXPECT_EQ(std::filesystem::file_size(capture), 0u);
    read_adapter_addresses();
    EXPECT_FALSE(std::filesystem::exists(capture));
    EXPECT_TRUE(filled_slots().empty());
    std::vector<std::string> shown;
    for (std::size_t i = boxesBefore; i < m_backend.message_boxes().size(); ++i)
      shown.push_back(m_backend.message_boxes()[i].text);
    boxesBefore = m_backend.message_boxes().size();
    EXPECT_EQ(shown, failure.messages);
  }
}

TEST_F(AdapterDiscovery, ScanWithoutACaptureListsNothing) {
  scan("   IP Address. . : 10.0.0.1\n");
  read_adapter_addresses();  // no capture was made: nothing to read or delete
  EXPECT_TRUE(filled_slots().empty());
}

TEST_F(AdapterDiscovery, UnwritableCaptureDirectoryIsFatal) {
  EXPECT_EXIT(
      {
        ::setenv("TMPDIR", "/nonexistent/kalvex", 1);
        capture_output("ipconfig", "true");
      },
      testing::ExitedWithCode(1), "");
}

}  // namespace
