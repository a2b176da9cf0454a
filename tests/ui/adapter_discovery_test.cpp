// Adapter discovery: the scan of an ipconfig listing as a table of lines and the slots they
// fill, and the whole road through a real child process: the companion listing of this
// machine, a command that cannot start, and the capture file that is gone afterwards.
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
  for (const auto& slot : adapterAddresses)
    if (slot[0] != '\0') slots.emplace_back(slot.data(), strnlen(slot.data(), slot.size() - 1));
  return slots;
}

std::string addresses(int count) {
  std::string listing;
  for (int i = 1; i <= count; ++i)
    listing += "   IP Address. . . . . . . . . . . . : 10.0.0." + std::to_string(i) + "\n";
  return listing;
}

TEST(AdapterListingScan, FillsTheSlotsInListingOrder) {
  struct Case {
    std::string listing;
    std::vector<std::string> slots;
  };
  std::vector<std::string> ten;  // of fourteen listed, only ten fit
  for (int i = 1; i <= 10; ++i) ten.push_back("10.0.0." + std::to_string(i));
  const Case cases[] = {
      {"        IP Address. . . . . . . . . . . . : 192.168.1.5\n", {"192.168.1.5"}},
      {"        Subnet Mask . . . . . . . . . . . : 192.168.1.5\n", {}},
      {"        ip address. . . . : 192.168.1.5\n", {}},
      {"   Autoconfiguration IP Address. . . : 169.254.7.9\n", {"169.254.7.9"}},
      {"   IP Address. . . . . . . . . . . . : 0.0.0.0\n", {}},
      {"   IP Address. . . . . . . . . . . . : 0.0.0.1\n", {"0.0.0.1"}},
      {"IP Address:192.168.1.5\n", {"92.168.1.5"}},
      {"   IP Address 192.168.1.5\n   IP Address. . . :\n   IP Address. . . : \t \r\n", {}},
      {"IP Address: \t10.1.2.3\t(Preferred)\r\n", {"10.1.2.3"}},
      {"eth0:\n   IP Address. . : 192.168.1.5\n   Mask. . : 255.0.0.0\n   IP Address. . : "
       "10.0.0.7\n",
       {"192.168.1.5", "10.0.0.7"}},
      {std::string(250, ' ') + "IP Address. . . : 10.0.0.2\n", {}},  // cut at 255 characters
      {"   IP Address. . : " + std::string(40, '1') + "\n", {}},     // too long for a slot
      {addresses(14), ten},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listing.substr(0, 60));
    adapterAddresses[0].fill('x');  // left from an earlier scan
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(c.listing.data(), 1, c.listing.size(), file);
    std::rewind(file);
    scan_adapter_listing(file);
    std::fclose(file);
    EXPECT_EQ(filled_slots(), c.slots);
  }
}

void point_temporary_files_nowhere() {
#ifdef _WIN32
  ::_putenv_s("TMP", "Z:\\nonexistent\\kalvex");
#else
  ::setenv("TMPDIR", "/nonexistent/kalvex", 1);
#endif
}

class AdapterDiscovery : public testing::Test {
 protected:
  ui::HeadlessBackend m_backend;
};

TEST_F(AdapterDiscovery, CompanionListingGivesThisMachinesAddressesAndLeavesNoFile) {
  const std::string commandLine = std::string(KALVEX_IPCONFIG_PATH) + " ";
  EXPECT_EQ(capture_output("ipconfig", commandLine.c_str()), 0);
  const std::filesystem::path capture = capture_file_path();
  EXPECT_EQ(capture.filename(), "ipcfg");
  read_adapter_addresses();
  EXPECT_FALSE(std::filesystem::exists(capture.parent_path()));
  std::vector<std::string> expected;
  for (const platform::InterfaceAddress& address : platform::ipv4_interfaces())
    if (!address.loopback && address.address_net != 0 && expected.size() < kAdapterSlots)
      expected.push_back(platform::inet_ntoa(address.address_net));
  EXPECT_EQ(filled_slots(), expected);
  EXPECT_TRUE(m_backend.message_boxes().empty());
}

TEST_F(AdapterDiscovery, CommandThatCannotStartIsReportedAndListsNothing) {
  EXPECT_EQ(capture_output("ipconfig", "kalvex-no-such-program "), -1);
  const std::filesystem::path capture = capture_file_path();
  read_adapter_addresses();
  EXPECT_FALSE(std::filesystem::exists(capture.parent_path()));
  EXPECT_TRUE(filled_slots().empty());
  ASSERT_EQ(m_backend.message_boxes().size(), 1u);
  EXPECT_EQ(m_backend.message_boxes()[0].text, "Fail to start program ipconfig.");
}

TEST_F(AdapterDiscovery, UnwritableCaptureDirectoryIsFatal) {
  EXPECT_EXIT(
      {
        m_backend.echo_message_boxes_to_stderr(true);
        point_temporary_files_nowhere();
        capture_output("ipconfig", "true");
      },
      testing::ExitedWithCode(1), "Please don't run this program from a read-only directory!");
}

}  // namespace
