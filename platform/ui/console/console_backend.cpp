// The console backend. Input, the loop's wake-up pipe and the next timer are waited for in
// one poll(); Ctrl-C reaches the loop through the same pipe and cancels the dialog on
// screen, as does the end of input, so that its cancel handling runs and servers stop.
#include "platform/ui/console/console_backend.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/ui/bitmap.h"
#include "platform/ui/event_loop.h"

namespace ui {

namespace {

constexpr int kBarWidth = 40;

std::atomic<int> g_signalPipe{-1};
std::atomic<bool> g_interrupted{false};

void on_interrupt(int) {
  g_interrupted.store(true);
  const int fd = g_signalPipe.load();
  if (fd >= 0) {
    const char byte = 'i';
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
  }
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::optional<int> parse_number(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool is_button(const CWnd& control) {
  return control.kind() == ControlKind::PushButton || control.kind() == ControlKind::DefPushButton;
}

// What a user types to press a button: the first word of its caption, in lower case.
std::string command_word(const CWnd& button) {
  std::string word;
  for (char c : button.GetWindowText()) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
      if (!word.empty()) break;
      continue;
    }
    word += c;
  }
  return lower(word);
}

std::vector<CButton*> radio_buttons(const CDialog& dialog) {
  std::vector<CButton*> radios;
  for (const auto& control : dialog.controls())
    if (control->kind() == ControlKind::RadioButton && control->IsWindowVisible())
      radios.push_back(static_cast<CButton*>(control.get()));
  return radios;
}

CComboBox* combo_box(const CDialog& dialog) {
  for (const auto& control : dialog.controls())
    if (control->kind() == ControlKind::ComboBoxDropDown && control->IsWindowVisible() &&
        control->IsWindowEnabled())
      return static_cast<CComboBox*>(control.get());
  return nullptr;
}

// Describes what a dialog asks its CDC to draw.
class ConsoleDC final : public CDC {
 public:
  explicit ConsoleDC(std::vector<std::string>& lines) : m_lines(lines) {}
  void StretchBlt(const Rect& destination, const Bitmap& source) override {
    m_lines.push_back("[picture " + source.file_name + ", " + std::to_string(source.width) + " x " +
                      std::to_string(source.height) + " pixels, stretched to " +
                      std::to_string(destination.width()) + " x " +
                      std::to_string(destination.height()) + "]");
  }

