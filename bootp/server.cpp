// The BOOTP thread: start-up in its fixed order with its fatal exits, the receive loop, the
// reply length rule and the report function. Request handling is in request.cpp, the vendor
// area in vendor.cpp, the host table in host_table.cpp.
#include "bootp/server.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>

#include "bootp/bootpd.h"
#include "bootp/host_table.h"
#include "bootp/request.h"
#include "core/fatal_box.h"
#include "platform/exit.h"
#include "platform/interfaces.h"

namespace bootp {

namespace {

// Messages are kept for tests and shown to no one; only the most recent are kept, so that a
// flood of odd requests cannot grow the list without bound.
constexpr std::size_t kKeptMessages = 4096;
// The host name buffer holds 64 characters and a terminator.
constexpr std::size_t kMaxHostName = 64;
// Only the first 64 bytes of the request's vendor area are scanned for option 57.
constexpr std::size_t kScannedVendorBytes = 64;
constexpr std::uint8_t kMaxMessageSizeOption = 57;

struct Reports {
  std::mutex mutex;
  std::deque<ReportedMessage> messages;
};

Reports& reports() {
  static Reports instance;
  return instance;
}

[[noreturn]] void fail_start(const char* text) {
  std::fputs(text, stderr);
  platform::exit_process(1);
}

// The client's maximum message size from option 57 in the first 64 bytes of the request's
// vendor area (behind the cookie), reading nothing outside the datagram; 0 if absent.
std::size_t requested_message_size(const Packet& packet) {
  const std::size_t vendLength = packet.receivedLength - offset::kVend;
  const std::uint8_t* vend = packet.buffer.data() + offset::kVend;
  std::size_t size = 0;
  std::size_t at = 4;
  while (at < kScannedVendorBytes) {
    const std::uint8_t tag = vend[at];
    if (tag == 0) {
      ++at;
      continue;
    }
    if (tag == 255 || at + 1 >= vendLength) break;
    const std::size_t length = vend[at + 1];
    if (tag == kMaxMessageSizeOption && length == 2 && at + 3 < vendLength)
      size = load_be16(std::span<const std::uint8_t, 2>(vend + at + 2, 2));
    at += 2 + length;
  }
  return size;
}

void start_server(ServerState& state, const BootpConfig& config) {
  bootp_report(kInfo, "version %s.%d", kVersion, kPatchLevel);
  state.reset();

  errno = 0;
  const auto name = platform::host_name();
  if (!name || name->size() > kMaxHostName) {
    std::fputs("bootpd: can't get hostname\n", stderr);
    std::fprintf(stderr, "Error code is %d\n", errno);
    platform::exit_process(1);
  }
  state.ownHostName = *name;

  const auto addresses = platform::ipv4_interfaces();
  if (addresses.empty()) fail_start("Can not get my IP address\n");
  state.ownAddress = addresses.front().address_net;
  state.secondsWest = 0;

  if (!create_host_indexes()) {
    bootp_report(kError, "Unable to allocate hash tables.");
    platform::exit_process(1);
  }
  read_host_table(true);

  if (!state.serverSocket.open()) {
    bootp_report(kError, "socket: %s", platform::error_text(errno).c_str());
    platform::exit_process(1);
  }
  state.serverPort = config.serverPort;
  if (!state.serverSocket.bind({config.bindAddress_net, config.serverPort})) {
    bootp_report(kError, "bind: %s", platform::error_text(errno).c_str());
    fatal_box(
        "Bootp port is not available, some other application is using it.\nPlease stop it "
        "and try again.");
  }
  state.clientPort = config.clientPort;
}

void serve(ServerState& state, const platform::StopToken& stop) {
  // One byte more than the packet buffer, so that a longer datagram shows as too long
  // instead of arriving cut to 1536 bytes.
  std::array<std::uint8_t, kPacketSize + 1> receiveBuffer{};
  for (;;) {
    const platform::RecvResult received = state.serverSocket.receive(receiveBuffer, stop);
    if (received.status == platform::RecvResult::Status::Stopped) return;
    if (received.status != platform::RecvResult::Status::Received || received.length == 0 ||
        received.length > kPacketSize)
      continue;
    if (state.verbosity > 1)
      bootp_report(kInfo, "recvd pkt from IP addr %s",
                   platform::inet_ntoa(received.from.address_net).c_str());
    if (received.length < kMinimumMessage) {
      if (state.verbosity > 0) bootp_report(kNotice, "received short packet");
      continue;
    }
    std::copy_n(receiveBuffer.begin(), received.length, state.packet.buffer.begin());
    state.packet.length = received.length;
    state.packet.receivedLength = received.length;

    read_host_table(false);
    switch (state.packet.view().op()) {
      case kBootRequest:
        serve_request(state);
        break;
      case kBootReply:
        relay_reply(state);
        break;
      default:
        break;
    }
  }
}

}  // namespace

void ServerState::reset() {
  packet = Packet{};
  serverSocket.close();
  serverPort = 67;
  clientPort = 68;
  ownHostName.clear();
  ownAddress = 0;
  verbosity = 0;
  secondsWest = 0;
}

ServerState& server_state() {
  static ServerState state;
  return state;
}

void bootp_report(int severity, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  Reports& kept = reports();
  const std::lock_guard lock(kept.mutex);
  if (kept.messages.size() == kKeptMessages) kept.messages.pop_front();
  kept.messages.push_back({severity, text});
}

std::vector<ReportedMessage> bootp_reported_messages() {
  Reports& kept = reports();
  const std::lock_guard lock(kept.mutex);
  return {kept.messages.begin(), kept.messages.end()};
}

void clear_bootp_reported_messages() {
  Reports& kept = reports();
  const std::lock_guard lock(kept.mutex);
  kept.messages.clear();
}

void apply_reply_length(Packet& packet, const HostEntry& entry, int verbosity) {
  if (entry.has(Flag::MessageSize)) {
    packet.length = entry.messageSize;
  } else {
    if (packet.length > kMinimumMessage && verbosity > 1)
      bootp_report(kInfo, "request message length=%zu", packet.length);
    const std::size_t requested = requested_message_size(packet);
    if (requested > kMinimumMessage) {
      if (verbosity > 1) bootp_report(kInfo, "request has DHCP msglen=%zu", requested);
      packet.length = requested;
    }
  }
  if (packet.length < kMinimumMessage) {
    bootp_report(kError, "invalid response length=%zu", packet.length);
    packet.length = kMinimumMessage;
  }
  // The reply is built in the packet buffer; a client asking for more gets the most it holds.
  packet.length = std::min(packet.length, kPacketSize);
  // Bytes behind what came in are not the request's: a reply cut short by lack of room must
  // not carry an earlier datagram's leftovers.
  if (packet.length > packet.receivedLength)
    std::fill(packet.buffer.begin() + static_cast<std::ptrdiff_t>(packet.receivedLength),
              packet.buffer.begin() + static_cast<std::ptrdiff_t>(packet.length), 0);
  if (packet.length > kMinimumMessage && verbosity > 1)
    bootp_report(kInfo, "extended reply, length=%zu, options=%zu", packet.length,
                 packet.length - offset::kVend);
}

}  // namespace bootp

BootpConfig& bootp_config() {
  static BootpConfig config;
  return config;
}

void bootpd(int, char**, const platform::StopToken& stop) {
  using namespace bootp;
  ServerState& state = server_state();
  try {
    start_server(state, bootp_config());
    if (bootp_config().onListening) bootp_config().onListening();
    serve(state, stop);
  } catch (const std::bad_alloc&) {
    bootp_report(kError, "malloc() failure -- exiting");
    platform::exit_process(1);
  }
  state.serverSocket.close();
}
