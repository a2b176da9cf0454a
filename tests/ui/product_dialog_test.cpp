// The product dialog on the headless backend with real files in a scratch working
// directory: the radio list built from product.ini, the copy over flash.bin and its
// confirmation, going back, the missing image, and the picture dialog it opens.
#include "ui/product_dlg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "ui/picture_dlg.h"

namespace {

namespace fs = std::filesystem;
using ui::HeadlessBackend;
namespace steps = ui::steps;

std::string confirmation_for(const std::string& option, const std::string& name) {
  return "Attention:\n\n1. You have chosen option " + option + ", which can only be used for " +
         name +
         ".\n2. If you have any DHCP/bootp/tftp servers running on your PC, please disable them "
         "before running this program.\n\n Click 'OK' to continue, or 'Cancel' to change the "
         "product.";
}

// A scratch working directory, entered for the test and removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/kalvex-products-XXXXXX";
    m_path = ::mkdtemp(pattern);
    m_previous = fs::current_path();
    fs::current_path(m_path);
  }
  ~ScratchDirectory() {
    fs::current_path(m_previous);
    fs::remove_all(m_path);
  }
  static void write(const std::string& name, const std::string& contents) {
    std::ofstream(name, std::ios::binary) << contents;
  }
  static std::string read(const std::string& name) {
    std::ifstream stream(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }

 private:
  fs::path m_path;
  fs::path m_previous;
};

class ProductDialog : public testing::Test {
 protected:
  ScratchDirectory m_directory;
  HeadlessBackend m_backend;
};

TEST_F(ProductDialog, SingleEntryIsCheckedAndOkCopiesItsImageAfterTheConfirmation) {
  ScratchDirectory::write("product.ini", "X10: first board\n");
  const std::string image("\x00\x01\xFFimage\r\n\x1A", 11);
  ScratchDirectory::write("X10.bin", image);
  ScratchDirectory::write("flash.bin", "an older, longer image that must be fully replaced");

  CProductDlg dialog;
  m_backend.then(IDD_PRODUCT_DIALOG, [](ui::CDialog& shown) {
    auto& product = static_cast<CProductDlg&>(shown);
    ASSERT_EQ(product.radio_buttons().size(), 1u);
    ui::CButton* radio = product.radio_buttons()[0];
    EXPECT_EQ(radio->GetDlgCtrlID(), IDC_FIRST_PRODUCT);
    EXPECT_EQ(radio->GetWindowText(), "X10: first board");
    EXPECT_EQ(radio->kind(), ui::ControlKind::RadioButton);
    EXPECT_EQ(radio->GetCheck(), 1);
    shown.PressEnter();
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);

  EXPECT_EQ(ScratchDirectory::read("flash.bin"), image);
  struct stat status {};
  ASSERT_EQ(::stat("flash.bin", &status), 0);
  EXPECT_NE(status.st_mode & S_IROTH, 0u) << "the TFTP server serves only world-readable files";
  ASSERT_EQ(m_backend.message_boxes().size(), 1u);
  const ui::MessageBoxRecord& box = m_backend.message_boxes()[0];
  EXPECT_EQ(box.text, confirmation_for("1", "X10"));
  EXPECT_EQ(box.caption, "kalvex");
  EXPECT_EQ(box.type, ui::MessageBoxType::OkCancel);
  EXPECT_TRUE(dialog.radio_buttons().empty()) << "the radio buttons go before the dialog ends";
}

TEST_F(ProductDialog, CancelInTheConfirmationKeepsTheCopyAndAnotherChoiceReplacesIt) {
  ScratchDirectory::write("product.ini", "A1: first\n\nB2: third\n");
  ScratchDirectory::write("A1.bin", "image of A1, the longer one");
  ScratchDirectory::write("B2.bin", "B2");

  CProductDlg dialog;
  m_backend.answer_next_box(ui::IDCANCEL);
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(ui::IDOK));
  m_backend.then(IDD_PRODUCT_DIALOG, [](ui::CDialog& shown) {
    auto& product = static_cast<CProductDlg&>(shown);
    EXPECT_TRUE(shown.is_running()) << "Cancel in the confirmation returns to the choice";
    EXPECT_EQ(ScratchDirectory::read("flash.bin"), "image of A1, the longer one");
    ASSERT_EQ(product.radio_buttons().size(), 3u);
    EXPECT_EQ(product.radio_buttons()[1]->GetWindowText(), ":");
  });
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_FIRST_PRODUCT + 2));
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(ui::IDOK));
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);

  EXPECT_EQ(ScratchDirectory::read("flash.bin"), "B2");
  ASSERT_EQ(m_backend.message_boxes().size(), 2u);
  EXPECT_EQ(m_backend.message_boxes()[0].text, confirmation_for("1", "A1"));
  EXPECT_EQ(m_backend.message_boxes()[1].text, confirmation_for("3", "B2"));
}

