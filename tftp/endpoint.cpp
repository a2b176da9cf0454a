// The TFTP socket, the client's address and the error stream. Runs on the TFTP thread;
// net_close also runs on the UI thread, but only after that thread has been joined.
#include "tftp/endpoint.h"

#include <cstdarg>
#include <cstdio>
#include <span>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/net.h"
#include "tftp/tftp_server.h"
#include "tftp/transfer.h"

namespace {

struct EndpointState {
  platform::UdpSocket tftpsock;
  int pendinglen = -1;          // the request held back for the first net_recv; -1 = none
  bool firstrecv = false;       // the request is awaited: no time-out, the sender becomes the peer
  platform::Endpoint peeraddr;  // kept across runs until the next request replaces it
  platform::StopToken stop;
};

EndpointState g_net;
ErrorStreamSink g_sink = nullptr;

void write_error_stream(std::string_view text) {
  if (g_sink != nullptr) {
    g_sink(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void vformat_to_error_stream(const char* format, std::va_list args) {
  char text[1024];
  const int length = std::vsnprintf(text, sizeof text, format, args);
  if (length < 0) return;
  const auto shown = static_cast<std::size_t>(length) < sizeof text
                         ? static_cast<std::size_t>(length)
                         : sizeof text - 1;
  write_error_stream(std::string_view(text, shown));
}

// Creates the socket and binds it; each failure is logged with the caller's text and the
// caller goes on with whatever socket it has.
void open_socket(std::uint16_t port, const char* createFailure, const char* bindFailure) {
  if (!g_net.tftpsock.open()) {
    tftp_log("%s", createFailure);
    return;
  }
  if (!g_net.tftpsock.bind({tftp_config().bindAddress_net, port})) tftp_log("%s", bindFailure);
}

}  // namespace

TftpConfig& tftp_config() {
  static TftpConfig config;
  return config;
}

int tftp_log(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  vformat_to_error_stream(format, args);
  va_end(args);
  return 0;
}

void tftp_error_stream(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  vformat_to_error_stream(format, args);
  va_end(args);
}

void set_error_stream_sink(ErrorStreamSink sink) {
  g_sink = sink;
}

void trace_line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void open_trace_log() {
  // A fixed name in a world-writable directory, opened by a program that runs as root:
  // refuse to follow a link planted there and to append to anything but our own file.
  const char* path = "/tmp/tftpd.log";
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat status {};
  const bool ours = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                    status.st_uid == ::geteuid();
  if (!ours || ::dup2(fd, STDERR_FILENO) < 0) {
    // Written unformatted: the placeholder stays as it is.
    std::fputs("can't open %s for writing", stderr);
  }
  if (fd >= 0) ::close(fd);
}

void net_set_stop_token(const platform::StopToken& stop) {
  g_net.stop = stop;
}

bool net_stop_requested() {
  return g_net.stop.stop_requested();
}

std::uint16_t net_local_port() {
  if (!g_net.tftpsock.is_open()) return 0;
  const auto local = g_net.tftpsock.local_endpoint();
  return local ? local->port : 0;
}

void net_init(const char*, int) {
  g_net.tftpsock.close();
  open_socket(tftp_config().requestPort, "net_init: can't create datagram socket",
              "net_init: can't bind local address");
}

int net_open(int) {
  g_net.firstrecv = true;
  g_net.pendinglen = -1;
  const int n = net_recv(transfer_state().recvpkt.data(), kMaxDatagram);
  if (net_stop_requested()) return 0;
  // A failed receive of the request leaves the peer as it was; the transfer socket's
  // receives are timed all the same, so the time-out leads to a restart.
  g_net.firstrecv = false;
  g_net.tftpsock.close();
  open_socket(0, "net_open: can't create socket", "net_open: bind error");
  g_net.pendinglen = n;
  return 0;
}

void net_close() {
  if constexpr (traceon) trace_line("net_close: host = %s, fd = %d", "", g_net.tftpsock.fd());
  g_net.tftpsock.close();
}

void net_send(const std::uint8_t* buffer, int length) {
  if constexpr (traceon) {
    trace_line("net_send: sent %d bytes to host %s, port# %d", length,
               platform::inet_ntoa(g_net.peeraddr.address_net).c_str(), g_net.peeraddr.port);
  }
  const long sent = g_net.tftpsock.send_to(
      std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(length)), g_net.peeraddr);
  if (sent != length) tftp_log("sendto error");
}

int net_recv(std::uint8_t* buffer, int maxLength) {
  if (g_net.pendinglen >= 0) return std::exchange(g_net.pendinglen, -1);

  const std::span<std::uint8_t> room(buffer, static_cast<std::size_t>(maxLength));
  platform::RecvResult result;
  do {
    if (!g_net.firstrecv) arm_recv_timer(kRecvTimerId);
    result = g_net.tftpsock.receive(room, g_net.stop);
    if (!g_net.firstrecv) disarm_recv_timer(kRecvTimerId);
  } while (result.status == platform::RecvResult::Status::Interrupted);

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
  if (g_net.firstrecv) {
    g_net.peeraddr = result.from;
    g_net.firstrecv = false;
  }
  // Only logged: the datagram is still the client's, and replies keep going to the port
  // that the request came from.
  if (g_net.peeraddr.port != 0 && g_net.peeraddr.port != result.from.port) {
    tftp_log("received from port %d, expected from port %d", result.from.port, g_net.peeraddr.port);
  }
  return n;
}
