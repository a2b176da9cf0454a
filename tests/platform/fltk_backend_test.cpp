// The FLTK backend on a real (virtual) display: layout from the templates, radio groups,
// Enter and Escape, nested message boxes, timers and work posted from other threads, the
// picture painted under a transparent label, and dragging a window by its background.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/bitmap.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/fltk/dialog_font.h"
#include "platform/ui/fltk/dialog_window.h"
#include "platform/ui/fltk/fltk_backend.h"
#include "platform/ui/fltk/fltk_dc.h"
#include "platform/ui/fltk/widgets.h"
#include "res/icon.h"
#include "res/resource.h"
#include "res/templates.h"
#include "tests/platform/fltk_test_display.h"

namespace {

using ui::CDialog;
using ui::fltk::FltkBackend;

const ui::DialogTemplate& layout(int id) {
  return id == IDD_PRODUCT_DIALOG   ? res::kProductDialog
         : id == IDD_PICTURE_DIALOG ? res::kPictureDialog
                                    : res::kFlasherDialog;
}

struct SharedBackend {
  kalvex_test::TestDisplay display;
  std::unique_ptr<FltkBackend> backend;
  std::string whyNot;
};

SharedBackend& shared() {
  static SharedBackend* instance = [] {
    auto* made = new SharedBackend;
    // A freshly started Xvfb now and then refuses its first clients while an earlier one of
    // a parallel test run is still going away; a new server is tried then.
    for (int attempt = 0; attempt < 3 && !made->backend; ++attempt) {
      if (!made->display.open()) {
        made->whyNot = made->display.why_not();
        made->display.close();
        continue;
      }
      made->backend = FltkBackend::create(res::application_icon());
      if (!made->backend) {
        made->whyNot = "the display does not open for FLTK";
        made->display.close();
      }
    }
    if (made->backend) ui::set_backend(made->backend.get());
    // Our Xvfb goes before the process ends, display and all, so that the next test's
    // server never inherits a display number that this one is still giving up.
    std::atexit([] {
      if (fl_display != nullptr) fl_close_display();
      shared().display.close();
    });
    return made;
  }();
  return *instance;
}

class FltkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!shared().backend) GTEST_SKIP() << "no display: " << shared().whyNot;
    ui::event_loop().clear();
  }
  FltkBackend& backend() { return *shared().backend; }
  ui::BaseUnits base() { return backend().base_units(); }
};

void press_key(int key, Fl_Window* window) {
  Fl::e_keysym = key;
  Fl::e_state = 0;
  Fl::e_length = 0;
  Fl::handle(FL_KEYBOARD, window);
}

void mouse_event(int event, Fl_Window& window, int x, int y) {
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = window.x() + x;
  Fl::e_y_root = window.y() + y;
  Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
  Fl::e_state = event == FL_RELEASE ? 0 : FL_BUTTON1;
  Fl::handle(event, &window);
}

// A dialog that runs a script of steps inside its own modal loop, one posted step at a time.
class ScriptedDialog : public CDialog {
 public:
  using Step = std::function<void(ScriptedDialog&)>;
  ScriptedDialog(int templateId, std::vector<Step> steps)
      : CDialog(layout(templateId)), m_steps(std::move(steps)) {}
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    post_next();
    return true;
  }
  void OnOK() override {
    ++oks;
    CDialog::OnOK();
  }
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }
  void post_next() {
    ui::post_to_ui([this] {
      if (m_next >= m_steps.size()) {
        EndDialog(ui::IDOK);
        return;
      }
      m_steps[m_next++](*this);
      if (is_running()) post_next();
    });
  }
  ui::fltk::DialogWindow& window() {
    return *dynamic_cast<FltkBackend&>(ui::backend()).window_of(*this);
  }
  int oks = 0, cancels = 0;

 private:
  std::vector<Step> m_steps;
  std::size_t m_next = 0;
};

