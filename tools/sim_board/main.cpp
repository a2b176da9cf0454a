// sim_board: a boot loader on a link, for whole-flash tests and the demo. It asks for an
// address with BOOTP (or DHCP), takes it, fetches the boot file with TFTP and writes what it
// received; with network retry it starts over from the address request when the fetch fails.
// Exit status: 0 image received, 2 no BOOTP reply, 3 TFTP failed, 1 usage or system error.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "platform/net.h"
#include "tools/sim_board/bootp_client.h"
#include "tools/sim_board/link.h"
#include "tools/sim_board/tftp_client.h"

namespace {

using namespace sim_board;

constexpr int kExitOk = 0, kExitUsage = 1, kExitNoBootp = 2, kExitTftpFailed = 3;

constexpr const char* kUsage =
    "usage: sim_board --interface IF [options]\n"
    "  --mac XX:XX:XX:XX:XX:XX   hardware address to ask with (default: the interface's)\n"
    "  --output FILE             where the received image is written (default: board.bin)\n"
    "  --bootp-give-up-ms N      stop asking for an address after N ms (default 28000)\n"
    "  --dhcp                    ask with DHCP: DISCOVER, then REQUEST, done on an ACK\n"
    "  --netretry N              after a failed fetch, start over from the address request\n"
    "                            up to N times (default 0)\n"
    "  --file NAME               fetch NAME instead of the boot file the reply names\n"
    "  --abort-write N           first upload N blocks to the boot file, then stop halfway\n"
    "  --blksize N               block size to ask for, 0 not at all (default 1468)\n"
    "  --windowsize N            window to ask for, ACK every N blocks (default: not asked)\n"
    "  --tsize                   ask for the transfer size\n"
    "  --plain-request           ask for no TFTP option at all\n"
    "  --tftp-timeout-ms N       wait N ms before re-sending, and ask that (default 5000)\n"
    "  --tftp-resends N          unanswered re-sends before a new request (default 10)\n"
    "  --max-restarts N          new requests before giving up (default 10)\n"
    "  --give-up-s N             give the whole transfer up after N s (default 600)\n"
    "  --ack-delay-us N          pause before each ACK, like a slow board (default 0)\n"
    "  --lose-data N             ignore the first arrival of DATA block N\n"
    "  --lose-last-data          ignore the first arrival of the last DATA block\n"
    "  --no-last-ack             finish without acknowledging the last block\n"
    "  --silent-after N          after block N, send nothing until the request restarts\n";

struct Options {
  std::string interface;
  std::optional<MacAddress> mac;
  std::string output = "board.bin";
  std::chrono::milliseconds bootp_give_up{28000};
  bool dhcp = false;
  int netretry = 0;
  std::optional<std::string> file;
  std::uint32_t abort_write_blocks = 0;
  FetchOptions fetch;
};

std::optional<std::uint32_t> parse_number(const std::string& text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

// Applies one "--name value" pair; false for an unknown name or a bad value.
bool apply_option(Options& options, const std::string& name, const std::string& value) {
  if (name == "--interface") {
    options.interface = value;
    return !value.empty();
  }
  if (name == "--output") {
    options.output = value;
    return !value.empty();
  }
  if (name == "--mac") {
    options.mac = parse_mac(value);
    return options.mac.has_value();
  }
  if (name == "--file") {
    options.file = value;
    return !value.empty();
  }
  const auto number = parse_number(value);
  if (!number) return false;
  const int count = static_cast<int>(std::min<std::uint32_t>(*number, 1000000));
  if (name == "--bootp-give-up-ms")
    options.bootp_give_up = std::chrono::milliseconds{count};
  else if (name == "--tftp-timeout-ms")
    options.fetch.timeout = std::chrono::milliseconds{count};
  else if (name == "--tftp-resends")
    options.fetch.resends = count;
  else if (name == "--max-restarts")
    options.fetch.max_restarts = count;
  else if (name == "--give-up-s")
    options.fetch.give_up_after = std::chrono::seconds{count};
  else if (name == "--ack-delay-us")
    options.fetch.ack_delay = std::chrono::microseconds{count};
  else if (name == "--lose-data")
    options.fetch.lose_data = *number;
  else if (name == "--silent-after")
    options.fetch.silent_after = *number;
  else if (name == "--netretry")
    options.netretry = count;
  else if (name == "--abort-write")
    options.abort_write_blocks = *number;
  else if (name == "--blksize" && *number <= 65464)
    options.fetch.blksize = static_cast<std::uint16_t>(*number);
  else if (name == "--windowsize" && *number <= 65535)
    options.fetch.windowsize = static_cast<std::uint16_t>(*number);
  else
    return false;
  return true;
}

// A switch without a value; false for an unknown name.
bool apply_switch(Options& options, const std::string& name) {
  bool* const target = name == "--plain-request"    ? &options.fetch.plain_request
                       : name == "--dhcp"           ? &options.dhcp
                       : name == "--tsize"          ? &options.fetch.ask_tsize
                       : name == "--lose-last-data" ? &options.fetch.lose_last_data
                       : name == "--no-last-ack"    ? &options.fetch.skip_last_ack
                                                    : nullptr;
  if (target != nullptr) *target = true;
  return target != nullptr;
}

std::optional<Options> parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (apply_switch(options, name)) continue;
    if (i + 1 >= argc || !apply_option(options, name, argv[i + 1])) {
      std::cerr << "sim_board: bad option " << name << "\n";
      return {};
    }
    ++i;
  }
  if (options.interface.empty()) return {};
  return options;
}

