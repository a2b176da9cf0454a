// The TFTP socket, the client's address and the server's diagnostics. Runs on the TFTP
// thread; the dialog closes the socket through the server's face, once the thread has ended.
// Whatever arrives from another adapter or another client is dealt with here, so the
// protocol engine only ever sees its own client's datagrams.
#include "tftp/endpoint.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "core/diagnostics.h"
#include "core/fatal_box.h"
#include "core/flash_state.h"
#include "platform/error_stream.h"
#include "platform/interfaces.h"
#include "platform/wire.h"
#include "tftp/tftp_server.h"

namespace {

namespace wire = platform::wire;

// Formats into a bounded buffer (a longer text is cut, never overrun) and reports it.
void report_formatted(const char* format, std::va_list args, const char* suffix) {
  char text[1024];
  const int length = std::vsnprintf(text, sizeof text, format, args);
  if (length < 0) return;
  std::string line(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
  line += suffix;
  report_diagnostic(DiagnosticSource::Tftp, kLogText, line);
}

// Creates the socket and binds it; each failure is logged with the caller's text. False
// when the socket is not bound.
bool open_socket(TftpSession& session, std::uint16_t port, const char* createFailure,
                 const char* bindFailure) {
  if (!session.tftpsock.open()) {
    tftp_log("%s", createFailure);
    return false;
  }
  if (session.tftpsock.bind({tftp_config().bindAddress_net, port})) return true;
  tftp_log("%s", bindFailure);
  return false;
}

std::string address_of(platform::Endpoint endpoint) {
  return platform::inet_ntoa(endpoint.address_net) + " port " + std::to_string(endpoint.port);
}

// A board on the cable is all the server answers: a datagram from any other adapter is
// dropped without an answer, since an ERROR would end the flash. With no adapter confirmed
// (tests, tools) every adapter counts.
bool on_confirmed_adapter(TftpSession& session, const platform::RecvResult& result) {
  const std::uint32_t server_net = flash_state().serverAddress.load();
  if (server_net == 0) return true;
  if (!session.adapterIndex) {
    if (const auto adapter = platform::interface_holding(server_net))
      session.adapterIndex = adapter->index;
  }
  if (!session.adapterIndex) {
    if (!std::exchange(session.reportedNoAdapter, true)) {
      tftp_log("no interface holds %s: TFTP requests go unanswered\n",
               platform::inet_ntoa(server_net).c_str());
    }
    return false;
  }
  if (result.interfaceIndex == *session.adapterIndex) return true;
  tftp_log("dropped a datagram from %s: it came in on another interface than %s's\n",
           address_of(result.from).c_str(), platform::inet_ntoa(server_net).c_str());
  return false;
}

// RFC 1350's request: opcode 1 or 2, then the name and the mode, each ending inside the
// datagram. Options may follow.
bool is_request(std::span<const std::uint8_t> datagram) {
  wire::Reader reader(datagram);
  const auto opcode = reader.be16();
  if (opcode != static_cast<std::uint16_t>(TftpOpcode::Rrq) &&
      opcode != static_cast<std::uint16_t>(TftpOpcode::Wrq))
    return false;
  return reader.c_string() && reader.c_string();
}

// Another client's datagram at the transfer's port (RFC 1350 transfer identifiers): it is
// told so from that port, and the transfer goes on as if nothing had come.
void answer_stranger(TftpSession& session, platform::Endpoint stranger) {
  std::array<std::uint8_t, 32> packet{};
  wire::Writer error(packet);
  error.be16(static_cast<std::uint16_t>(TftpOpcode::Error));
  error.be16(5);
  error.c_string("Unknown transfer ID");
  session.tftpsock.send_to(error.written(), stranger);
  tftp_log("answered %s with ERROR 5: the transfer belongs to %s\n", address_of(stranger).c_str(),
           address_of(session.peeraddr).c_str());
}

// Waits for a datagram, or for the transfer's next deadline; kDeadlinePassed when the
// deadline came first. A datagram that arrives once the deadline has passed waits for its
// turn: what was due happens first. `arrival` is when the datagram was taken.
int receive_before_deadline(TftpSession& session, std::span<std::uint8_t> buffer,
                            platform::RecvResult& result, platform::TimePoint& arrival) {
  for (;;) {
    const auto deadline = next_deadline(session);
    std::optional<std::chrono::milliseconds> limit;
    if (deadline) {
      limit = std::chrono::ceil<std::chrono::milliseconds>(*deadline - platform::now());
      if (limit->count() <= 0) return kDeadlinePassed;
    }
    result = session.tftpsock.receive(buffer, session.stop, limit);
    using Status = platform::RecvResult::Status;
    if (result.status == Status::Interrupted || result.status == Status::TimedOut) continue;
    if (result.status == Status::Stopped) return -1;
    if (result.status == Status::Error) {
      tftp_log("recvfrom error");
      return -1;
    }
    arrival = platform::now();
    if (deadline && arrival >= *deadline) {
      session.pending = result;
      session.pendinglen = static_cast<int>(result.length);
      return kDeadlinePassed;
    }
    return static_cast<int>(result.length);
  }
}

}  // namespace

TftpConfig& tftp_config() {
  static TftpConfig config;
  return config;
}

int tftp_log(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  report_formatted(format, args, "");
  va_end(args);
  return 0;
}

void trace_line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  report_formatted(format, args, "\n");
  va_end(args);
}

