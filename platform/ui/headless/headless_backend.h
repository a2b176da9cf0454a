// The backend without a screen: controls stay plain objects, a script plays the user, message
// boxes are answered from the script and recorded, and timers fire only when the script
// advances the virtual clock. Every dialog's logic is tested on it, deterministically.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ui/backend.h"

namespace ui {

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  MessageBoxType type = MessageBoxType::Ok;
  int answer = IDOK;
};

struct DrawRecord {
  int templateId = 0;
  Rect destination;
  const Bitmap* bitmap = nullptr;
};

class HeadlessBackend final : public Backend {
 public:
  // What the user does next in a running dialog.
  using Step = std::function<void(CDialog&)>;
  static constexpr int kAnyDialog = 0;

  // Installs itself as the backend and a virtual clock as the time source; the thread that
  // constructs it is the UI thread. The destructor uninstalls both.
  HeadlessBackend();
  ~HeadlessBackend() override;
  HeadlessBackend(const HeadlessBackend&) = delete;
  HeadlessBackend& operator=(const HeadlessBackend&) = delete;

  // The script: steps run in order, each in the modal loop of the dialog it names. When a
  // dialog runs out of steps, or the next step names another dialog (a script gone astray,
  // reported on standard error), the user presses Esc.
  void then(int templateId, Step step);
  void then(Step step) { then(kAnyDialog, std::move(step)); }
  // Answers for the next message boxes, in order; without one a box gets its first button.
  void answer_next_box(int answer);
  // Also writes each message box to standard error, for death tests, whose recordings die
  // with the process.
  void echo_message_boxes_to_stderr(bool echo) { m_echoBoxes = echo; }

  // Moves the virtual clock forward, firing every timer on its due time in order, and runs
  // posted work. Stops early when the dialog on screen ends, as its modal loop would.
  void advance(std::chrono::milliseconds duration);
  // Waits (in real time, at most the given time) until work has been posted from another
  // thread, then runs it. False if nothing came.
  bool run_posted_work(std::chrono::milliseconds realTimeout);

  const std::vector<MessageBoxRecord>& message_boxes() const { return m_boxes; }
  // Template ids of the dialogs run, in the order they were shown.
  const std::vector<int>& dialogs_run() const { return m_dialogsRun; }
  const std::vector<DrawRecord>& draws() const { return m_draws; }
  const std::vector<Point>& drags() const { return m_drags; }

  // Backend
  BaseUnits base_units() const override { return BaseUnits{}; }
  void run_modal(CDialog& dialog) override;
  int message_box(const std::string& text, const std::string& caption,
                  MessageBoxType type) override;
  void control_changed(CDialog&, CWnd&) override {}
  void control_created(CDialog&, CWnd&) override {}
  void control_destroyed(CDialog&, CWnd&) override {}
  void invalidate(CDialog& dialog) override { paint(dialog); }
  void begin_window_drag(CDialog&, Point point) override { m_drags.push_back(point); }
  void wake() override;

 private:
  struct ScriptedStep {
    int templateId;
    Step step;
  };
  void run_next_step(CDialog& dialog);
  void leave(CDialog& dialog);
  void paint(CDialog& dialog);

  platform::VirtualTimeSource m_clock;
  std::deque<ScriptedStep> m_steps;
  std::deque<int> m_answers;
  std::vector<CDialog*> m_stack;
  std::vector<MessageBoxRecord> m_boxes;
  std::vector<int> m_dialogsRun;
  std::vector<DrawRecord> m_draws;
  std::vector<Point> m_drags;
  bool m_echoBoxes = false;

  std::mutex m_wakeMutex;
  std::condition_variable m_woken;
  bool m_wakePending = false;
};

// Steps for HeadlessBackend::then, as a user would act.
namespace steps {
HeadlessBackend::Step click(int controlId);
HeadlessBackend::Step type_text(int controlId, std::string text);
HeadlessBackend::Step press_enter();
HeadlessBackend::Step press_escape();
}  // namespace steps

}  // namespace ui