TEST_F(ProductDialog, RadioRowsFollowAt25PixelStepsPastTheGroupBox) {
  std::string catalog;
  for (int k = 0; k < 12; ++k) catalog += "P" + std::to_string(k) + ": board\n";
  ScratchDirectory::write("product.ini", catalog);

  CProductDlg dialog;
  m_backend.then(IDD_PRODUCT_DIALOG, [](ui::CDialog& shown) {
    auto& product = static_cast<CProductDlg&>(shown);
    const ui::Rect group = shown.GetDlgItem(IDC_PRODUCT_GROUP)->GetClientRect();
    ASSERT_GT(group.right, 25);
    ASSERT_EQ(product.radio_buttons().size(), 12u);
    for (int k = 0; k < 12; ++k) {
      SCOPED_TRACE(k);
      ui::CButton* radio = product.radio_buttons()[static_cast<std::size_t>(k)];
      EXPECT_EQ(radio->GetDlgCtrlID(), IDC_FIRST_PRODUCT + k);
      EXPECT_EQ(radio->GetWindowRect(), (ui::Rect{25, 40 + 25 * k, group.right, 60 + 25 * k}));
      EXPECT_EQ(radio->GetCheck(), k == 0 ? 1 : 0);
      EXPECT_EQ(product.product_names()[static_cast<std::size_t>(k)], "P" + std::to_string(k));
    }
    shown.PressEscape();
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(dialog.radio_buttons().empty());
  EXPECT_FALSE(fs::exists("flash.bin"));
}

TEST_F(ProductDialog, EmptyCatalogLeavesOkAndViewPictureHarmlessAndCancelEnds) {
  ScratchDirectory::write("product.ini", "");
  CProductDlg dialog;
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(ui::IDOK));
  m_backend.then(IDD_PRODUCT_DIALOG, steps::press_enter());
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_VIEW_PICTURE));
  m_backend.then(IDD_PRODUCT_DIALOG, [](ui::CDialog& shown) {
    EXPECT_TRUE(shown.is_running());
    shown.PressEscape();
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(m_backend.message_boxes().empty());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_PRODUCT_DIALOG});
  EXPECT_FALSE(fs::exists("flash.bin"));
}

TEST_F(ProductDialog, MissingCatalogShowsTheDialogWithoutEntries) {
  CProductDlg dialog;
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);  // the script is empty: the user presses Esc
  EXPECT_TRUE(dialog.product_names().empty());
}

// The message box is answered and recorded in the dying child; echo it where the death
// test can see it.
class EchoingBackend final : public ui::Backend {
 public:
  explicit EchoingBackend(HeadlessBackend& inner) : m_inner(inner) {}
  ui::BaseUnits base_units() const override { return m_inner.base_units(); }
  void run_modal(ui::CDialog& dialog) override { m_inner.run_modal(dialog); }
  int message_box(const std::string& text, const std::string& caption,
                  ui::MessageBoxType type) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return m_inner.message_box(text, caption, type);
  }
  void control_changed(ui::CDialog& d, ui::CWnd& c) override { m_inner.control_changed(d, c); }
  void control_created(ui::CDialog& d, ui::CWnd& c) override { m_inner.control_created(d, c); }
  void control_destroyed(ui::CDialog& d, ui::CWnd& c) override { m_inner.control_destroyed(d, c); }
  void invalidate(ui::CDialog& d) override { m_inner.invalidate(d); }
  void begin_window_drag(ui::CDialog& d, ui::Point p) override { m_inner.begin_window_drag(d, p); }
  void wake() override { m_inner.wake(); }

 private:
  HeadlessBackend& m_inner;
};

TEST_F(ProductDialog, MissingImageEndsTheProgramWithStatus1) {
  ScratchDirectory::write("product.ini", "X10: first board\n");
  ScratchDirectory::write("flash.bin", "kept");
  EXPECT_EXIT(
      {
        EchoingBackend echoing(m_backend);
        ui::set_backend(&echoing);
        CProductDlg dialog;
        m_backend.then(IDD_PRODUCT_DIALOG, steps::click(ui::IDOK));
        dialog.DoModal();
      },
      testing::ExitedWithCode(1), "\\[kalvex\\] Cannot find file X10\\.bin!");
  EXPECT_EQ(ScratchDirectory::read("flash.bin"), "kept");
}

