// The UI framework on the headless backend: templates become controls, the scripted user
// drives modal loops, timers fire on the virtual clock, work posted from other threads runs
// on the UI thread, and message formatting follows the numbered-insert rules.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ui/event_loop.h"
#include "platform/ui/framework.h"
#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "res/templates.h"

namespace {

using namespace std::chrono_literals;
using ui::HeadlessBackend;

const ui::DialogTemplate& layout(int id) {
  return id == IDD_PRODUCT_DIALOG   ? res::kProductDialog
         : id == IDD_PICTURE_DIALOG ? res::kPictureDialog
                                    : res::kFlasherDialog;
}

class RecordingDialog : public ui::CDialog {
 public:
  explicit RecordingDialog(int templateId = IDD_FLASHER_DIALOG) : CDialog(layout(templateId)) {}
  std::vector<std::string> events;
  std::string address;
  bool validateLength = false;

  void DoDataExchange(ui::CDataExchange& dx) override {
    ui::DDX_Text(dx, IDC_ADDRESS, address);
    if (validateLength) ui::DDV_MaxChars(dx, address, 32);
  }
  void OnTimer(std::uintptr_t id) override { events.push_back("timer " + std::to_string(id)); }
  void OnOK() override {
    events.push_back("ok");
    CDialog::OnOK();
  }
  void OnCancel() override {
    events.push_back("cancel");
    CDialog::OnCancel();
  }
  void OnCommand(int id) override { events.push_back("command " + std::to_string(id)); }
};

TEST(DialogTemplate, ControlsAreBuiltInTemplateOrderAtDialogUnitScale) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  ASSERT_EQ(dialog.controls().size(), 5u);
  EXPECT_EQ(dialog.GetWindowText(), "Kalvex");
  // 6 x 13 pixels per base unit: x * 6 / 4, y * 13 / 8, rounded to the nearest pixel.
  EXPECT_EQ(dialog.GetWindowRect(), (ui::Rect{0, 0, 353, 158}));
  EXPECT_EQ(dialog.GetDlgItem(IDC_PROGRESS)->GetWindowRect(), (ui::Rect{26, 101, 326, 125}));
  EXPECT_EQ(dialog.GetDlgItemText(IDC_STATUS), "a");
  EXPECT_EQ(dialog.default_button(), dialog.GetDlgItem(ui::IDOK));
  EXPECT_EQ(dialog.GetDlgItem(-1), nullptr);
}

TEST(ScriptedUser, DrivesTheModalLoopAndRecordsWhatWasShown) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  backend.then(IDD_FLASHER_DIALOG, ui::steps::type_text(IDC_ADDRESS, "10.0.0.1"));
  backend.then(IDD_FLASHER_DIALOG, [](ui::CDialog& d) { d.SetDlgItemText(IDC_STATUS, "one"); });
  backend.then(IDD_FLASHER_DIALOG, ui::steps::click(ui::IDOK));
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(dialog.address, "10.0.0.1");
  EXPECT_EQ(backend.texts_of(IDC_STATUS), (std::vector<std::string>{"a", "one"}));
  EXPECT_EQ(backend.dialogs_run(), std::vector<int>{IDD_FLASHER_DIALOG});
  EXPECT_TRUE(backend.script_errors().empty());
  EXPECT_FALSE(dialog.is_running());
}

TEST(ScriptedUser, RunningOutOfStepsPressesEscape) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(dialog.events, std::vector<std::string>{"cancel"});
  EXPECT_EQ(backend.escapes_for_lack_of_steps(), 1);
}

TEST(ScriptedUser, StepForAnotherDialogIsReportedAndCancelsTheOneOnScreen) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  backend.then(IDD_PRODUCT_DIALOG, ui::steps::click(ui::IDOK));
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(backend.script_errors().size(), 1u);
}

TEST(ScriptedUser, NestedModalDialogTakesTheStepsMeantForIt) {
  HeadlessBackend backend;
  struct Outer : RecordingDialog {
    Outer() : RecordingDialog(IDD_PRODUCT_DIALOG) {}
    int innerResult = 0;
    void OnCommand(int) override {
      RecordingDialog inner(IDD_PICTURE_DIALOG);
      innerResult = inner.DoModal();
    }
  } outer;
  backend.then(IDD_PRODUCT_DIALOG, ui::steps::click(IDC_VIEW_PICTURE));
  backend.then(IDD_PICTURE_DIALOG, ui::steps::press_enter());
  backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_escape());
  EXPECT_EQ(outer.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(outer.innerResult, ui::IDOK);
  EXPECT_EQ(backend.dialogs_run(), (std::vector<int>{IDD_PRODUCT_DIALOG, IDD_PICTURE_DIALOG}));
  EXPECT_TRUE(backend.script_errors().empty());
}

