// The FLTK backend on a real (virtual) display: window sizes from the templates, Enter,
// Escape and the close box, nested message boxes, work posted from other threads, the
// picture stretched under a transparent label, and dragging a window by its background.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "platform/ui/bitmap.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/fltk/dialog_window.h"
#include "platform/ui/fltk/fltk_backend.h"
#include "res/icon.h"
#include "res/resource.h"
#include "res/templates.h"

// Fontconfig keeps its caches until the process ends; LeakSanitizer would call that a leak.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

using ui::CDialog;
using ui::fltk::FltkBackend;

// A private Xvfb for the test run, unless $DISPLAY already opens; it ends with the process.
// -noreset: Xvfb otherwise resets when its last client leaves, and refuses a client that
// connects just then.
std::string open_display() {
  if (Display* display = XOpenDisplay(nullptr)) {
    XCloseDisplay(display);
    return {};
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "no pipe for Xvfb";
  if (fork() == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(fds[1], 3);
    const int devNull = open("/dev/null", O_RDWR);  // nor holds their output open
    for (int fd : {0, 1, 2}) dup2(devNull, fd);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-noreset", "-nolisten", "tcp", "-screen", "0",
           "1024x768x24", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  for (char c = 0; read(fds[0], &c, 1) == 1 && c != '\n';) number += c;
  close(fds[0]);
  if (number.empty()) return "Xvfb did not start (is it installed?)";
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return {};
}

struct SharedBackend {
  std::unique_ptr<FltkBackend> backend;
  std::string whyNot;
};

SharedBackend& shared() {
  static SharedBackend* instance = [] {
    auto* made = new SharedBackend;
    made->whyNot = open_display();
    if (made->whyNot.empty()) made->backend = FltkBackend::create(res::application_icon());
    if (made->whyNot.empty() && !made->backend) made->whyNot = "the display does not open";
    if (made->backend) ui::set_backend(made->backend.get());
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
};

void press_key(int key, Fl_Window* window) {
  Fl::e_keysym = key;
  Fl::e_state = 0;
  Fl::e_length = 0;
  Fl::handle(FL_KEYBOARD, window);
}

// A dialog that runs one step inside its own modal loop, then ends with kNoAnswer unless the
// step ended it.
constexpr int kNoAnswer = -1;
class ScriptedDialog : public CDialog {
 public:
  using Step = std::function<void(ScriptedDialog&)>;
  ScriptedDialog(const ui::DialogTemplate& layout, Step step)
      : CDialog(layout), m_step(std::move(step)) {}
  bool OnInitDialog() override {
    ui::post_to_ui([this] {
      m_step(*this);
      if (is_running()) EndDialog(kNoAnswer);
    });
    return true;
  }
  ui::fltk::DialogWindow& window() {
    return *static_cast<FltkBackend&>(ui::backend()).window_of(*this);
  }

 private:
  Step m_step;
};

TEST_F(FltkTest, WindowsHaveTheirTemplatesPixelSizesAndThePictureNoFrame) {
  if (shared().backend->base_units().x != 6 || shared().backend->base_units().y != 13)
    GTEST_SKIP() << "the dialog font is not Liberation Sans (fonts-liberation2)";
  struct Case {
    const ui::DialogTemplate& layout;
    int width, height;
    bool framed;
  };
  for (const Case& c :
       {Case{res::kFlasherDialog, 353, 158, true}, Case{res::kProductDialog, 353, 203, true},
        Case{res::kPictureDialog, 374, 265, false}}) {
    SCOPED_TRACE(c.layout.id);
    CDialog dialog(c.layout);
    ui::fltk::DialogWindow window(dialog, shared().backend->base_units(), nullptr);
    EXPECT_EQ(window.w(), c.width);
    EXPECT_EQ(window.h(), c.height);
    EXPECT_EQ(window.border() != 0, c.framed);
  }
}

TEST_F(FltkTest, EnterPressesTheDefaultButtonWhereverTheFocusIsAndEscapeOrCloseBoxCancels) {
  struct Case {
    const char* name;
    int key;  // 0: the close box
    bool focusInAddressField;
    int result;
  };
  const Case cases[] = {
      {"Enter", FL_Enter, false, ui::IDOK},
      {"keypad Enter", FL_KP_Enter, false, ui::IDOK},
      {"Enter in the address field", FL_Enter, true, ui::IDOK},
      {"Escape", FL_Escape, false, ui::IDCANCEL},
      {"Escape in the address field", FL_Escape, true, ui::IDCANCEL},
      {"close box", 0, false, ui::IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDialog dialog(res::kFlasherDialog, [&](ScriptedDialog& d) {
      auto* combo =
          static_cast<Fl_Input_Choice*>(d.window().widget_for(*d.GetDlgItem(IDC_ADDRESS)));
      if (c.focusInAddressField) Fl::focus(combo->input());
      if (c.key == 0) return d.window().do_callback();
      press_key(c.key, &d.window());
    });
    EXPECT_EQ(dialog.DoModal(), c.result);
  }
}

TEST_F(FltkTest, MessageBoxAskedForInsideAnotherIsShownOnTopAndAnsweredFirst) {
  std::vector<std::string> answers;
  ScriptedDialog dialog(res::kFlasherDialog, [&](ScriptedDialog&) {
    ui::post_to_ui([&] {
      ui::post_to_ui([&] {
        Fl_Window* inner = Fl::modal();
        ASSERT_NE(inner, nullptr);
        EXPECT_STREQ(inner->label(), "kalvex");
        int shownBoxes = 0;
        for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
          if (w->shown() && w->label() && std::string(w->label()) == "kalvex") ++shownBoxes;
        EXPECT_EQ(shownBoxes, 2);
        press_key(FL_Escape, inner);  // an OK-only box answers OK
        ui::post_to_ui([] { press_key(FL_Escape, Fl::modal()); });
      });
      const int inner = ui::AfxMessageBox("inner", ui::MessageBoxType::Ok);
      answers.push_back("inner " + std::to_string(inner));
    });
    const int outer = ui::AfxMessageBox("outer", ui::MessageBoxType::OkCancel);
    answers.push_back("outer " + std::to_string(outer));
  });
  dialog.DoModal();
  EXPECT_EQ(answers, (std::vector<std::string>{"inner 1", "outer 2"}));
}

TEST_F(FltkTest, WorkPostedFromAnotherThreadWakesTheLoopAndAllOfItRuns) {
  constexpr int kPosts = 5000;  // far beyond FLTK's wake-up queue of 1023
  struct PostingDialog : CDialog {
    PostingDialog() : CDialog(res::kFlasherDialog) {}
    bool OnInitDialog() override {
      SetTimer(0, std::chrono::seconds(10));  // a bound on failure only
      poster = std::thread([this] {
        for (int i = 0; i < kPosts; ++i)
          ui::post_to_ui([this] {
            if (++ran == kPosts) EndDialog(ui::IDOK);
          });
      });
      return true;
    }
    void OnTimer(std::uintptr_t) override { EndDialog(ui::IDCANCEL); }
    std::thread poster;
    int ran = 0;
  } dialog;
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  dialog.poster.join();
  EXPECT_EQ(dialog.ran, kPosts);
}

class PictureLikeDialog : public ScriptedDialog {
 public:
  using ScriptedDialog::ScriptedDialog;
  bool OnEraseBkgnd(ui::CDC& dc) override {
    dc.StretchBlt(GetClientRect(), picture);
    return true;
  }
  void OnLButtonDown(unsigned, ui::Point point) override { BeginWindowDrag(point); }
  bool IsTransparentStatic(const ui::CWnd&) const override { return true; }
  ui::Bitmap picture;
};

std::array<int, 3> pixel_at(Fl_Window& window, int x, int y) {
  window.make_current();
  unsigned char rgb[3] = {};
  fl_read_image(rgb, x, y, 1, 1);
  return {rgb[0], rgb[1], rgb[2]};
}

TEST_F(FltkTest, PictureIsStretchedOverTheWholeWindowAndShowsThroughTheLabel) {
  const std::array<int, 3> kRed{0xC8, 0x1E, 0x1E}, kBlue{0x1E, 0x1E, 0xC8};
  PictureLikeDialog dialog(res::kPictureDialog, [&](ScriptedDialog& d) {
    d.SetDlgItemText(IDC_PICTURE_CAPTION, "X10");
    auto& window = d.window();
    window.wait_for_expose();
    // The X server maps and exposes a new window in its own time.
    for (int i = 0; i < 500 && pixel_at(window, 2, 2) != kRed; ++i) {
      window.redraw();
      Fl::flush();
      XSync(fl_display, False);
      Fl::wait(0.01);
    }
    const Fl_Widget& label = *window.widget_for(*d.GetDlgItem(IDC_PICTURE_CAPTION));
    EXPECT_EQ(pixel_at(window, label.x() + label.w() - 2, label.y() + 1), kRed);
    EXPECT_EQ(pixel_at(window, window.w() / 2 - 2, window.h() - 3), kRed);
    EXPECT_EQ(pixel_at(window, window.w() / 2 + 2, 2), kBlue);
    EXPECT_EQ(pixel_at(window, window.w() - 3, window.h() - 3), kBlue);
  });
  dialog.picture.width = 2;  // left half red, right half blue
  dialog.picture.height = 1;
  dialog.picture.pixels = {0xFFC81E1E, 0xFF1E1EC8};
  dialog.DoModal();
}

TEST_F(FltkTest, PressOnTheBackgroundDragsTheWindowButNotOnTheButton) {
  const auto drag = [](ui::fltk::DialogWindow& window, int x, int y) {
    const int x0 = window.x(), y0 = window.y();
    Fl::e_x = x;
    Fl::e_y = y;
    Fl::e_x_root = x0 + x;
    Fl::e_y_root = y0 + y;
    Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
    Fl::e_state = FL_BUTTON1;
    Fl::handle(FL_PUSH, &window);
    Fl::e_x_root += 30;
    Fl::e_y_root += 20;
    Fl::handle(FL_DRAG, &window);
    Fl::e_x_root -= 30;  // released where it was pressed: a click on a button
    Fl::e_y_root -= 20;
    Fl::e_state = 0;
    Fl::handle(FL_RELEASE, &window);
    return std::array<int, 2>{window.x() - x0, window.y() - y0};
  };
  std::array<int, 2> background{}, button{};
  PictureLikeDialog dialog(res::kPictureDialog, [&](ScriptedDialog& d) {
    ui::fltk::DialogWindow& window = d.window();
    background = drag(window, 100, 80);
    const Fl_Widget& close = *window.widget_for(*d.GetDlgItem(ui::IDOK));
    button = drag(window, close.x() + 5, close.y() + 5);
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);  // the Close button still closes
  EXPECT_EQ(background, (std::array<int, 2>{30, 20}));
  EXPECT_EQ(button, (std::array<int, 2>{0, 0}));
}

}  // namespace
