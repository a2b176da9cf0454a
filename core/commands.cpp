// exec_command: commands run as real child processes without a shell, in call order; the
// Windows "arp" syntax is translated to the neighbour table of the interface that holds the
// address.
#include "core/commands.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <optional>

#include "platform/capture.h"
#include "platform/interfaces.h"
#include "platform/net.h"
#include "platform/process.h"

namespace {

std::mutex g_recorderMutex;
CommandRecorder g_recorder;

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

}  // namespace

std::vector<std::string> command_line_for(const std::string& command,
                                          const std::string& parameters) {
  std::vector<std::string> words = platform::split_command_line(parameters);
  if (command == "arp") return neighbour_command(words);
  words.insert(words.begin(), command);
  return words;
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
