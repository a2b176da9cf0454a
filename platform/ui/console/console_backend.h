// The dialogs in a terminal, for machines without a display and for scripted runs: each
// dialog is printed from its model, input is read line by line from standard input, and
// the status line and progress bar are redrawn in place (one line per change when standard
// output is not a terminal, so that scripts can read them).
#pragma once

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/backend.h"

namespace ui {

class ConsoleBackend final : public Backend {
 public:
  // Reads lines from inputFd and writes to output. The descriptor is not closed.
  explicit ConsoleBackend(int inputFd = 0, std::FILE* output = stdout);
  ~ConsoleBackend() override;
  ConsoleBackend(const ConsoleBackend&) = delete;
  ConsoleBackend& operator=(const ConsoleBackend&) = delete;

  BaseUnits base_units() const override { return BaseUnits{}; }
  void run_modal(CDialog& dialog) override;
  int message_box(const std::string& text, const std::string& caption,
                  MessageBoxType type) override;
  void control_changed(CDialog& dialog, CWnd& control) override;
  void control_created(CDialog&, CWnd&) override {}
  void control_destroyed(CDialog&, CWnd&) override {}
  void invalidate(CDialog& dialog) override;
  void begin_window_drag(CDialog&, Point) override {}
  void wake() override;

 private:
  struct Input {
    enum class Kind : std::uint8_t { Line, EndOfInput, Interrupt, Nothing };
    Kind kind = Kind::Nothing;
    std::string line;
  };
  // Runs timers and posted work until a line arrives, input ends, Ctrl-C is pressed or the
  // dialog (when given) has ended.
  Input wait_for_input(const CDialog* dialog);
  std::optional<std::string> take_buffered_line();
  void read_available_input();
  void drain_wake_pipe();

  void render(CDialog& dialog);
  void print_hint(const CDialog& dialog);
  void handle_line(CDialog& dialog, const std::string& line);
  void cancel(CDialog& dialog);
  void show_status(const std::string& text);
  void show_progress(const CProgressCtrl& bar);
  void end_live_line();
  void print_line(const std::string& text);

  int m_inputFd;
  std::FILE* m_output;
  bool m_terminal;
  int m_wakePipe[2] = {-1, -1};
  std::string m_pending;  // input read but not yet split into lines
  bool m_inputEnded = false;
  std::vector<CDialog*> m_stack;
  std::vector<CDialog*> m_rendered;  // dialogs printed once; changes before that are silent
  std::string m_liveStatus;
  std::string m_liveBar;
  bool m_liveLineShown = false;
};

}  // namespace ui
