// The BOOTP thread: start-up in its fixed order with its fatal exits, and the receive loop.
// bootpd owns the server's state for the thread's lifetime and hands it to each step;
// request handling is in request.cpp, the reply's length and vendor area in vendor.cpp, the
// host table in host_table.cpp.
#include "bootp/bootpd.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "bootp/adapter.h"
#include "bootp/host_table.h"
#include "bootp/report.h"
#include "bootp/request.h"
#include "bootp/server_state.h"
#include "core/fatal_box.h"
#include "core/flash_state.h"
#include "platform/exit.h"
#include "platform/interfaces.h"

namespace bootp {

namespace {

// The host name buffer holds 64 characters and a terminator.
constexpr std::size_t kMaxHostName = 64;

[[noreturn]] void fail_start(const char* text) {
  std::fputs(text, stderr);
  platform::exit_process(1);
}

void start_server(ServerState& state, const BootpConfig& config) {
  bootp_report(kInfo, "version %s.%d", kVersion, kPatchLevel);

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

  state.table.path = config.hostTableFile;
  state.table.resolveHost = config.resolveHost;
  if (!create_host_indexes(state.table)) {
    bootp_report(kError, "Unable to allocate hash tables.");
    platform::exit_process(1);
  }
  read_host_table(state, true);

  if (!state.serverSocket.open()) {
    bootp_report(kError, "socket: %s", platform::error_text(errno).c_str());
    platform::exit_process(1);
  }
  state.serverPort = config.serverPort;
  if (!state.serverSocket.bind({config.bindAddress_net, config.serverPort})) {
    const int error = errno;
    bootp_report(kError, "bind: %s", platform::error_text(error).c_str());
    if (platform::is_permission_error(error))
      fatal_box(port_permission_text("Bootp", config.serverPort).c_str());
    fatal_box(
        "Bootp port is not available, some other application is using it.\nPlease stop it "
        "and try again.");
  }
  if (const std::uint32_t serverAddress = flash_state().serverAddress.load(); serverAddress != 0)
    state.adapter = platform::interface_holding(serverAddress);
  // DHCP clients may ask for their replies by broadcast.
  if (!state.serverSocket.enable_broadcast())
    bootp_report(kError, "broadcast: %s", platform::error_text(errno).c_str());
  state.clientPort = config.clientPort;
}

void report_other_interface(const ServerState& state, const platform::RecvResult& received) {
  const std::string from = platform::inet_ntoa(received.from.address_net);
  const std::string arrival = interface_name(received.interfaceIndex);
  const std::string serverAddress = platform::inet_ntoa(flash_state().serverAddress.load());
  if (state.adapter)
    bootp_report(kNotice, "ignoring packet from %s on %s: only %s (%s) is served", from.c_str(),
                 arrival.c_str(), state.adapter->interface_name.c_str(), serverAddress.c_str());
  else
    bootp_report(kNotice, "ignoring packet from %s on %s: no interface holds %s", from.c_str(),
                 arrival.c_str(), serverAddress.c_str());
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
    if (!arrived_on_adapter(state, received.interfaceIndex)) {
      if (state.verbosity > 0) report_other_interface(state, received);
      continue;
    }
    if (received.length < kMinimumMessage) {
      if (state.verbosity > 0) bootp_report(kNotice, "received short packet");
      continue;
    }
    serve_datagram(state, std::span(receiveBuffer).first(received.length));
  }
}

}  // namespace

}  // namespace bootp

BootpConfig& bootp_config() {
  static BootpConfig config;
  return config;
}

void bootpd(int, char**, const platform::StopToken& stop) {
  using namespace bootp;
  ServerState state;
  try {
    start_server(state, bootp_config());
    if (bootp_config().onListening) bootp_config().onListening();
    serve(state, stop);
  } catch (const std::bad_alloc&) {
    bootp_report(kError, "malloc() failure -- exiting");
    platform::exit_process(1);
  }
}