 private:
  std::vector<std::string>& m_lines;
};

}  // namespace

ConsoleBackend::ConsoleBackend(int inputFd, std::FILE* output)
    : m_inputFd(inputFd), m_output(output), m_terminal(::isatty(::fileno(output)) == 1) {
  if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) m_wakePipe[0] = m_wakePipe[1] = -1;
  g_signalPipe.store(m_wakePipe[1]);
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

ConsoleBackend::~ConsoleBackend() {
  std::signal(SIGINT, SIG_DFL);
  g_signalPipe.store(-1);
  end_live_line();
  for (int fd : m_wakePipe)
    if (fd >= 0) ::close(fd);
}

void ConsoleBackend::wake() {
  if (m_wakePipe[1] < 0) return;
  const char byte = 'w';
  [[maybe_unused]] const ssize_t ignored = ::write(m_wakePipe[1], &byte, 1);
}

void ConsoleBackend::drain_wake_pipe() {
  char buffer[64];
  while (m_wakePipe[0] >= 0 && ::read(m_wakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

std::optional<std::string> ConsoleBackend::take_buffered_line() {
  const auto end = m_pending.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = m_pending.substr(0, end);
  m_pending.erase(0, end + 1);
  return trim(line);
}

void ConsoleBackend::read_available_input() {
  char buffer[4096];
  const ssize_t got = ::read(m_inputFd, buffer, sizeof buffer);
  if (got > 0) {
    m_pending.append(buffer, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    m_inputEnded = true;
    // A last line without its line feed still counts.
    if (!m_pending.empty()) m_pending += '\n';
  }
}

ConsoleBackend::Input ConsoleBackend::wait_for_input(const CDialog* dialog) {
  for (;;) {
    event_loop().run_pending();
    if (g_interrupted.exchange(false)) return Input{Input::Kind::Interrupt, {}};
    if (dialog != nullptr && !dialog->is_running()) return Input{};
    if (auto line = take_buffered_line()) return Input{Input::Kind::Line, *line};
    if (m_inputEnded) return Input{Input::Kind::EndOfInput, {}};

    int timeout = -1;
    if (const auto due = event_loop().next_due()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - platform::now());
      timeout = static_cast<int>(std::clamp<long long>(wait.count(), 0, 60'000));
    }
    if (event_loop().has_posted_work()) timeout = 0;
    pollfd fds[2] = {{m_inputFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
    std::fflush(m_output);
    const int ready = ::poll(fds, 2, timeout);
    if (ready <= 0) continue;
    if (fds[1].revents != 0) drain_wake_pipe();
    if (fds[0].revents != 0) read_available_input();
  }
}

void ConsoleBackend::run_modal(CDialog& dialog) {
  m_stack.push_back(&dialog);
  dialog.OnInitDialog();
  if (dialog.is_running()) render(dialog);
  while (dialog.is_running()) {
    const Input input = wait_for_input(&dialog);
    if (!dialog.is_running()) break;
    switch (input.kind) {
      case Input::Kind::Line:
        handle_line(dialog, input.line);
        break;
      case Input::Kind::EndOfInput:
      case Input::Kind::Interrupt:
        cancel(dialog);
        break;
      case Input::Kind::Nothing:
        break;
    }
  }
  std::erase(m_rendered, &dialog);
  m_stack.pop_back();
  end_live_line();
  std::fflush(m_output);
  if (!m_stack.empty() && m_stack.back()->is_running()) render(*m_stack.back());
}

void ConsoleBackend::cancel(CDialog& dialog) {
  dialog.PressEscape();
  // A dialog that refuses to be cancelled would read an input that has ended for ever.
  if (dialog.is_running() && m_inputEnded) dialog.EndDialog(IDCANCEL);
}

void ConsoleBackend::handle_line(CDialog& dialog, const std::string& line) {
  const std::string lowered = lower(line);
  if (lowered == "cancel" || lowered == "esc" || lowered == "quit") {
    dialog.PressEscape();
    return;
  }
  // "word [n]": the button whose caption starts with word, after choosing option n.
  const auto blank = lowered.find(' ');
  const std::string word = lowered.substr(0, blank);
  const std::optional<int> choice =
      blank == std::string::npos ? std::nullopt : parse_number(trim(lowered.substr(blank)));
  CWnd* pressed = nullptr;
  for (const auto& control : dialog.controls())
    if (is_button(*control) && control->IsWindowVisible() && control->IsWindowEnabled() &&
        !word.empty() && command_word(*control) == word)
      pressed = control.get();

  std::vector<CButton*> radios = radio_buttons(dialog);
  CComboBox* combo = combo_box(dialog);
  const std::optional<int> number = pressed != nullptr ? choice : parse_number(line);
  if (number && *number >= 1 && static_cast<std::size_t>(*number) <= radios.size()) {
    radios[static_cast<std::size_t>(*number - 1)]->Click();
  } else if (combo != nullptr && pressed == nullptr && !line.empty()) {
    if (number && *number >= 1 && *number <= combo->GetCount())
      combo->SetCurSel(*number - 1);
    else
      combo->SetWindowText(line);
  } else if (pressed == nullptr && !line.empty()) {
    print_line("Not understood: \"" + line + "\"");
    print_hint(dialog);
    return;
  }
  if (!dialog.is_running()) return;
  if (pressed != nullptr)
    static_cast<CButton*>(pressed)->Click();
  else
    dialog.PressEnter();
}

int ConsoleBackend::message_box(const std::string& text, const std::string& caption,
                                MessageBoxType type) {
  end_live_line();
  print_line("[" + caption + "] " + text);
  const bool okCancel = type == MessageBoxType::OkCancel;
  for (;;) {
    print_line(okCancel ? "  Enter or \"ok\" for OK, \"cancel\" for Cancel:"
                        : "  Enter or \"ok\" to close:");
    const Input input = wait_for_input(nullptr);
    if (input.kind != Input::Kind::Line) return okCancel ? IDCANCEL : IDOK;
    const std::string answer = lower(input.line);
    if (answer.empty() || answer == "ok" || answer == "o" || answer == "y" || answer == "yes")
      return IDOK;
    if (okCancel && (answer == "cancel" || answer == "c" || answer == "n" || answer == "no"))
      return IDCANCEL;
    if (!okCancel) return IDOK;
  }
}

void ConsoleBackend::render(CDialog& dialog) {
  end_live_line();
  if (std::find(m_rendered.begin(), m_rendered.end(), &dialog) == m_rendered.end())
    m_rendered.push_back(&dialog);
  std::vector<std::string> lines;
  lines.push_back(
      "== " + (dialog.GetWindowText().empty() ? std::string("(picture)") : dialog.GetWindowText()) +
      " ==");
  ConsoleDC dc(lines);
  dialog.OnEraseBkgnd(dc);
  int option = 0;
  std::string buttons;
  const CProgressCtrl* bar = nullptr;
  // Read as the eye reads the window: top to bottom, then left to right.
  std::vector<const CWnd*> ordered;
  for (const auto& control : dialog.controls()) ordered.push_back(control.get());
  // Rows one text line high, so that a label and the field beside it share a row.
  const int rowHeight = std::max(1, base_units().y);
  std::stable_sort(ordered.begin(), ordered.end(), [rowHeight](const CWnd* a, const CWnd* b) {
    const Rect ra = a->GetWindowRect(), rb = b->GetWindowRect();
    const int rowA = ra.top / rowHeight, rowB = rb.top / rowHeight;
    return rowA != rowB ? rowA < rowB : ra.left < rb.left;
  });
  for (const CWnd* control : ordered) {
    if (!control->IsWindowVisible()) continue;
    const std::string& text = control->GetWindowText();
    switch (control->kind()) {
      case ControlKind::Static:
      case ControlKind::GroupBox:
        if (!text.empty()) lines.push_back(text);
        break;
      case ControlKind::RadioButton: {
        auto* radio = static_cast<const CButton*>(control);
        lines.push_back("  " + std::to_string(++option) + ") " +
                        (radio->GetCheck() == 1 ? "(*) " : "( ) ") + text);
        break;
      }
      case ControlKind::ComboBoxDropDown: {
        auto* combo = static_cast<const CComboBox*>(control);
        for (int i = 0; i < combo->GetCount(); ++i)
          lines.push_back("  " + std::to_string(i + 1) + ") " + combo->GetLBText(i) +
                          (i == combo->GetCurSel() ? "  (selected)" : ""));
        lines.push_back("  address: " + text);
        break;
      }
      case ControlKind::ProgressBar:
        bar = static_cast<const CProgressCtrl*>(control);
        break;
      case ControlKind::PushButton:
      case ControlKind::DefPushButton:
        buttons += "[" + text + "] ";
        break;
    }
  }
  if (!buttons.empty()) lines.push_back(buttons);
  for (const std::string& line : lines) print_line(line);
  print_hint(dialog);
  if (bar != nullptr) show_progress(*bar);
}

void ConsoleBackend::print_hint(const CDialog& dialog) {
  std::string hint;
  if (!radio_buttons(dialog).empty())
    hint = "Type an option's number to choose it and confirm";
  else if (combo_box(dialog) != nullptr)
    hint = "Type an entry's number or an address";
  std::vector<std::string> words;
  for (const auto& control : dialog.controls())
    if (is_button(*control) && control->IsWindowVisible() && control->IsWindowEnabled())
      words.push_back("\"" + command_word(*control) + "\"");
  if (words.empty()) {
    print_line("Ctrl-C or the end of input closes this window.");
    return;
  }
  if (!hint.empty()) hint += "; ";
  hint += "Enter takes the default; buttons: ";
  for (std::size_t i = 0; i < words.size(); ++i) hint += (i > 0 ? ", " : "") + words[i];
  hint += "; \"cancel\" closes.";
  print_line(hint);
}

void ConsoleBackend::invalidate(CDialog& dialog) {
  if (std::find(m_rendered.begin(), m_rendered.end(), &dialog) == m_rendered.end()) return;
  std::vector<std::string> lines;
  ConsoleDC dc(lines);
  dialog.OnEraseBkgnd(dc);
  for (const std::string& line : lines) print_line(line);
}

void ConsoleBackend::control_changed(CDialog& dialog, CWnd& control) {
  // Before its first rendering a dialog is still being set up: the rendering shows it all.
  if (std::find(m_rendered.begin(), m_rendered.end(), &dialog) == m_rendered.end()) return;
  if (&control == &dialog) return;
  if (control.kind() == ControlKind::Static && control.IsWindowVisible())
    show_status(control.GetWindowText());
  else if (control.kind() == ControlKind::ProgressBar && control.IsWindowVisible())
    show_progress(static_cast<const CProgressCtrl&>(control));
}

void ConsoleBackend::show_status(const std::string& text) {
  m_liveStatus = text;
  if (!m_terminal) {
    print_line(text);
    return;
  }
  std::fprintf(m_output, "\r\033[K%s%s", m_liveStatus.c_str(), m_liveBar.c_str());
  m_liveLineShown = true;
  std::fflush(m_output);
}

void ConsoleBackend::show_progress(const CProgressCtrl& bar) {
  const int span = std::max(1, bar.high() - bar.low());
  const int percent = (bar.GetPos() - bar.low()) * 100 / span;
  const int filled = (bar.GetPos() - bar.low()) * kBarWidth / span;
  std::string drawn = "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
                      std::to_string(percent) + "%";
  if (!m_terminal) {
    if (drawn != m_liveBar) print_line("Progress: " + std::to_string(percent) + "%");
    m_liveBar = drawn;
    return;
  }
  m_liveBar = drawn;
  std::fprintf(m_output, "\r\033[K%s%s", m_liveStatus.c_str(), m_liveBar.c_str());
  m_liveLineShown = true;
  std::fflush(m_output);
}

void ConsoleBackend::end_live_line() {
  if (!m_liveLineShown) return;
  std::fputc('\n', m_output);
  m_liveLineShown = false;
}

void ConsoleBackend::print_line(const std::string& text) {
  end_live_line();
  std::fprintf(m_output, "%s\n", text.c_str());
  std::fflush(m_output);
}

}  // namespace ui
