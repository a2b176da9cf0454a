// The scripted headless backend: a modal loop that alternates the event loop's due work with
// the script's next user step, and records what a user would have seen.
#include "platform/ui/headless/headless_backend.h"

#include <algorithm>
#include <cstdio>

#include "platform/ui/event_loop.h"

namespace ui {

namespace {

// Records what CDialog::OnEraseBkgnd asks to draw.
class RecordingDC final : public CDC {
 public:
  RecordingDC(int templateId, std::vector<DrawRecord>& draws)
      : m_templateId(templateId), m_draws(draws) {}
  void StretchBlt(const Rect& destination, const Bitmap& source) override {
    m_draws.push_back(DrawRecord{m_templateId, destination, &source});
  }

 private:
  int m_templateId;
  std::vector<DrawRecord>& m_draws;
};

}  // namespace

HeadlessBackend::HeadlessBackend() {
  event_loop().clear();
  platform::set_time_source(&m_clock);
  set_backend(this);
}

HeadlessBackend::~HeadlessBackend() {
  set_backend(nullptr);
  platform::set_time_source(nullptr);
  event_loop().clear();
}

void HeadlessBackend::then(int templateId, Step step) {
  m_steps.push_back(ScriptedStep{templateId, std::move(step)});
}

void HeadlessBackend::answer_next_box(int answer) {
  m_answers.push_back(answer);
}

void HeadlessBackend::run_modal(CDialog& dialog) {
  m_stack.push_back(&dialog);
  m_dialogsRun.push_back(dialog.template_id());
  dialog.OnInitDialog();
  if (dialog.is_running()) paint(dialog);
  while (dialog.is_running()) {
    event_loop().run_pending();
    if (!dialog.is_running()) break;
    run_next_step(dialog);
  }
  m_stack.pop_back();
}

void HeadlessBackend::run_next_step(CDialog& dialog) {
  if (m_steps.empty()) return leave(dialog);
  const int wanted = m_steps.front().templateId;
  if (wanted != kAnyDialog && wanted != dialog.template_id()) {
    std::fprintf(stderr, "headless: the next step is for dialog %d but dialog %d is on screen\n",
                 wanted, dialog.template_id());
    return leave(dialog);
  }
  Step step = std::move(m_steps.front().step);
  m_steps.pop_front();
  step(dialog);
}

void HeadlessBackend::leave(CDialog& dialog) {
  dialog.PressEscape();
  // A dialog that refuses Esc would otherwise keep the test waiting for ever.
  if (dialog.is_running()) dialog.EndDialog(IDCANCEL);
}

int HeadlessBackend::message_box(const std::string& text, const std::string& caption,
                                 MessageBoxType type) {
  int answer = IDOK;
  if (!m_answers.empty()) {
    answer = m_answers.front();
    m_answers.pop_front();
  }
  m_boxes.push_back(MessageBoxRecord{text, caption, type, answer});
  if (m_echoBoxes) std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  return answer;
}

void HeadlessBackend::paint(CDialog& dialog) {
  RecordingDC dc(dialog.template_id(), m_draws);
  dialog.OnEraseBkgnd(dc);
}

void HeadlessBackend::advance(std::chrono::milliseconds duration) {
  using std::chrono::milliseconds;
  const platform::TimePoint target = m_clock.now() + duration;
  CDialog* onScreen = m_stack.empty() ? nullptr : m_stack.back();
  for (;;) {
    event_loop().run_pending();
    if (onScreen != nullptr && !onScreen->is_running()) return;
    const auto next = event_loop().next_due();
    const platform::TimePoint now = m_clock.now();
    if (!next || *next > target) {
      if (target > now) m_clock.advance(std::chrono::ceil<milliseconds>(target - now));
      event_loop().run_pending();
      return;
    }
    // Every due timer was rescheduled past now by run_pending, so this always moves on.
    m_clock.advance(std::max(milliseconds(1), std::chrono::ceil<milliseconds>(*next - now)));
  }
}

bool HeadlessBackend::run_posted_work(std::chrono::milliseconds realTimeout) {
  {
    std::unique_lock lock(m_wakeMutex);
    m_woken.wait_for(lock, realTimeout,
                     [this] { return m_wakePending || event_loop().has_posted_work(); });
    m_wakePending = false;
  }
  if (!event_loop().has_posted_work()) return false;
  event_loop().run_pending();
  return true;
}

void HeadlessBackend::wake() {
  {
    std::lock_guard lock(m_wakeMutex);
    m_wakePending = true;
  }
  m_woken.notify_all();
}

namespace steps {

HeadlessBackend::Step click(int controlId) {
  return [controlId](CDialog& dialog) {
    if (auto* button = dynamic_cast<CButton*>(dialog.GetDlgItem(controlId))) button->Click();
  };
}

HeadlessBackend::Step type_text(int controlId, std::string text) {
  return [controlId, text = std::move(text)](CDialog& dialog) {
    if (CWnd* control = dialog.GetDlgItem(controlId);
        control != nullptr && control->IsWindowEnabled())
      control->SetWindowText(text);
  };
}

HeadlessBackend::Step press_enter() {
  return [](CDialog& dialog) { dialog.PressEnter(); };
}

HeadlessBackend::Step press_escape() {
  return [](CDialog& dialog) { dialog.PressEscape(); };
}

}  // namespace steps

}  // namespace ui
