// IPv4 UDP sockets over the BSD socket calls; receives wait in poll() on the socket and the
// stop token together, so a server thread blocked in a receive stops at once.
#include "platform/net.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace platform {

namespace {

sockaddr_in to_sockaddr(Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = endpoint.address_net;
  return address;
}

Endpoint from_sockaddr(const sockaddr_in& address) {
  return Endpoint{address.sin_addr.s_addr, ntohs(address.sin_port)};
}

}  // namespace

std::uint32_t inet_addr(const char* text) {
  return ::inet_addr(text);
}

std::string inet_ntoa(std::uint32_t address_net) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = address_net;
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::uint32_t host_to_net32(std::uint32_t host) {
  return htonl(host);
}
std::uint32_t net_to_host32(std::uint32_t net) {
  return ntohl(net);
}

bool UdpSocket::open() {
  m_fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  return m_fd.valid();
}

bool UdpSocket::bind(Endpoint local) {
  const sockaddr_in address = to_sockaddr(local);
  return ::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool UdpSocket::enable_broadcast() {
  const int on = 1;
  return ::setsockopt(m_fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

std::optional<Endpoint> UdpSocket::local_endpoint() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  return from_sockaddr(address);
}

RecvResult UdpSocket::receive(std::span<std::uint8_t> buffer, const StopToken& stop) {
  RecvResult result;
  pollfd fds[2] = {{fd(), POLLIN, 0}, {stop.wait_fd(), POLLIN, 0}};
  const nfds_t count = stop.wait_fd() >= 0 ? 2 : 1;
  for (;;) {
    if (stop.stop_requested()) {
      result.status = RecvResult::Status::Stopped;
      return result;
    }
    const int ready = ::poll(fds, count, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      return result;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) continue;  // re-checks the stop flag
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) break;
  }
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t received = ::recvfrom(fd(), buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (received < 0) {
    result.error = errno;
    result.status = errno == EINTR ? RecvResult::Status::Interrupted : RecvResult::Status::Error;
    return result;
  }
  result.status = RecvResult::Status::Received;
  result.length = static_cast<std::size_t>(received);
  result.from = from_sockaddr(from);
  return result;
}

long UdpSocket::send_to(std::span<const std::uint8_t> bytes, Endpoint to) {
  const sockaddr_in address = to_sockaddr(to);
  return ::sendto(m_fd.get(), bytes.data(), bytes.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

bool sockets_available() {
  UdpSocket probe;
  return probe.open();
}

std::string error_text(int error) {
  return std::strerror(error);
}

}  // namespace platform
