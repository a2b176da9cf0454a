// The UI framework on the headless backend: a template becomes controls at the font's scale,
// the default button behaves as a dialog manager's, data exchange reports a too-long text,
// and timers follow the virtual clock. (Message formatting shows in the product dialog's
// confirmation, tested there.)
#include <gtest/gtest.h>

#include "platform/ui/event_loop.h"
#include "platform/ui/framework.h"
#include "platform/ui/headless/headless_backend.h"

namespace {

using namespace std::chrono_literals;
using ui::ControlKind;

constexpr int kBar = 11, kStatus = 12, kField = 13;
constexpr ui::ControlTemplate kControls[] = {
    {kBar, ControlKind::ProgressBar, "", {17, 62, 217, 77}},
    {kStatus, ControlKind::Static, "a", {17, 42, 215, 61}},
    {kField, ControlKind::ComboBoxDropDown, "", {106, 16, 210, 57}},
    {ui::IDOK, ControlKind::DefPushButton, "OK", {92, 71, 142, 85}},
};
constexpr ui::DialogTemplate kTemplate{7, "Title", 235, 97, "MS Sans Serif", 8, true, kControls};

class RecordingDialog : public ui::CDialog {
 public:
  RecordingDialog() : CDialog(kTemplate) {}
  std::vector<std::string> events;
  std::string text;
  void DoDataExchange(ui::CDataExchange& dx) override {
    ui::DDX_Text(dx, kField, text);
    ui::DDV_MaxChars(dx, text, 32);
  }
  void OnTimer(std::uintptr_t id) override { events.push_back("timer " + std::to_string(id)); }
  void OnOK() override { events.push_back("ok"); }
};

TEST(DialogTemplate, ControlsSitAtTheirDialogUnitsScaledByTheFont) {
  ui::HeadlessBackend backend;
  RecordingDialog dialog;
  // 6 x 13 pixels per base unit, 4 x 8 dialog units per base unit, rounded to the nearest.
  EXPECT_EQ(dialog.GetWindowRect(), (ui::Rect{0, 0, 353, 158}));
  EXPECT_EQ(dialog.GetDlgItem(kBar)->GetWindowRect(), (ui::Rect{26, 101, 326, 125}));
  EXPECT_EQ(dialog.GetWindowText(), "Title");
  EXPECT_EQ(dialog.GetDlgItemText(kStatus), "a");
}

TEST(DefaultButton, EnterReachesOkWhenTheButtonIsHiddenButNotWhenItIsDisabled) {
  ui::HeadlessBackend backend;
  RecordingDialog dialog;
  ui::CWnd& ok = *dialog.GetDlgItem(ui::IDOK);
  ok.EnableWindow(false);
  dialog.PressEnter();
  ok.EnableWindow(true);
  ok.ShowWindow(false);
  static_cast<ui::CButton&>(ok).Click();  // nobody can click what is not shown
  dialog.PressEnter();
  EXPECT_EQ(dialog.events, std::vector<std::string>{"ok"});
}

TEST(DataExchange, TextLongerThanTheLimitShowsTheStandardMessageAndFails) {
  ui::HeadlessBackend backend;
  RecordingDialog dialog;
  dialog.SetDlgItemText(kField, std::string(32, '1'));
  EXPECT_TRUE(dialog.UpdateData(true));
  dialog.SetDlgItemText(kField, std::string(33, '1'));
  EXPECT_FALSE(dialog.UpdateData(true));
  ASSERT_EQ(backend.message_boxes().size(), 1u);
  EXPECT_EQ(backend.message_boxes()[0].text, "Please enter no more than 32 characters.");
  EXPECT_EQ(backend.message_boxes()[0].caption, "kalvex");
}

TEST(WindowTimers, FireOncePerPeriodOnTheVirtualClockAndEndWithTheirWindow) {
  ui::HeadlessBackend backend;
  RecordingDialog dialog;
  int callbacks = 0;
  backend.then([&](ui::CDialog& d) {
    d.SetTimer(0, 300ms);
    d.SetTimer(69, 200ms, [&](std::uintptr_t) { ++callbacks; });
    d.SetTimer(5, 50ms, [&](std::uintptr_t id) { dialog.KillTimer(id); });  // kills itself
    backend.advance(299ms);
    EXPECT_TRUE(dialog.events.empty());
    backend.advance(301ms);  // 300 and 600 for timer 0; 400 and 600 for 69
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"timer 0", "timer 0"}));
    EXPECT_EQ(callbacks, 3);
    EXPECT_TRUE(d.KillTimer(69));
    backend.advance(1s);
    EXPECT_EQ(callbacks, 3);
  });
  dialog.DoModal();
  EXPECT_FALSE(ui::event_loop().next_due().has_value());
}

}  // namespace
