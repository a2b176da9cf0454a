// The order of the dialogs at start-up, end to end on the headless backend: the product
// choice first when product.ini exists, the main dialog with the server warning when it does
// not, and a cancelled product choice ends everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/flasher_app.h"
#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "tests/support/scratch_dir.h"

namespace {

using kalvex::testing::write_file;

class StartupOrder : public testing::Test {
 protected:
  kalvex::testing::ScratchDir m_dir;
  ui::HeadlessBackend m_backend;
  CFlasherApp m_app;
};

TEST_F(StartupOrder, CancelledProductChoiceEndsWithoutTheMainDialog) {
  write_file("product.ini", "X10: first board\n");
  write_file("X10.bin", "image");
  m_backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_escape());
  EXPECT_FALSE(m_app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_PRODUCT_DIALOG});
  EXPECT_FALSE(std::filesystem::exists("flash.bin"));
}

TEST_F(StartupOrder, ConfirmedProductLeadsToTheMainDialog) {
  write_file("product.ini", "X10: first board\n");
  write_file("X10.bin", "image");
  m_backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_enter());
  m_backend.then(IDD_FLASHER_DIALOG, ui::steps::press_escape());
  EXPECT_FALSE(m_app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), (std::vector<int>{IDD_PRODUCT_DIALOG, IDD_FLASHER_DIALOG}));
  EXPECT_EQ(m_backend.message_boxes().size(), 1u) << "only the product confirmation";
  EXPECT_EQ(kalvex::testing::read_file("flash.bin"), "image");
}

TEST_F(StartupOrder, WithoutCatalogTheServerWarningComesBeforeTheMainDialog) {
  std::vector<std::size_t> boxesWhenShown;
  m_backend.then(IDD_FLASHER_DIALOG, [&](ui::CDialog& shown) {
    boxesWhenShown.push_back(m_backend.message_boxes().size());
    shown.PressEscape();
  });
  EXPECT_FALSE(m_app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_FLASHER_DIALOG});
  EXPECT_EQ(boxesWhenShown, std::vector<std::size_t>{1});
  ASSERT_EQ(m_backend.message_boxes().size(), 1u);
  EXPECT_EQ(m_backend.message_boxes()[0].text,
            "Attention:\n\nIf you have any DHCP/bootp/tftp servers running on your PC, \n"
            "please disable them before running this program.\n");
}

}  // namespace
