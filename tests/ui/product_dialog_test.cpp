// The product dialog on the headless backend with real files in a scratch working
// directory: the radio list built from product.ini, the copy over flash.bin and its
// confirmation, going back, the missing image, and the picture dialog it opens.
#include "ui/product_dlg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "tests/support/scratch_dir.h"
#include "ui/picture_dlg.h"

namespace {

using kalvex::testing::read_file;
using kalvex::testing::write_file;
namespace steps = ui::steps;

std::string confirmation_for(const std::string& option, const std::string& name) {
  return "Attention:\n\n1. You have chosen option " + option + ", which can only be used for " +
         name +
         ".\n2. If you have any DHCP/bootp/tftp servers running on your PC, please disable them "
         "before running this program.\n\n Click 'OK' to continue, or 'Cancel' to change the "
         "product.";
}

class ProductDialog : public testing::Test {
 protected:
  kalvex::testing::ScratchDir m_dir;
  ui::HeadlessBackend m_backend;
};

TEST_F(ProductDialog, OkCopiesTheCheckedProductsImageThenConfirmsWithItsOptionNumber) {
  write_file("product.ini", "X10: first board\n");
  const std::string image("\x00\x01\xFFimage\r\n\x1A", 11);
  write_file("X10.bin", image, std::filesystem::perms::owner_read);
  write_file("flash.bin", "an older, longer image that must be fully replaced");
  CProductDlg dialog;
  m_backend.then([](ui::CDialog& shown) {
    const ui::CButton& radio = *static_cast<CProductDlg&>(shown).radio_buttons().at(0);
    EXPECT_EQ(radio.GetWindowText(), "X10: first board");
    EXPECT_EQ(radio.GetCheck(), 1);
    shown.PressEnter();
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(read_file("flash.bin"), image);
  const auto others = std::filesystem::status("flash.bin").permissions();
  EXPECT_NE(others & std::filesystem::perms::others_read, std::filesystem::perms::none)
      << "the TFTP server serves only world-readable files";
  ASSERT_EQ(m_backend.message_boxes().size(), 1u);
  EXPECT_EQ(m_backend.message_boxes()[0].text, confirmation_for("1", "X10"));
  EXPECT_EQ(m_backend.message_boxes()[0].caption, "kalvex");
  EXPECT_EQ(m_backend.message_boxes()[0].type, ui::MessageBoxType::OkCancel);
}

TEST_F(ProductDialog, CancelInTheConfirmationKeepsTheDialogAndTheCopyAndAnotherChoiceReplacesIt) {
  write_file("product.ini", "A1: first\n\nB2: third\n");
  write_file("A1.bin", "image of A1, the longer one");
  write_file("B2.bin", "B2");
  CProductDlg dialog;
  m_backend.answer_next_box(ui::IDCANCEL);
  m_backend.then(steps::click(ui::IDOK));
  m_backend.then([](ui::CDialog& shown) {
    EXPECT_TRUE(shown.is_running());
    EXPECT_EQ(read_file("flash.bin"), "image of A1, the longer one");
  });
  m_backend.then(steps::click(IDC_FIRST_PRODUCT + 2));  // the blank line is option 2
  m_backend.then(steps::click(ui::IDOK));
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(read_file("flash.bin"), "B2");
  ASSERT_EQ(m_backend.message_boxes().size(), 2u);
  EXPECT_EQ(m_backend.message_boxes()[1].text, confirmation_for("3", "B2"));
}

TEST_F(ProductDialog, EmptyCatalogLeavesOkAndViewPictureHarmless) {
  write_file("product.ini", "");
  CProductDlg dialog;
  m_backend.then(steps::click(ui::IDOK));
  m_backend.then(steps::click(IDC_VIEW_PICTURE));
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(m_backend.message_boxes().empty());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_PRODUCT_DIALOG});
}

TEST_F(ProductDialog, MissingImageEndsTheProgramWithStatus1) {
  write_file("product.ini", "X10: first board\n");
  write_file("flash.bin", "kept");
  EXPECT_EXIT(
      {
        m_backend.echo_message_boxes_to_stderr(true);
        m_backend.then(steps::click(ui::IDOK));
        CProductDlg().DoModal();
      },
      testing::ExitedWithCode(1), "\\[kalvex\\] Cannot find file X10\\.bin!");
  EXPECT_EQ(read_file("flash.bin"), "kept");
}

TEST_F(ProductDialog, ViewPictureShowsTheChosenProductsPictureStretchedAndDraggable) {
  write_file("product.ini", "A1: first\nB2: second\nC3: broken picture\n");
  write_file("B2.bmp", std::string("BM\x3E\0\0\0\0\0\0\0\x36\0\0\0"              // pixels at 54
                                   "\x28\0\0\0\x02\0\0\0\x01\0\0\0\x01\0\x18\0"  // 2 x 1, 24 bits
                                   "\0\0\0\0\x08\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                   "\xFF\0\0\0\0\xFF\0\0",  // blue, red, padding
                                   62));
  write_file("C3.bmp", "BM not really a bitmap");
  const auto shows = [this](const char* name, bool picture) {
    return [this, name, picture](ui::CDialog& shown) {
      SCOPED_TRACE(name);
      EXPECT_EQ(shown.GetDlgItemText(IDC_PICTURE_CAPTION), name);
      shown.OnLButtonDown(0, ui::Point{17, 9});
      shown.PressEscape();
      ASSERT_EQ(m_backend.draws().empty(), !picture);
      if (!picture) return;
      EXPECT_EQ(m_backend.draws().back().destination, shown.GetClientRect());
      EXPECT_EQ(m_backend.draws().back().bitmap->pixel(1, 0), 0xFFFF0000u);  // red
    };
  };
  CProductDlg dialog;
  for (const char* name : {"A1", "C3", "B2"}) {  // B2 last: the only one that draws
    m_backend.then(steps::click(IDC_FIRST_PRODUCT + (name[0] - 'A')));
    m_backend.then(steps::click(IDC_VIEW_PICTURE));
    m_backend.then(IDD_PICTURE_DIALOG, shows(name, name[0] == 'B'));
  }
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(m_backend.drags().size(), 3u) << "every picture window moves, picture or not";
  EXPECT_TRUE(m_backend.message_boxes().empty());
}

}  // namespace