TEST_F(ProductDialog, ViewPictureShowsTheChosenProductsPictureStretched) {
  ScratchDirectory::write("product.ini", "A1: first\nB2: second\n");
  // A 2 x 1 picture, 24 bits, bottom-up: one row of 6 bytes padded to 8.
  const std::string bmp(
      "BM\x3E\0\0\0\0\0\0\0\x36\0\0\0"              // file header, pixels at 54
      "\x28\0\0\0\x02\0\0\0\x01\0\0\0\x01\0\x18\0"  // 40-byte header: 2 x 1, 1 plane, 24 bits
      "\0\0\0\0\x08\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
      "\xFF\0\0\0\0\xFF\0\0",  // blue, red, padding
      62);
  ScratchDirectory::write("B2.bmp", bmp);

  CProductDlg dialog;
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_FIRST_PRODUCT + 1));
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_VIEW_PICTURE));
  m_backend.then(IDD_PICTURE_DIALOG, [this](ui::CDialog& shown) {
    auto& picture = static_cast<CPictureDlg&>(shown);
    EXPECT_EQ(shown.GetDlgItemText(IDC_PICTURE_CAPTION), "B2");
    ASSERT_TRUE(picture.has_picture());
    EXPECT_EQ(picture.picture()->width, 2);
    EXPECT_EQ(picture.picture()->height, 1);
    EXPECT_EQ(picture.picture()->pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(picture.picture()->pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(picture.picture()->file_name, "B2.bmp");
    ASSERT_FALSE(m_backend.draws().empty());
    const ui::DrawRecord& draw = m_backend.draws().back();
    EXPECT_EQ(draw.templateId, IDD_PICTURE_DIALOG);
    EXPECT_EQ(draw.destination, shown.GetClientRect()) << "stretched over the whole client area";
    EXPECT_EQ(draw.bitmap, picture.picture());
    EXPECT_TRUE(shown.IsTransparentStatic(*shown.GetDlgItem(IDC_PICTURE_CAPTION)));
    shown.OnLButtonDown(0, ui::Point{17, 9});
    ASSERT_EQ(m_backend.drags().size(), 1u);
    EXPECT_EQ(m_backend.drags()[0].x, 17);
    EXPECT_EQ(m_backend.drags()[0].y, 9);
  });
  m_backend.then(IDD_PICTURE_DIALOG, steps::click(ui::IDOK));
  m_backend.then(IDD_PRODUCT_DIALOG, [](ui::CDialog& shown) {
    auto& product = static_cast<CProductDlg&>(shown);
    EXPECT_EQ(product.radio_buttons()[1]->GetCheck(), 1) << "the choice survives the picture";
    shown.PressEscape();
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(m_backend.dialogs_run(), (std::vector<int>{IDD_PRODUCT_DIALOG, IDD_PICTURE_DIALOG}));
  EXPECT_TRUE(m_backend.script_errors().empty());
}

TEST_F(ProductDialog, MissingOrBrokenPictureOpensThePictureDialogWithoutOne) {
  ScratchDirectory::write("product.ini", "A1: no picture\nB2: broken picture\n");
  ScratchDirectory::write("B2.bmp", "BM not really a bitmap");
  const auto without_picture = [this](ui::CDialog& shown) {
    EXPECT_FALSE(static_cast<CPictureDlg&>(shown).has_picture());
    EXPECT_NE(shown.GetDlgItemText(IDC_PICTURE_CAPTION), "");
    EXPECT_TRUE(m_backend.draws().empty()) << "the ordinary background is drawn";
    shown.OnLButtonDown(0, ui::Point{1, 2});  // still draggable
    shown.PressEscape();
  };
  CProductDlg dialog;
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_VIEW_PICTURE));
  m_backend.then(IDD_PICTURE_DIALOG, without_picture);
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_FIRST_PRODUCT + 1));
  m_backend.then(IDD_PRODUCT_DIALOG, steps::click(IDC_VIEW_PICTURE));
  m_backend.then(IDD_PICTURE_DIALOG, without_picture);
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(m_backend.drags().size(), 2u);
  EXPECT_TRUE(m_backend.message_boxes().empty());
}

}  // namespace