TEST(ButtonInput, HiddenOrDisabledButtonCannotBeClickedButEnterStillReachesOk) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  backend.then([](ui::CDialog& d) {
    d.GetDlgItem(ui::IDOK)->ShowWindow(false);
    ui::steps::click(ui::IDOK)(d);
  });
  backend.then([](ui::CDialog& d) {
    d.GetDlgItem(ui::IDOK)->ShowWindow(true);
    d.GetDlgItem(ui::IDOK)->EnableWindow(false);
    ui::steps::click(ui::IDOK)(d);
    d.PressEnter();  // a disabled default button takes no Enter either
  });
  backend.then([](ui::CDialog& d) {
    d.GetDlgItem(ui::IDOK)->EnableWindow(true);
    d.GetDlgItem(ui::IDOK)->ShowWindow(false);
    d.PressEnter();
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(dialog.events, std::vector<std::string>{"ok"});
}

TEST(RadioButtons, ClickingOneUnchecksTheOthersAndSendsItsCommand) {
  HeadlessBackend backend;
  RecordingDialog dialog(IDD_PRODUCT_DIALOG);
  std::vector<ui::CButton*> radios;
  for (int k = 0; k < 3; ++k)
    radios.push_back(dialog.CreateButton("product " + std::to_string(k),
                                         ui::ControlKind::RadioButton, ui::Rect{}, 2000 + k));
  radios[0]->SetCheck(1);
  backend.then(ui::steps::click(2002));
  backend.then([&](ui::CDialog& d) { d.DestroyControl(radios[1]); });
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(radios[0]->GetCheck(), 0);
  EXPECT_EQ(radios[2]->GetCheck(), 1);
  EXPECT_EQ(dialog.GetDlgItem(2001), nullptr);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"command 2002", "cancel"}));
}

TEST(DataExchange, TooLongTextIsReportedWithTheStandardMessageAndFailsTheUpdate) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  dialog.validateLength = true;
  dialog.SetDlgItemText(IDC_ADDRESS, std::string(33, '1'));
  EXPECT_FALSE(dialog.UpdateData(true));
  ASSERT_EQ(backend.message_boxes().size(), 1u);
  EXPECT_EQ(backend.message_boxes()[0].text, "Please enter no more than 32 characters.");
  EXPECT_EQ(backend.message_boxes()[0].caption, "kalvex");
  dialog.SetDlgItemText(IDC_ADDRESS, std::string(32, '1'));
  EXPECT_TRUE(dialog.UpdateData(true));
  EXPECT_EQ(backend.message_boxes().size(), 1u);
}

TEST(MessageBoxes, AreCaptionedKalvexAndAnsweredFromTheScript) {
  HeadlessBackend backend;
  backend.answer_next_box(ui::IDCANCEL);
  EXPECT_EQ(ui::AfxMessageBox("first", ui::MessageBoxType::OkCancel), ui::IDCANCEL);
  EXPECT_EQ(ui::AfxMessageBox("second", ui::MessageBoxType::OkCancel), ui::IDOK);
  ASSERT_EQ(backend.message_boxes().size(), 2u);
  EXPECT_EQ(backend.message_boxes()[1].caption, "kalvex");
  EXPECT_EQ(backend.message_boxes()[1].type, ui::MessageBoxType::OkCancel);
}

TEST(WindowTimers, FireInOrderOfDueTimeOncePerPeriodOnTheVirtualClock) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  std::vector<std::string> fired;
  backend.then([&](ui::CDialog& d) {
    d.SetTimer(0, 300ms);
    d.SetTimer(69, 200ms, [&](std::uintptr_t id) { fired.push_back(std::to_string(id)); });
    backend.advance(299ms);
    EXPECT_EQ(dialog.events, std::vector<std::string>{});
    EXPECT_EQ(fired, std::vector<std::string>{"69"});
    backend.advance(1ms);
    EXPECT_EQ(dialog.events, std::vector<std::string>{"timer 0"});
    backend.advance(300ms);  // 400 (69), 600 (both)
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"timer 0", "timer 0"}));
    EXPECT_EQ(fired, (std::vector<std::string>{"69", "69", "69"}));
    EXPECT_TRUE(d.KillTimer(69));
    EXPECT_FALSE(d.KillTimer(69));
    backend.advance(600ms);
    EXPECT_EQ(fired.size(), 3u);
    EXPECT_EQ(dialog.events.size(), 4u);
  });
  dialog.DoModal();
  // The window's timers end with its modal run.
  EXPECT_FALSE(ui::event_loop().next_due().has_value());
}