TEST(DialogBaseUnits, FollowTheDialogManagersRounding) {
  struct Case {
    int lettersWidth, height, x, y;
  };
  const Case cases[] = {
      {334, 13, 6, 13},  // Liberation Sans at 11 px: the Windows figures
      {359, 14, 7, 14},  // DejaVu Sans: wider
      {337, 13, 6, 13},  // 6.48 per letter rounds down
      {338, 13, 7, 13},  // 6.5 rounds up
      {0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lettersWidth);
    const ui::BaseUnits units = ui::fltk::base_units_from_metrics(c.lettersWidth, c.height);
    EXPECT_EQ(units.x, c.x);
    EXPECT_EQ(units.y, c.y);
  }
}

TEST(PictureStretch, ScalesEachDirectionOnItsOwn) {
  ui::Bitmap picture;
  picture.width = 2;
  picture.height = 1;
  picture.pixels = {0xFF102030, 0xFFA0B0C0};
  const std::vector<unsigned char> rgb = ui::fltk::stretch_to_rgb(picture, 4, 3);
  ASSERT_EQ(rgb.size(), 4u * 3u * 3u);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
      const std::size_t at = static_cast<std::size_t>(y * 4 + x) * 3;
      EXPECT_EQ(rgb[at], x < 2 ? 0x10 : 0xA0);
      EXPECT_EQ(rgb[at + 2], x < 2 ? 0x30 : 0xC0);
    }
  }
  picture.pixels.pop_back();  // fewer pixels than the size claims: nothing is drawn
  EXPECT_TRUE(ui::fltk::stretch_to_rgb(picture, 4, 3).empty());
}

TEST_F(FltkTest, WindowsAndControlsSitAtTheirTemplateRectangles) {
  for (int id : {IDD_FLASHER_DIALOG, IDD_PRODUCT_DIALOG, IDD_PICTURE_DIALOG}) {
    SCOPED_TRACE(testing::Message() << "template " << id);
    const ui::DialogTemplate& layout = ::layout(id);
    CDialog dialog(layout);
    ui::fltk::DialogWindow window(dialog, base(), nullptr);
    const ui::Rect size =
        ui::dialog_units_to_pixels(ui::Rect{0, 0, layout.widthUnits, layout.heightUnits}, base());
    EXPECT_EQ(window.w(), size.width());
    EXPECT_EQ(window.h(), size.height());
    EXPECT_EQ(window.border() != 0, layout.hasCaptionBar);
    ASSERT_EQ(dialog.controls().size(), layout.controls.size());
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
      const ui::ControlTemplate& entry = layout.controls[i];
      SCOPED_TRACE(testing::Message() << "control " << entry.id << " " << entry.text);
      const Fl_Widget* widget = window.widget_for(*dialog.controls()[i]);
      ASSERT_NE(widget, nullptr);
      const ui::Rect at = ui::dialog_units_to_pixels(entry.units, base());
      EXPECT_EQ(widget->x(), at.left);
      EXPECT_EQ(widget->y(), at.top);
      EXPECT_EQ(widget->w(), at.width());
      // A drop-down's template height includes its opened list; the field is one line.
      EXPECT_EQ(widget->h(),
                entry.kind == ui::ControlKind::ComboBoxDropDown ? base().y + 8 : at.height());
      if (entry.kind == ui::ControlKind::DefPushButton) {
        EXPECT_TRUE(dynamic_cast<const ui::fltk::PushButton&>(*widget).is_default());
      }
    }
  }
}

TEST_F(FltkTest, WindowsGetTheClassicPixelSizesWithLiberationSans) {
  if (base().x != 6 || base().y != 13)
    GTEST_SKIP() << "the dialog font measures " << base().x << " x " << base().y
                 << ", not Liberation Sans (fonts-liberation2)";
  struct Case {
    int id, width, height;
  };
  for (const Case& c : {Case{IDD_FLASHER_DIALOG, 353, 158}, Case{IDD_PRODUCT_DIALOG, 353, 203},
                        Case{IDD_PICTURE_DIALOG, 374, 265}}) {
    SCOPED_TRACE(c.id);
    CDialog dialog(layout(c.id));
    ui::fltk::DialogWindow window(dialog, base(), nullptr);
    EXPECT_EQ(window.w(), c.width);
    EXPECT_EQ(window.h(), c.height);
  }
}

