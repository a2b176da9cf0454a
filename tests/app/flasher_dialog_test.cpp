// The main dialog from the user's side: the address list, OK with good and bad addresses,
// a missing image, Esc at any moment, and the board address it chooses.
#include <thread>

#include "platform/net.h"
#include "platform/ui/event_loop.h"
#include "tests/app/flasher_fixture.h"

namespace {

using kalvex_test::FlasherTest;
using namespace std::chrono_literals;

std::uint32_t addr(const char* text) {
  return platform::inet_addr(text);
}

class AddressList : public FlasherTest {};

TEST_F(AddressList, LastPreferredEntryIsSelectedAndUnusableSlotsAreSkipped) {
  struct Case {
    const char* name;
    std::vector<std::string> slots;
    std::vector<std::string> listed;
    int selected;
  };
  const Case cases[] = {
      {"PreferredAfterOther", {"10.0.0.5", "192.168.1.7"}, {"10.0.0.5", "192.168.1.7"}, 1},
      {"LastPreferredWins", {"192.168.0.2", "192.168.1.7"}, {"192.168.0.2", "192.168.1.7"}, 1},
      {"NoPreferredTakesFirst", {"10.0.0.5", "172.16.0.1"}, {"10.0.0.5", "172.16.0.1"}, 0},
      {"ShortAndInvalidSlotsSkipped",
       {"1.2.3", "192.168.1.7", "", "192.168.9.999", "10.0.0.5"},
       {"192.168.1.7", "10.0.0.5"},
       0},
      {"NothingListed", {}, {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    adapterAddresses = {};
    for (std::size_t i = 0; i < c.slots.size(); ++i) set_slot(static_cast<int>(i), c.slots[i]);
    CFlasherDlg dialog;
    dialog.OnInitDialog();
    EXPECT_EQ(dialog.m_addressBox->items(), c.listed);
    EXPECT_EQ(dialog.m_addressBox->GetCurSel(), c.selected);
    EXPECT_EQ(dialog.ownAddresses.size(), c.listed.size());
    if (c.selected >= 0) {
      EXPECT_EQ(dialog.m_addressBox->GetWindowText(), c.listed[std::size_t(c.selected)]);
    }
  }
}

TEST_F(AddressList, WarningIsShownOnlyWithoutACatalog) {
  {
    CFlasherDlg dialog;
    dialog.OnInitDialog();
    EXPECT_TRUE(backend.message_boxes().empty());
  }
  std::filesystem::remove("product.ini");
  CFlasherDlg dialog;
  dialog.OnInitDialog();
  ASSERT_EQ(backend.message_boxes().size(), 1u);
  EXPECT_EQ(backend.message_boxes()[0].text,
            "Attention:\n\nIf you have any DHCP/bootp/tftp servers running on your PC, \n"
            "please disable them before running this program.\n");
  EXPECT_EQ(backend.message_boxes()[0].caption, "kalvex");
  EXPECT_FALSE(dialog.m_progress->IsWindowVisible());
  EXPECT_EQ(flash_state().mainWindow.load(), &dialog);
}

class ConfirmAddress : public FlasherTest {};

TEST_F(ConfirmAddress, InvalidAddressStartsNothingAndLeavesTheDialogChoosing) {
  write_file("flash.bin", "image");
  for (const char* text : {"", "abc", "255.255.255.255", "1.2.3.4.5", "192.168.1.256"}) {
    SCOPED_TRACE(text);
    CFlasherDlg dialog;
    confirm(dialog, text);
    EXPECT_EQ(status(dialog), "The IP address is invalid, please try again ...");
    EXPECT_TRUE(dialog.m_okButton->IsWindowVisible());
    EXPECT_TRUE(dialog.m_addressBox->IsWindowEnabled());
    EXPECT_FALSE(dialog.m_progress->IsWindowVisible());
    EXPECT_FALSE(flash_state().bootpThread.running());
    EXPECT_FALSE(flash_state().tftpThread.running());
  }
  EXPECT_EQ(bootpRuns + tftpRuns, 0);
}

TEST_F(ConfirmAddress, ValidAddressServesAndASecondOkStartsNothingMore) {
  write_file("flash.bin", std::string(1234, 'x'));
  set_slot(0, "192.168.1.10");
  set_slot(1, "192.168.1.9");
  CFlasherDlg dialog;
  dialog.OnInitDialog();
  dialog.SetDlgItemText(IDC_ADDRESS, "");
  dialog.OnOK();  // empty first, then corrected
  dialog.SetDlgItemText(IDC_ADDRESS, "192.168.1.10");
  dialog.OnOK();
  EXPECT_EQ(status(dialog), "Server is ready ...");
  EXPECT_FALSE(dialog.m_okButton->IsWindowVisible());
  EXPECT_FALSE(dialog.m_addressBox->IsWindowEnabled());
  EXPECT_TRUE(dialog.m_progress->IsWindowVisible());
  EXPECT_EQ(flash_state().serverAddress, addr("192.168.1.10"));
  EXPECT_EQ(flash_state().clientAddress, addr("192.168.1.8")) << "192.168.1.9 is our own";
  EXPECT_EQ(flash_state().imageSize, 1234);
  EXPECT_TRUE(flash_state().bootpThread.running());
  EXPECT_TRUE(flash_state().tftpThread.running());

  dialog.PressEnter();  // the hidden default button still takes Enter
  while (bootpRuns + tftpRuns < 2) std::this_thread::yield();
  EXPECT_EQ(bootpRuns, 1);
  EXPECT_EQ(tftpRuns, 1);
  dialog.OnCancel();
}

using ConfirmAddressDeathTest = ConfirmAddress;

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
  EXPECT_EQ(bootpRuns + tftpRuns, 0);
}

class CloseDialog : public FlasherTest {};

TEST_F(CloseDialog, EscBeforeOkEndsTheDialogWithNothingStarted) {
  CFlasherDlg dialog;
  backend.then(IDD_FLASHER_DIALOG, ui::steps::press_escape());
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(bootpRuns + tftpRuns, 0);
  EXPECT_TRUE(backend.script_errors().empty());
}

TEST_F(CloseDialog, EscInMidRunStopsBothThreadsAndNothingChangesAfterwards) {
  write_file("flash.bin", std::string(100'000, 'x'));
  std::atomic<bool> stopped{false};
  // A transfer that keeps counting until it is stopped.
  flasher_seams().tftpBody = [&](const platform::StopToken& stop) {
    ++tftpRuns;
    while (!stop.stop_requested()) {
      flash_state().bytesSent.fetch_add(512);
      std::this_thread::yield();
    }
    stopped = true;
  };
  CFlasherDlg dialog;
  backend.then(ui::steps::type_text(IDC_ADDRESS, "192.168.1.10"));
  backend.then(ui::steps::click(ui::IDOK));
  backend.then([&](ui::CDialog&) {
    while (flash_state().bytesSent == 0) std::this_thread::yield();
  });
  backend.then(ui::steps::wait(backend, 600ms));
  backend.then(ui::steps::press_escape());
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(flash_state().bootpThread.running());
  EXPECT_FALSE(flash_state().tftpThread.running());
  EXPECT_EQ(flash_state().bytesSent, 0);
  EXPECT_EQ(flash_state().percentDone, 0);
  EXPECT_TRUE(flash_state().bootpStopped) << "the ticks saw the data";
  EXPECT_EQ(backend.texts_of(IDC_STATUS).back().rfind("Updating Image", 0), 0u);
  EXPECT_FALSE(ui::event_loop().next_due().has_value()) << "the dialog's timers are gone";
}

class BoardAddress : public FlasherTest {};

TEST_F(BoardAddress, ExamplesPickTheNearestFreeNeighbour) {
  struct Case {
    const char* adapter;
    std::vector<const char*> own;
    const char* board;
  };
  const Case cases[] = {
      {"192.168.1.10", {}, "192.168.1.9"},    {"192.168.1.10", {"192.168.1.9"}, "192.168.1.8"},
      {"192.168.1.3", {}, "192.168.1.2"},     {"192.168.1.2", {}, "192.168.1.3"},
      {"192.168.1.1", {}, "192.168.1.2"},     {"192.168.1.254", {}, "192.168.1.253"},
      {"192.168.1.253", {}, "192.168.1.252"}, {"192.168.1.255", {}, "192.168.1.254"},
      {"10.1.2.3", {"10.1.2.2"}, "10.1.2.4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.adapter);
    CFlasherDlg dialog;
    dialog.ownAddresses.insert(addr(c.adapter));
    for (const char* own : c.own) dialog.ownAddresses.insert(addr(own));
    EXPECT_EQ(platform::inet_ntoa(dialog.ChooseBoardAddress(addr(c.adapter))), c.board);
  }
}

TEST_F(BoardAddress, NeverOwnAndNeverOutsideTheNetworkForAnyLastOctet) {
  for (bool neighbours : {false, true}) {
    for (std::uint32_t last = 1; last <= 255; ++last) {
      SCOPED_TRACE(testing::Message() << "last octet " << last << " neighbours " << neighbours);
      CFlasherDlg dialog;
      const std::uint32_t adapter = platform::host_to_net32(0xC0A80100u | last);
      dialog.ownAddresses.insert(adapter);
      if (neighbours) {
        dialog.ownAddresses.insert(platform::host_to_net32(0xC0A80100u | ((last - 1) & 0xFF)));
        dialog.ownAddresses.insert(platform::host_to_net32(0xC0A80100u | ((last + 1) & 0xFF)));
      }
      const std::uint32_t board = dialog.ChooseBoardAddress(adapter);
      const std::uint32_t boardHost = platform::net_to_host32(board);
      EXPECT_EQ(dialog.ownAddresses.count(board), 0u);
      EXPECT_EQ(boardHost & 0xFFFFFF00u, 0xC0A80100u);
      EXPECT_GE(boardHost & 0xFFu, 2u);
      EXPECT_LE(boardHost & 0xFFu, last == 255 ? 254u : 253u);
    }
  }
}

TEST_F(BoardAddress, NoFreeCandidateGivesAllOnes) {
  CFlasherDlg dialog;
  for (std::uint32_t last = 0; last <= 255; ++last)
    dialog.ownAddresses.insert(platform::host_to_net32(0x0A000000u | last));
  EXPECT_EQ(dialog.ChooseBoardAddress(addr("10.0.0.100")), platform::kInaddrNone);
}

}  // namespace
