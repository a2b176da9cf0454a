// The TFTP socket, the client's address and the server's diagnostics. Runs on the TFTP
// thread; the dialog closes the socket through the server's face, once the thread has ended.
#include "tftp/endpoint.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "core/diagnostics.h"
#include "platform/error_stream.h"
#include "tftp/tftp_server.h"

namespace {

// Formats into a bounded buffer (a longer text is cut, never overrun) and reports it.
void report_formatted(const char* format, std::va_list args, const char* suffix) {
  char text[1024];
  const int length = std::vsnprintf(text, sizeof text, format, args);
  if (length < 0) return;
  std::string line(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
  line += suffix;
  report_diagnostic(DiagnosticSource::Tftp, kLogText, line);
}

// Creates the socket and binds it; each failure is logged with the caller's text and the
// caller goes on with whatever socket it has.
void open_socket(TftpSession& session, std::uint16_t port, const char* createFailure,
                 const char* bindFailure) {
  if (!session.tftpsock.open()) {
    tftp_log("%s", createFailure);
    return;
  }
  if (!session.tftpsock.bind({tftp_config().bindAddress_net, port})) tftp_log("%s", bindFailure);
}

// Every receive after the request runs under the receive time-out; the request itself is
// awaited for as long as it takes.
platform::RecvResult receive_timed(TftpSession& session, std::span<std::uint8_t> buffer) {
  platform::RecvResult result;
  do {
    if (!session.firstrecv) arm_recv_timer(kRecvTimerId);
    result = session.tftpsock.receive(buffer, session.stop);
    if (!session.firstrecv) disarm_recv_timer(kRecvTimerId);
  } while (result.status == platform::RecvResult::Status::Interrupted);
  return result;
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
  open_socket(session, tftp_config().requestPort, "net_init: can't create datagram socket",
              "net_init: can't bind local address");
}

int net_open(TftpSession& session, int) {
  session.firstrecv = true;
  session.pendinglen = -1;
  const int n = net_recv(session, session.recvpkt);
  if (session.stop.stop_requested()) return 0;
  // A failed receive of the request leaves the peer as it was; the transfer socket's
  // receives are timed all the same, so the time-out leads to a restart.
  session.firstrecv = false;
  session.tftpsock.close();
  open_socket(session, 0, "net_open: can't create socket", "net_open: bind error");
  session.pendinglen = n;
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
  if (session.pendinglen >= 0) return std::exchange(session.pendinglen, -1);

  const platform::RecvResult result = receive_timed(session, buffer);
  if (result.status == platform::RecvResult::Status::Stopped) return -1;
  if (result.status != platform::RecvResult::Status::Received) {
    tftp_log("recvfrom error");
    return -1;
  }
  const int n = static_cast<int>(result.length);
  if constexpr (traceon) {
    trace_line("net_recv: got %d bytes from host %s, port# %d", n,
               platform::inet_ntoa(result.from.address_net).c_str(), result.from.port);
  }
  if (session.firstrecv) {
    session.peeraddr = result.from;
    session.firstrecv = false;
  }
  // Only logged: the datagram is still the client's, and replies keep going to the port
  // that the request came from.
  if (session.peeraddr.port != 0 && session.peeraddr.port != result.from.port) {
    tftp_log("received from port %d, expected from port %d", result.from.port,
             session.peeraddr.port);
  }
  return n;
}