TEST_F(FltkTest, RadioGroupKeepsExactlyOneButtonChecked) {
  std::array<ui::CButton*, 3> radios{};
  auto check_one = [&](std::size_t expected, ScriptedDialog& dialog) {
    for (std::size_t k = 0; k < radios.size(); ++k) {
      SCOPED_TRACE(testing::Message() << "button " << k);
      const auto* widget = static_cast<Fl_Button*>(dialog.window().widget_for(*radios[k]));
      EXPECT_EQ(radios[k]->GetCheck(), k == expected ? 1 : 0);
      EXPECT_EQ(widget->value(), k == expected ? 1 : 0);
    }
  };
  auto click = [&](std::size_t k) {
    return [&, k](ScriptedDialog& dialog) {
      SCOPED_TRACE(testing::Message() << "click " << k);
      // What FLTK does when a radio button is released over itself.
      auto* widget = static_cast<Fl_Button*>(dialog.window().widget_for(*radios[k]));
      widget->setonly();
      widget->do_callback();
      check_one(k, dialog);
    };
  };
  ScriptedDialog dialog(
      IDD_PRODUCT_DIALOG,
      {[&](ScriptedDialog& d) {
         for (int k = 0; k < 3; ++k)
           radios[k] = d.CreateButton("X" + std::to_string(k) + ":", ui::ControlKind::RadioButton,
                                      ui::Rect{25, 40 + 25 * k, 300, 60 + 25 * k}, 2000 + k);
         radios[0]->SetCheck(1);
         check_one(0, d);
       },
       click(2), click(0), click(0), click(1),
       [&](ScriptedDialog& d) {
         radios[2]->SetCheck(1);  // checked by the program, not the user
         check_one(2, d);
       },
       [&](ScriptedDialog& d) {
         d.DestroyControl(radios[1]);
         EXPECT_EQ(d.window().children(), 5);  // the template's three and two radio buttons
       }});
  dialog.DoModal();
}