int prefix_length(std::optional<std::uint32_t> mask_net) {
  if (!mask_net) return 24;
  const std::uint32_t mask = platform::net_to_host32(*mask_net);
  int length = 0;
  for (std::uint32_t bit = 0x80000000u; bit != 0 && (mask & bit) != 0; bit >>= 1) ++length;
  return length;
}

void print_reply(const BootReply& reply) {
  std::cout << "bootp: reply yiaddr=" << platform::inet_ntoa(reply.yiaddr_net)
            << " siaddr=" << platform::inet_ntoa(reply.siaddr_net) << " file=" << reply.file
            << std::endl;
  std::cout << "bootp: vendor=" << hex_text(reply.vendor) << std::endl;
  std::cout << "bootp: used reply xid=0x" << std::hex << reply.xid << std::dec;
  if (reply.dhcp != DhcpType::None) std::cout << " dhcp=" << dhcp_type_name(reply.dhcp);
  std::cout << std::endl;
}

int write_result(const Options& options, const FetchResult& result) {
  std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(result.image.data()),
            static_cast<std::streamsize>(result.image.size()));
  if (!out.flush()) {
    std::cerr << "sim_board: cannot write " << options.output << "\n";
    return kExitUsage;
  }
  char crc[11];
  std::snprintf(crc, sizeof crc, "0x%08x", crc32(result.image));
  std::cout << "image: size=" << result.image.size() << " crc32=" << crc
            << " restarts=" << result.restarts << std::endl;
  return kExitOk;
}

// One round from the address request to the end of the fetch: the exit status, or nothing
// when the fetch gave up and network retry may start over.
std::optional<int> boot_once(RawLink& link, const Options& options, bool first_round) {
  BootpOptions bootp;
  bootp.mac = options.mac.value_or(link.mac());
  bootp.give_up_after = options.bootp_give_up;
  bootp.dhcp = options.dhcp;
  const auto reply = obtain_address(link, bootp, std::cout);
  if (!reply) return kExitNoBootp;
  print_reply(*reply);
  FetchOptions fetch = options.fetch;
  if (!first_round) {
    // Each injected loss fires once in the board's whole run.
    fetch.lose_data.reset();
    fetch.lose_last_data = false;
    fetch.silent_after.reset();
  }
  fetch.server_net = reply->siaddr_net;
  fetch.file = options.file.value_or(reply->file);
  if (fetch.server_net == 0 || fetch.file.empty()) {
    std::cout << "bootp: no server or no boot file to fetch" << std::endl;
    return kExitTftpFailed;
  }
  std::string error;
  if (!take_address(options.interface, reply->yiaddr_net, prefix_length(reply->subnet_mask_net),
                    error)) {
    std::cerr << "sim_board: " << error << "\n";
    return kExitUsage;
  }
  if (first_round && options.abort_write_blocks > 0)
    write_and_abandon(fetch, options.abort_write_blocks, std::cout);
  const FetchResult result = fetch_image(fetch, std::cout);
  if (result.outcome == FetchResult::Outcome::Complete) return write_result(options, result);
  if (result.outcome == FetchResult::Outcome::GaveUp) return {};
  return kExitTftpFailed;
}

int run(const Options& options) {
  std::string error;
  auto link = RawLink::open(options.interface, error);
  if (!link) {
    std::cerr << "sim_board: " << error << "\n";
    return kExitUsage;
  }
  std::cout << "board: " << mac_text(options.mac.value_or(link->mac())) << " on "
            << options.interface << std::endl;
  for (int round = 0;; ++round) {
    if (const auto status = boot_once(*link, options, round == 0)) return *status;
    if (round >= options.netretry) return kExitTftpFailed;
    std::cout << "board: starting over from the address request" << std::endl;
    if (!drop_address(options.interface, error)) {
      std::cerr << "sim_board: " << error << "\n";
      return kExitUsage;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse_options(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  return run(*options);
}
