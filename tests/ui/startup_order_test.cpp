// The order of the dialogs at start-up, end to end on the headless backend with the real
// companion listing: the product choice first when product.ini exists, the main dialog
// with the DHCP warning when it does not, and a cancelled product choice ends everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

#include "app/flasher_app.h"
#include "platform/interfaces.h"
#include "platform/net.h"
#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "res/templates.h"

namespace {

namespace fs = std::filesystem;

class StartupOrder : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kalvex-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_directory = pattern;
    m_previous = fs::current_path();
    fs::current_path(m_directory);
  }
  void TearDown() override {
    fs::current_path(m_previous);
    fs::remove_all(m_directory);
  }
  static void write(const std::string& name, const std::string& contents) {
    std::ofstream(name, std::ios::binary) << contents;
  }

  fs::path m_directory;
  fs::path m_previous;
  ui::HeadlessBackend m_backend;
};

TEST_F(StartupOrder, CancelledProductChoiceEndsWithoutTheMainDialog) {
  write("product.ini", "X10: first board\n");
  write("X10.bin", "image");
  m_backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_escape());
  CFlasherApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_PRODUCT_DIALOG});
  EXPECT_TRUE(m_backend.message_boxes().empty());
  EXPECT_FALSE(fs::exists("flash.bin"));
}

TEST_F(StartupOrder, ConfirmedProductLeadsToTheMainDialogWithThisMachinesAddresses) {
  write("product.ini", "X10: first board\n");
  write("X10.bin", "image");
  m_backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_enter());
  m_backend.then(IDD_FLASHER_DIALOG, [](ui::CDialog& shown) {
    auto* addresses = dynamic_cast<ui::CComboBox*>(shown.GetDlgItem(IDC_ADDRESS));
    ASSERT_NE(addresses, nullptr);
    std::vector<std::string> expected;
    for (const platform::InterfaceAddress& address : platform::ipv4_interfaces())
      if (!address.loopback && address.address_net != 0 && expected.size() < 10)
        expected.push_back(platform::inet_ntoa(address.address_net));
    EXPECT_EQ(addresses->items(), expected);
    shown.PressEscape();
  });
  CFlasherApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), (std::vector<int>{IDD_PRODUCT_DIALOG, IDD_FLASHER_DIALOG}));
  ASSERT_EQ(m_backend.message_boxes().size(), 1u) << "only the product confirmation";
  EXPECT_NE(m_backend.message_boxes()[0].text.find("option 1, which can only be used for X10."),
            std::string::npos);
  EXPECT_TRUE(m_backend.script_errors().empty());
}

TEST_F(StartupOrder, WithoutCatalogTheMainDialogComesFirstWithTheServerWarning) {
  m_backend.then(IDD_FLASHER_DIALOG, ui::steps::press_escape());
  CFlasherApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_FLASHER_DIALOG});
  ASSERT_EQ(m_backend.message_boxes().size(), 1u);
  EXPECT_EQ(m_backend.message_boxes()[0].text, res::load_string(IDS_SERVER_WARNING));
}

}  // namespace
