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
  if (!m_fd.valid()) return false;
  // Every datagram then says which interface it came in on, so a server can keep to the
  // adapter the user chose.
  const int on = 1;
  ::setsockopt(m_fd.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  return true;
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

// Waits until the socket is readable; the stop token and the limit end the wait first.
RecvResult::Status UdpSocket::wait_readable(const StopToken& stop,
                                            std::optional<std::chrono::milliseconds> limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit.value_or(std::chrono::hours(0));
  pollfd fds[2] = {{fd(), POLLIN, 0}, {stop.wait_fd(), POLLIN, 0}};
  const nfds_t count = stop.wait_fd() >= 0 ? 2 : 1;
  for (;;) {
    if (stop.stop_requested()) return RecvResult::Status::Stopped;
    int timeout = -1;
    if (limit) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return RecvResult::Status::TimedOut;
      timeout = static_cast<int>(left.count());
    }
    const int ready = ::poll(fds, count, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return RecvResult::Status::Error;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) continue;  // re-checks the stop flag
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL))
      return RecvResult::Status::Received;
  }
}

RecvResult UdpSocket::receive(std::span<std::uint8_t> buffer, const StopToken& stop,
                              std::optional<std::chrono::milliseconds> limit) {
  RecvResult result;
  result.status = wait_readable(stop, limit);
  if (result.status != RecvResult::Status::Received) {
    if (result.status == RecvResult::Status::Error) result.error = errno;
    return result;
  }
  sockaddr_in from{};
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t received = ::recvmsg(fd(), &message, 0);
  if (received < 0) {
    result.error = errno;
    result.status = errno == EINTR ? RecvResult::Status::Interrupted : RecvResult::Status::Error;
    return result;
  }
  result.length = static_cast<std::size_t>(received);
  result.from = from_sockaddr(from);
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info{};
    std::memcpy(&info, CMSG_DATA(header), sizeof info);
    result.interfaceIndex = static_cast<std::uint32_t>(info.ipi_ifindex);
    result.destination_net = info.ipi_addr.s_addr;
  }
  return result;
}

long UdpSocket::send_to(std::span<const std::uint8_t> bytes, Endpoint to) {
  const sockaddr_in address = to_sockaddr(to);
  return ::sendto(m_fd.get(), bytes.data(), bytes.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

long UdpSocket::send_out_of(std::span<const std::uint8_t> bytes, Endpoint to,
                            std::uint32_t interfaceIndex) {
  sockaddr_in address = to_sockaddr(to);
  iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = sizeof address;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_ifindex = static_cast<int>(interfaceIndex);
  std::memcpy(CMSG_DATA(header), &info, sizeof info);
  return ::sendmsg(m_fd.get(), &message, 0);
}

bool sockets_available() {
  UdpSocket probe;
  return probe.open();
}

std::string error_text(int error) {
  return std::strerror(error);
}

bool is_permission_error(int error) {
  return error == EACCES || error == EPERM;
}

}  // namespace platform
