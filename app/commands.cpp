// exec_command and fatal_box. Commands run as real child processes without a shell; the
// Windows "arp" syntax is translated to the Linux neighbour table. A fatal box asked for by
// a server thread is shown by the UI thread, which owns every window, and ends the process.
#include "app/commands.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <optional>

#include <poll.h>

#include "platform/exit.h"
#include "platform/interfaces.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/ui/backend.h"
#include "platform/ui/framework.h"

namespace {

std::mutex g_recorderMutex;
CommandRecorder g_recorder;

thread_local const platform::StopToken* t_stopToken = nullptr;

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// "02-1A-2B-3C-4D-5E" (Windows' form) to "02:1a:2b:3c:4d:5e" (what ip(8) takes).
std::string link_layer_address(std::string hardware) {
  std::replace(hardware.begin(), hardware.end(), '-', ':');
  std::transform(hardware.begin(), hardware.end(), hardware.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return hardware;
}

std::optional<std::string> device_for(const std::string& address) {
  const std::uint32_t address_net = platform::inet_addr(address.c_str());
  if (address_net == platform::kInaddrNone) return std::nullopt;
  return platform::interface_for(address_net);
}

// The neighbour table needs the interface: an entry names the link it lives on.
std::vector<std::string> neighbour_command(const std::vector<std::string>& words) {
  if (words.size() == 3 && words[0] == "-s") {
    const auto device = device_for(words[1]);
    if (!device) return {};
    return {"ip",  "neigh", "replace", words[1],   "lladdr", link_layer_address(words[2]),
            "dev", *device, "nud",     "permanent"};
  }
  if (words.size() == 2 && words[0] == "-d") {
    const auto device = device_for(words[1]);
    if (!device) return {};
    return {"ip", "neigh", "del", words[1], "dev", *device};
  }
  return {};
}

void show_fatal_box_and_exit(const std::string& message) {
  ui::AfxMessageBox(message, ui::MessageBoxType::Ok);
  platform::exit_process(1);
}

[[noreturn]] void wait_for_ui_or_stop() {
  const int stopFd = t_stopToken != nullptr ? t_stopToken->wait_fd() : -1;
  for (;;) {
    if (t_stopToken != nullptr && t_stopToken->stop_requested()) throw ServerThreadStopped{};
    pollfd wait{stopFd, POLLIN, 0};
    // A descriptor of -1 is ignored by poll: the thread then waits for the process to end.
    ::poll(&wait, 1, -1);
  }
}

}  // namespace

std::vector<std::string> command_line_for(const std::string& command,
                                          const std::string& parameters) {
  const std::vector<std::string> words = split_words(parameters);
  if (command == "arp") return neighbour_command(words);
  std::vector<std::string> argv{command};
  argv.insert(argv.end(), words.begin(), words.end());
  return argv;
}

void exec_command(const char* command, const char* parameters) {
  const std::string commandText = command != nullptr ? command : "";
  const std::string parameterText = parameters != nullptr ? parameters : "";
  {
    std::lock_guard lock(g_recorderMutex);
    if (g_recorder) {
      g_recorder(commandText, parameterText);
      return;
    }
  }
  const std::vector<std::string> argv = command_line_for(commandText, parameterText);
  // In call order: the BOOTP server's delete-then-add of a board's entry must not end up as
  // add-then-delete, which would leave the board unreachable.
  if (!argv.empty()) platform::spawn_in_order(argv);
}

void set_command_recorder_for_tests(CommandRecorder recorder) {
  std::lock_guard lock(g_recorderMutex);
  g_recorder = std::move(recorder);
}

void fatal_box(const char* message) {
  const std::string text = message != nullptr ? message : "";
  if (!ui::has_backend() || ui::on_ui_thread()) show_fatal_box_and_exit(text);
  ui::post_to_ui([text] { show_fatal_box_and_exit(text); });
  wait_for_ui_or_stop();
}

FatalBoxStopScope::FatalBoxStopScope(const platform::StopToken& stop) {
  t_stopToken = &stop;
}
FatalBoxStopScope::~FatalBoxStopScope() {
  t_stopToken = nullptr;
}
