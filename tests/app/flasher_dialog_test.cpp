// The main dialog from the user's side: the address list and its default, OK with bad and
// good addresses, a missing image, Esc before and during a run, and the board's address.
#include "platform/net.h"
#include "platform/ui/event_loop.h"
#include "tests/app/flasher_fixture.h"
#include "tests/support/eventually.h"

namespace {

using kalvex::testing::FlasherTest;

std::uint32_t addr(const char* text) {
  return platform::inet_addr(text);
}

using AddressList = FlasherTest;

TEST_F(AddressList, ListsUsableSlotsAndSelectsTheLast192168Entry) {
  struct Case {
    std::vector<std::string> slots, listed;
    int selected;
  };
  const Case cases[] = {
      {{"10.0.0.5", "192.168.1.7"}, {"10.0.0.5", "192.168.1.7"}, 1},
      {{"192.168.0.2", "192.168.1.7", "10.0.0.5"}, {"192.168.0.2", "192.168.1.7", "10.0.0.5"}, 1},
      {{"10.0.0.5", "172.16.0.1"}, {"10.0.0.5", "172.16.0.1"}, 0},
      {{"1.2.3", "192.168.1.7", "", "192.168.9.999", "10.0.0.5"}, {"192.168.1.7", "10.0.0.5"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slots.size());
    set_slots(c.slots);
    CFlasherDlg dialog;
    dialog.OnInitDialog();
    EXPECT_EQ(dialog.m_addressBox->items(), c.listed);
    EXPECT_EQ(dialog.GetDlgItemText(IDC_ADDRESS), c.listed[std::size_t(c.selected)]);
  }
}

using ConfirmAddress = FlasherTest;

TEST_F(ConfirmAddress, InvalidAddressSaysSoAndStartsNothing) {
  kalvex::testing::write_file("flash.bin", "image");
  for (const char* text : {"", "abc", "255.255.255.255", "1.2.3.4.5", "192.168.1.256"}) {
    SCOPED_TRACE(text);
    CFlasherDlg dialog;
    confirm(dialog, text);
    EXPECT_EQ(status(dialog), "The IP address is invalid, please try again ...");
    EXPECT_TRUE(dialog.m_okButton->IsWindowVisible());
    EXPECT_FALSE(dialog.m_progress->IsWindowVisible());
  }
  EXPECT_EQ(bootpRuns + tftpRuns, 0);
}

TEST_F(ConfirmAddress, ValidAddressServesUntilEscStopsBothServers) {
  kalvex::testing::write_file("flash.bin", std::string(1234, 'x'));
  set_slots({"192.168.1.10", "192.168.1.9"});
  CFlasherDlg dialog;
  backend.then(ui::steps::type_text(IDC_ADDRESS, ""));
  backend.then(ui::steps::click(ui::IDOK));  // empty first, then corrected
  backend.then(ui::steps::type_text(IDC_ADDRESS, "192.168.1.10"));
  backend.then(ui::steps::press_enter());
  backend.then([&](ui::CDialog&) {
    EXPECT_EQ(status(dialog), "Server is ready ...");
    EXPECT_FALSE(dialog.m_okButton->IsWindowVisible());
    EXPECT_FALSE(dialog.m_addressBox->IsWindowEnabled());
    EXPECT_TRUE(dialog.m_progress->IsWindowVisible());
    EXPECT_EQ(flash_state().clientAddress, addr("192.168.1.8")) << "192.168.1.9 is our own";
    EXPECT_EQ(flash_state().imageSize, 1234);
    dialog.PressEnter();  // the hidden default button still takes Enter: nothing more starts
    kalvex::testing::eventually([&] { return bootpRuns + tftpRuns == 2; }, "both servers");
  });
  backend.then(ui::steps::press_escape());
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(bootpRuns, 1);
  EXPECT_EQ(tftpRuns, 1);
  EXPECT_FALSE(flash_state().bootpThread.running());
  EXPECT_FALSE(flash_state().tftpThread.running());
  EXPECT_FALSE(ui::event_loop().next_due().has_value()) << "the dialog's timers are gone";
}

TEST_F(ConfirmAddress, EscBeforeOkEndsTheDialogWithNothingStarted) {
  CFlasherDlg dialog;
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);  // no steps: the user presses Esc
  EXPECT_EQ(bootpRuns + tftpRuns, 0);
}

using ConfirmAddressDeathTest = FlasherTest;

TEST_F(ConfirmAddressDeathTest, MissingImageEndsTheProgramWithAMessageAndCodeOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        backend.echo_message_boxes_to_stderr(true);
        CFlasherDlg dialog;
        confirm(dialog, "192.168.1.10");
        std::fprintf(stderr, "still running\n");
      },
      testing::ExitedWithCode(1), "^\\[kalvex\\] Error: flash.bin is not found!\n$");
}

using BoardAddress = FlasherTest;

TEST_F(BoardAddress, NearestFreeNeighbourBelowThenAbove) {
  struct Case {
    const char* adapter;
    const char* ownNeighbour;
    const char* board;
  };
  const Case cases[] = {
      {"192.168.1.10", nullptr, "192.168.1.9"}, {"192.168.1.10", "192.168.1.9", "192.168.1.8"},
      {"192.168.1.3", nullptr, "192.168.1.2"},  {"192.168.1.2", nullptr, "192.168.1.3"},
      {"192.168.1.1", nullptr, "192.168.1.2"},  {"192.168.1.254", nullptr, "192.168.1.253"},
      {"10.1.2.3", "10.1.2.2", "10.1.2.4"},     {"192.168.1.255", nullptr, "192.168.1.254"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.adapter);
    CFlasherDlg dialog;
    dialog.ownAddresses = {addr(c.adapter)};
    if (c.ownNeighbour != nullptr) dialog.ownAddresses.insert(addr(c.ownNeighbour));
    EXPECT_EQ(platform::inet_ntoa(dialog.ChooseBoardAddress(addr(c.adapter))), c.board);
  }
}

TEST_F(BoardAddress, ForEveryLastOctetStaysInTheNetworkAndOffOurOwnAddresses) {
  for (std::uint32_t last = 1; last <= 255; ++last) {
    SCOPED_TRACE(last);
    CFlasherDlg dialog;
    for (std::uint32_t own : {last - 1, last, last + 1})  // the adapter and both neighbours
      dialog.ownAddresses.insert(platform::host_to_net32(0xC0A80100u | (own & 0xFF)));
    const std::uint32_t board = platform::net_to_host32(
        dialog.ChooseBoardAddress(platform::host_to_net32(0xC0A80100u | last)));
    EXPECT_EQ(dialog.ownAddresses.count(platform::host_to_net32(board)), 0u);
    EXPECT_EQ(board & 0xFFFFFF00u, 0xC0A80100u);
    EXPECT_GE(board & 0xFFu, 2u);
    EXPECT_LE(board & 0xFFu, 253u);
  }
}

}  // namespace
