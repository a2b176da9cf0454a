// IPv4 UDP sockets over the BSD socket calls; receives wait in poll() on the socket and the
// stop token's eventfd together, so a server thread blocked in a receive stops at once.
#include "platform/net.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "platform/posix/fd_io.h"
#include "platform/posix/stop_state.h"
#include "platform/socket_address.h"

namespace platform {

struct UdpSocket::Impl {
  UniqueFd fd;
};

namespace {

// A message of one buffer, with its peer's address and room for one control message.
msghdr one_buffer_message(sockaddr_in& peer, iovec& data, std::span<std::uint8_t> control) {
  msghdr message{};
  message.msg_name = &peer;
  message.msg_namelen = sizeof peer;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  return message;
}

// The socket's descriptor, -1 when it has none (a template: the type is private to UdpSocket).
template <class Impl>
int fd_of(const std::unique_ptr<Impl>& impl) {
  return impl ? impl->fd.get() : -1;
}

// Waits until the socket is readable; the stop descriptor (when there is one) and the limit
// end the wait first.
RecvResult::Status wait_readable(int fd, const StopToken& stop, int stopFd,
                                 std::optional<std::chrono::milliseconds> limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit.value_or(std::chrono::hours(0));
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  const nfds_t count = stopFd >= 0 ? 2 : 1;
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

}  // namespace

UdpSocket::UdpSocket() = default;
UdpSocket::~UdpSocket() = default;
UdpSocket::UdpSocket(UdpSocket&& other) noexcept = default;
UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept = default;

bool UdpSocket::open() {
  auto impl = std::make_unique<Impl>();
  impl->fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  m_impl.reset();
  if (!impl->fd.valid()) return false;
  // Every datagram then says which interface it came in on, so a server can keep to the
  // adapter the user chose.
  const int on = 1;
  ::setsockopt(impl->fd.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  m_impl = std::move(impl);
  return true;
}

bool UdpSocket::bind(Endpoint local) {
  const sockaddr_in address = to_sockaddr(local);
  return ::bind(fd_of(m_impl), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool UdpSocket::enable_broadcast() {
  const int on = 1;
  return ::setsockopt(fd_of(m_impl), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool UdpSocket::is_open() const {
  return fd_of(m_impl) >= 0;
}

std::optional<Endpoint> UdpSocket::local_endpoint() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd_of(m_impl), reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  return from_sockaddr(address);
}

long long UdpSocket::handle_number() const {
  return fd_of(m_impl);
}

RecvResult UdpSocket::receive(std::span<std::uint8_t> buffer, const StopToken& stop,
                              std::optional<std::chrono::milliseconds> limit) {
  RecvResult result;
  const int fd = fd_of(m_impl);
  const int stopFd = stop.m_state ? stop.m_state->fd.get() : -1;
  result.status = wait_readable(fd, stop, stopFd, limit);
  if (result.status != RecvResult::Status::Received) {
    if (result.status == RecvResult::Status::Error) result.error = errno;
    return result;
  }
  sockaddr_in from{};
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr message = one_buffer_message(from, data, control);
  const ssize_t received = ::recvmsg(fd, &message, 0);
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

bool UdpSocket::readable_within(std::chrono::milliseconds limit) const {
  pollfd readable{fd_of(m_impl), POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int ready = ::poll(&readable, 1, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    if (ready >= 0 || errno != EINTR) return ready > 0;
  }
}

long UdpSocket::send_to(std::span<const std::uint8_t> bytes, Endpoint to) {
  if (const SendHook hook = send_hook()) return hook(bytes, to);
  const sockaddr_in address = to_sockaddr(to);
  return ::sendto(fd_of(m_impl), bytes.data(), bytes.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

void UdpSocket::close() {
  m_impl.reset();
}

long UdpSocket::send_out_of(std::span<const std::uint8_t> bytes, Endpoint to,
                            std::uint32_t interfaceIndex) {
  if (const SendHook hook = send_hook()) return hook(bytes, to);
  sockaddr_in address = to_sockaddr(to);
  iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr message = one_buffer_message(address, data, control);
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_ifindex = static_cast<int>(interfaceIndex);
  std::memcpy(CMSG_DATA(header), &info, sizeof info);
  return ::sendmsg(fd_of(m_impl), &message, 0);
}

bool sockets_available() {
  UdpSocket probe;
  return probe.open();
}

std::string error_text(int error) {
  return std::strerror(error);
}

}  // namespace platform