TEST(WindowTimers, AdvanceStopsWhenTheDialogOnScreenEnds) {
  HeadlessBackend backend;
  struct Closing : RecordingDialog {
    int ticks = 0;
    void OnTimer(std::uintptr_t) override {
      if (++ticks == 3) OnCancel();
    }
  } dialog;
  backend.then([&](ui::CDialog& d) {
    d.SetTimer(0, 300ms);
    backend.advance(10s);
  });
  const platform::TimePoint start = platform::now();
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(dialog.ticks, 3);
  EXPECT_EQ(platform::now() - start, 900ms);
}

TEST(WindowTimers, HandlerThatKillsItsOwnTimerIsSafe) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  int calls = 0;
  backend.then([&](ui::CDialog& d) {
    d.SetTimer(5, 50ms, [&](std::uintptr_t) {
      ++calls;
      d.KillTimer(5);
    });
    backend.advance(1s);
  });
  dialog.DoModal();
  EXPECT_EQ(calls, 1);
}

TEST(PostedWork, RunsOnTheUiThreadWhenPostedFromAnother) {
  HeadlessBackend backend;
  std::atomic<bool> ranOnUi{false};
  std::thread poster([&] { ui::post_to_ui([&] { ranOnUi = ui::on_ui_thread(); }); });
  EXPECT_TRUE(backend.run_posted_work(10s));
  poster.join();
  EXPECT_TRUE(ranOnUi);
  EXPECT_FALSE(backend.run_posted_work(1ms));
}

TEST(ProgressBar, PositionStaysInsideItsRange) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  auto* bar = static_cast<ui::CProgressCtrl*>(dialog.GetDlgItem(IDC_PROGRESS));
  bar->SetRange(0, 100);
  EXPECT_EQ(bar->SetPos(103), 0);
  EXPECT_EQ(bar->GetPos(), 100);
  bar->SetPos(-5);
  EXPECT_EQ(bar->GetPos(), 0);
}

TEST(ComboBox, SelectingAnEntryFillsTheEditFieldAndResetEmptiesIt) {
  HeadlessBackend backend;
  RecordingDialog dialog;
  auto* combo = static_cast<ui::CComboBox*>(dialog.GetDlgItem(IDC_ADDRESS));
  combo->AddString("10.0.0.5");
  EXPECT_EQ(combo->AddString("192.168.1.7"), 1);
  EXPECT_EQ(combo->SetCurSel(1), 1);
  EXPECT_EQ(combo->GetWindowText(), "192.168.1.7");
  EXPECT_EQ(combo->SetCurSel(2), -1);
  EXPECT_EQ(combo->GetWindowText(), "");
  combo->SetCurSel(0);
  combo->ResetContent();
  EXPECT_EQ(combo->GetCount(), 0);
  EXPECT_EQ(combo->GetWindowText(), "");
}

struct FormatCase {
  const char* name;
  std::string_view format;
  std::vector<ui::MessageInsert> inserts;
  std::string expected;
};

class MessageFormatting : public testing::TestWithParam<FormatCase> {};

TEST_P(MessageFormatting, ProducesTheExpectedText) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(ui::format_message(c.format, c.inserts), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Inserts, MessageFormatting,
    testing::Values(
        FormatCase{"NumberedWithPrintfSpec",
                   "option %1!d!, for %2%.",
                   {3LL, std::string("X10")},
                   "option 3, for X10."},
        FormatCase{"EscapesStandForThemselves", "100%% %! a%nb", {}, "100% ! a\nb"},
        FormatCase{"PercentZeroEndsTheText", "kept%0lost", {}, "kept"},
        FormatCase{
            "MissingInsertIsLeftAsWritten", "%3!d! and %1", {std::string("x")}, "%3!d! and x"},
        FormatCase{
            "TwoDigitInsertNumber", "%10", {0LL, 1LL, 2LL, 3LL, 4LL, 5LL, 6LL, 7LL, 8LL, 9LL}, "9"},
        FormatCase{"WidthAndHex", "[%1!4d!][%2!x!]", {7LL, 255LL}, "[   7][ff]"},
        FormatCase{"TrailingPercent", "50%", {}, "50%"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MessageFormatting, ProductConfirmationStringReadsAsTheUserSeesIt) {
  const std::string text =
      ui::format_message(res::load_string(IDS_PRODUCT_CONFIRMATION), {1LL, std::string("X10")});
  EXPECT_NE(text.find("You have chosen option 1, which can only be used for X10.\n2. If"),
            std::string::npos)
      << text;
}

}  // namespace
