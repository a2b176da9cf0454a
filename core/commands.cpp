// exec_command: programs run as real child processes without a shell, in call order; "arp"
// changes the neighbour table through the platform layer before it returns, and every entry
// it made is remembered until it is deleted, so that the program's exit can delete the rest.
#include "core/commands.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "core/diagnostics.h"
#include "platform/capture.h"
#include "platform/neighbour.h"
#include "platform/net.h"
#include "platform/process.h"

namespace {

std::mutex g_recorderMutex;
CommandRecorder g_recorder;

// (interface, address) of every entry "arp -s" made and no "arp -d" removed yet.
std::mutex g_entriesMutex;
std::set<std::pair<std::uint32_t, std::uint32_t>> g_entriesMade;

std::optional<std::uint8_t> hex_digit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

// "02-1A-2B-3C-4D-5E", Windows' form of a hardware address: hex pairs joined by "-".
std::optional<std::vector<std::uint8_t>> parse_hardware_address(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at < text.size(); at += 3) {
    if (at + 2 > text.size()) return std::nullopt;
    const auto high = hex_digit(text[at]);
    const auto low = hex_digit(text[at + 1]);
    if (!high || !low) return std::nullopt;
    if (at + 2 < text.size() && text[at + 2] != '-') return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

void report_refusal(const std::string& parameters, const std::string& why) {
  report_diagnostic(DiagnosticSource::Commands, kSeverityError, "arp " + parameters + ": " + why);
}

void add_entry(const std::vector<std::string>& words, const std::string& parameters) {
  const std::uint32_t address_net = platform::inet_addr(words[1].c_str());
  const auto hardware = parse_hardware_address(words[2]);
  const auto interface = platform::interface_index_for(address_net);
  if (address_net == platform::kInaddrNone || !hardware || !interface) {
    report_refusal(parameters, "no interface's network holds that address");
    return;
  }
  const platform::NeighbourResult result =
      platform::add_permanent_neighbour(*interface, address_net, *hardware);
  if (!result.ok()) {
    report_refusal(parameters, result.text);
    return;
  }
  std::lock_guard lock(g_entriesMutex);
  g_entriesMade.emplace(*interface, address_net);
}

void delete_entry(const std::vector<std::string>& words, const std::string& parameters) {
  const std::uint32_t address_net = platform::inet_addr(words[1].c_str());
  const auto interface = platform::interface_index_for(address_net);
  if (address_net == platform::kInaddrNone || !interface) {
    report_refusal(parameters, "no interface's network holds that address");
    return;
  }
  {
    std::lock_guard lock(g_entriesMutex);
    g_entriesMade.erase({*interface, address_net});
  }
  // An entry that is not there is what a delete wants (the board's first request finds none),
  // so the answer is not reported.
  platform::delete_neighbour(*interface, address_net);
}

void run_arp(const std::string& parameters) {
  const std::vector<std::string> words = platform::split_command_line(parameters);
  if (words.size() == 3 && words[0] == "-s") return add_entry(words, parameters);
  if (words.size() == 2 && words[0] == "-d") return delete_entry(words, parameters);
  report_refusal(parameters, "not understood");
}

}  // namespace

std::vector<std::string> command_line_for(const std::string& command,
                                          const std::string& parameters) {
  std::vector<std::string> words = platform::split_command_line(parameters);
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
  if (commandText == "arp") return run_arp(parameterText);
  if (!commandText.empty()) platform::spawn_in_order(command_line_for(commandText, parameterText));
}

void remove_neighbour_entries_made() {
  std::set<std::pair<std::uint32_t, std::uint32_t>> entries;
  {
    std::lock_guard lock(g_entriesMutex);
    entries.swap(g_entriesMade);
  }
  for (const auto& [interface, address_net] : entries)
    platform::delete_neighbour(interface, address_net);
}

void set_command_recorder_for_tests(CommandRecorder recorder) {
  std::lock_guard lock(g_recorderMutex);
  g_recorder = std::move(recorder);
}