TEST_F(FltkTest, EnterPressesTheDefaultButtonWhereverTheFocusIsAndEscapeCancels) {
  struct Case {
    const char* name;
    int key;
    bool focusInAddressField;
    int oks, cancels;
  };
  const Case cases[] = {
      {"Enter", FL_Enter, false, 1, 0},
      {"keypad Enter", FL_KP_Enter, false, 1, 0},
      {"Enter in the address field", FL_Enter, true, 1, 0},
      {"Escape", FL_Escape, false, 0, 1},
      {"Escape in the address field", FL_Escape, true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDialog dialog(IDD_FLASHER_DIALOG, {[&](ScriptedDialog& d) {
                            auto* combo = static_cast<Fl_Input_Choice*>(
                                d.window().widget_for(*d.GetDlgItem(IDC_ADDRESS)));
                            if (c.focusInAddressField) Fl::focus(combo->input());
                            press_key(c.key, &d.window());
                          }});
    dialog.DoModal();
    EXPECT_EQ(dialog.oks, c.oks);
    EXPECT_EQ(dialog.cancels, c.cancels);
  }
}

TEST_F(FltkTest, CloseBoxCancels) {
  ScriptedDialog dialog(IDD_FLASHER_DIALOG, {[](ScriptedDialog& d) { d.window().do_callback(); }});
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(dialog.cancels, 1);
}

TEST_F(FltkTest, TypedAndPickedAddressesReachTheModel) {
  ScriptedDialog dialog(
      IDD_FLASHER_DIALOG, {[](ScriptedDialog& d) {
        auto& model = *static_cast<ui::CComboBox*>(d.GetDlgItem(IDC_ADDRESS));
        model.AddString("10.0.0.5/24 & more");  // neither a submenu nor a shortcut
        model.AddString("192.168.1.7");
        model.SetCurSel(1);
        auto& combo = *static_cast<Fl_Input_Choice*>(d.window().widget_for(model));
        EXPECT_STREQ(combo.value(), "192.168.1.7");
        EXPECT_EQ(combo.menubutton()->size(), 3);  // two items and the end marker
        combo.menubutton()->value(0);
        combo.menubutton()->do_callback();
        EXPECT_EQ(model.GetCurSel(), 0);
        EXPECT_EQ(model.GetWindowText(), "10.0.0.5/24 & more");
        EXPECT_STREQ(combo.value(), "10.0.0.5/24 & more");
        combo.input()->value("10.0.0.99");
        combo.input()->do_callback();
        EXPECT_EQ(model.GetWindowText(), "10.0.0.99");
      }});
  dialog.DoModal();
}

TEST_F(FltkTest, MessageBoxAskedForInsideAnotherIsShownOnTopAndAnsweredFirst) {
  std::vector<std::string> answers;
  ScriptedDialog dialog(IDD_FLASHER_DIALOG, {[&](ScriptedDialog&) {
                          ui::post_to_ui([&] {
                            ui::post_to_ui([&] {
                              Fl_Window* inner = Fl::modal();
                              ASSERT_NE(inner, nullptr);
                              EXPECT_STREQ(inner->label(), "kalvex");
                              int shownBoxes = 0;
                              for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
                                if (w->shown() && w->label() && std::string(w->label()) == "kalvex")
                                  ++shownBoxes;
                              EXPECT_EQ(shownBoxes, 2);
                              press_key(FL_Escape, inner);  // an OK-only box answers OK
                              ui::post_to_ui([] { press_key(FL_Escape, Fl::modal()); });
                            });
                            const int inner = ui::AfxMessageBox("inner", ui::MessageBoxType::Ok);
                            answers.push_back("inner " + std::to_string(inner));
                          });
                          const int outer =
                              ui::AfxMessageBox("outer", ui::MessageBoxType::OkCancel);
                          answers.push_back("outer " + std::to_string(outer));
                        }});
  dialog.DoModal();
  EXPECT_EQ(answers, (std::vector<std::string>{"inner 1", "outer 2"}));
}

TEST_F(FltkTest, WorkPostedFromAnotherThreadWakesTheLoopAndAllOfItRuns) {
  constexpr int kPosts = 5000;  // far beyond FLTK's wake-up queue of 1023
  class PostingDialog : public CDialog {
   public:
    PostingDialog() : CDialog(res::kFlasherDialog) {}
    bool OnInitDialog() override {
      poster = std::thread([this] {
        for (int i = 0; i < kPosts; ++i)
          ui::post_to_ui([this, i] {
            ++ran;
            if (i == kPosts - 1) EndDialog(ui::IDOK);
          });
      });
      return true;
    }
    std::thread poster;
    int ran = 0;
  } dialog;
  dialog.DoModal();
  dialog.poster.join();
  EXPECT_EQ(dialog.ran, kPosts);
}

TEST_F(FltkTest, TimersKeepFiringWhileAMessageBoxIsOpen) {
  class TickingDialog : public CDialog {
   public:
    TickingDialog() : CDialog(res::kFlasherDialog) {}
    bool OnInitDialog() override {
      SetTimer(0, std::chrono::milliseconds(1));
      return true;
    }
    void OnTimer(std::uintptr_t) override {
      ++ticks;
      if (ticks == 1) {
        ui::post_to_ui([this] { boxAnswer = ui::AfxMessageBox("ticking"); });
      } else if (ticks == 4) {
        ticksUnderBox = boxAnswer == 0;
        press_key(FL_Enter, Fl::modal());
      } else if (ticks == 6) {
        EndDialog(ui::IDOK);
      }
    }
    int ticks = 0, boxAnswer = 0;
    bool ticksUnderBox = false;
  } dialog;
  dialog.DoModal();
  EXPECT_TRUE(dialog.ticksUnderBox);
  EXPECT_EQ(dialog.boxAnswer, ui::IDOK);
  EXPECT_EQ(dialog.ticks, 6);
}

class PictureLikeDialog : public ScriptedDialog {
 public:
  using ScriptedDialog::ScriptedDialog;
  bool OnEraseBkgnd(ui::CDC& dc) override {
    if (!picture) return false;
    dc.StretchBlt(GetClientRect(), *picture);
    return true;
  }
  void OnLButtonDown(unsigned, ui::Point point) override { BeginWindowDrag(point); }
  bool IsTransparentStatic(const ui::CWnd&) const override { return true; }
  std::optional<ui::Bitmap> picture;
};

std::array<int, 3> pixel_at(Fl_Window& window, int x, int y) {
  window.make_current();
  unsigned char rgb[3] = {};
  fl_read_image(rgb, x, y, 1, 1);
  return {rgb[0], rgb[1], rgb[2]};
}

// The X server maps and exposes a new window in its own time; waits (boundedly) until the
// window's middle shows the expected colour.
void wait_until_painted(Fl_Window& window, const std::array<int, 3>& colour) {
  window.wait_for_expose();
  for (int attempt = 0; attempt < 100; ++attempt) {
    window.redraw();
    Fl::flush();
    XSync(fl_display, False);
    if (pixel_at(window, window.w() / 2, window.h() / 2) == colour) return;
    Fl::wait(0.02);
  }
}

TEST_F(FltkTest, PictureFillsTheWindowAndShowsThroughTheLabel) {
  ui::Bitmap red;
  red.width = 3;
  red.height = 2;
  red.pixels.assign(6, 0xFFC81E1E);
  const std::array<int, 3> kRed{0xC8, 0x1E, 0x1E};
  PictureLikeDialog dialog(
      IDD_PICTURE_DIALOG, {[&](ScriptedDialog& d) {
        d.SetDlgItemText(IDC_PICTURE_CAPTION, "X10");
        auto& window = d.window();
        wait_until_painted(window, kRed);
        const Fl_Widget& label = *window.widget_for(*d.GetDlgItem(IDC_PICTURE_CAPTION));
        // Past the text's end but inside the label's rectangle.
        EXPECT_EQ(pixel_at(window, label.x() + label.w() - 2, label.y() + 1), kRed);
        EXPECT_EQ(pixel_at(window, window.w() / 2, window.h() / 2), kRed);
        EXPECT_EQ(pixel_at(window, 2, window.h() - 3), kRed);
      }});
  dialog.picture = red;
  dialog.DoModal();
}

TEST_F(FltkTest, PressOnTheBackgroundDragsTheWindowButNotOnTheButton) {
  int movedBy[2] = {0, 0};
  int buttonMovedBy[2] = {0, 0};
  PictureLikeDialog dialog(IDD_PICTURE_DIALOG, {[&](ScriptedDialog& d) {
                             ui::fltk::DialogWindow& window = d.window();
                             const int x0 = window.x(), y0 = window.y();
                             mouse_event(FL_PUSH, window, 100, 80);
                             Fl::e_x_root += 30;
                             Fl::e_y_root += 20;
                             Fl::handle(FL_DRAG, &window);
                             Fl::handle(FL_RELEASE, &window);
                             movedBy[0] = window.x() - x0;
                             movedBy[1] = window.y() - y0;

                             const Fl_Widget& close = *window.widget_for(*d.GetDlgItem(ui::IDOK));
                             const int x1 = window.x(), y1 = window.y();
                             mouse_event(FL_PUSH, window, close.x() + 5, close.y() + 5);
                             Fl::e_x_root += 30;
                             Fl::handle(FL_DRAG, &window);
                             Fl::e_x_root -= 30;
                             mouse_event(FL_RELEASE, window, close.x() + 5, close.y() + 5);
                             buttonMovedBy[0] = window.x() - x1;
                             buttonMovedBy[1] = window.y() - y1;
                           }});
  dialog.DoModal();
  EXPECT_EQ(movedBy[0], 30);
  EXPECT_EQ(movedBy[1], 20);
  EXPECT_EQ(buttonMovedBy[0], 0);
  EXPECT_EQ(buttonMovedBy[1], 0);
  EXPECT_EQ(dialog.oks, 1);  // the Close button still closes
}

}  // namespace