void open_trace_log() {
  if (platform::append_error_stream_to("/tmp/tftpd.log")) return;
  // Written unformatted: the placeholder stays as it is.
  report_diagnostic(DiagnosticSource::Tftp, kLogText, "can't open %s for writing");
}

void net_init(TftpSession& session, const char*, int) {
  session.tftpsock.close();
  if (open_socket(session, tftp_config().requestPort, "net_init: can't create datagram socket\n",
                  "net_init: can't bind local address\n"))
    return;
  // Nothing would ever answer the board; the user must free the port first.
  fatal_box(
      "Tftp port is not available, some other application is using it.\nPlease stop it and "
      "try again.");
}

int net_open(TftpSession& session, int) {
  session.pendinglen = -1;
  for (;;) {
    const platform::RecvResult result = session.tftpsock.receive(session.recvpkt, session.stop);
    using Status = platform::RecvResult::Status;
    if (result.status == Status::Stopped) return -1;
    if (result.status != Status::Received) {
      if (result.status == Status::Error) tftp_log("recvfrom error");
      continue;
    }
    if (!on_confirmed_adapter(session, result)) continue;
    // Port 69 is given up only for a real request: anything else would leave the board's
    // own request, arriving a moment later, without a listener.
    if (!is_request(std::span(session.recvpkt).first(result.length))) {
      tftp_log("dropped a datagram of %d bytes from %s at the request port: not a request\n",
               static_cast<int>(result.length), address_of(result.from).c_str());
      continue;
    }
    session.peeraddr = result.from;
    session.requestInterface = result.interfaceIndex;
    session.pending = result;
    session.pendinglen = static_cast<int>(result.length);
    break;
  }
  session.tftpsock.close();
  open_socket(session, 0, "net_open: can't create socket", "net_open: bind error");
  return 0;
}

void net_close(TftpSession& session) {
  if constexpr (traceon)
    trace_line("net_close: host = %s, fd = %d", "",
               static_cast<int>(session.tftpsock.handle_number()));
  session.tftpsock.close();
}

void net_send(TftpSession& session, std::span<const std::uint8_t> packet) {
  const platform::Endpoint& peer = session.peeraddr;
  if constexpr (traceon) {
    trace_line("net_send: sent %d bytes to host %s, port# %d", static_cast<int>(packet.size()),
               platform::inet_ntoa(peer.address_net).c_str(), peer.port);
  }
  if (session.tftpsock.send_to(packet, peer) != static_cast<long>(packet.size())) {
    tftp_log("sendto error");
  }
}

int net_recv(TftpSession& session, std::span<std::uint8_t> buffer) {
  for (;;) {
    // Only the client's datagrams restart the receive time-out; re-sends and strangers do not,
    // so a board that has gone silent is given up on in time.
    if (std::exchange(session.armWatchdog, false)) arm_recv_timer_from(session.lastHeard);
    platform::RecvResult result = session.pending;
    platform::TimePoint arrival;
    int n = std::exchange(session.pendinglen, -1);
    if (n >= 0) arrival = platform::now();
    if (n < 0) n = receive_before_deadline(session, buffer, result, arrival);
    if (n < 0) return n;
    if constexpr (traceon) {
      trace_line("net_recv: got %d bytes from host %s, port# %d", n,
                 platform::inet_ntoa(result.from.address_net).c_str(), result.from.port);
    }
    if (!on_confirmed_adapter(session, result)) continue;
    if (result.from != session.peeraddr) {
      answer_stranger(session, result.from);
      continue;
    }
    session.armWatchdog = true;
    session.lastHeard = arrival;
    return n;
  }
}
