// Packet and UDP sockets for the simulated board, and the one system command it runs.
#include "tools/sim_board/link.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim_board {

namespace {

constexpr std::size_t kReceiveBufferLength = 2048;

std::string errno_text(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool run_command(const std::vector<std::string>& arguments, std::string& error) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    error = errno_text("fork");
    return false;
  }
  if (child == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = arguments[0] + " " + arguments[1] + " " + arguments[2] + " failed";
  return false;
}

}  // namespace

Descriptor::~Descriptor() {
  if (m_fd >= 0) ::close(m_fd);
}

Descriptor::Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

bool wait_readable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, remaining_ms(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

std::optional<RawLink> RawLink::open(const std::string& interface, std::string& error) {
  const unsigned index = ::if_nametoindex(interface.c_str());
  if (index == 0) {
    error = "no interface " + interface;
    return {};
  }
  Descriptor fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP)));
  if (fd.get() < 0) {
    error = errno_text("packet socket");
    return {};
  }
  sockaddr_ll local{};
  local.sll_family = AF_PACKET;
  local.sll_protocol = htons(ETH_P_IP);
  local.sll_ifindex = static_cast<int>(index);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    error = errno_text("bind packet socket");
    return {};
  }
  ifreq request{};
  std::strncpy(request.ifr_name, interface.c_str(), IFNAMSIZ - 1);
  if (::ioctl(fd.get(), SIOCGIFHWADDR, &request) != 0) {
    error = errno_text("hardware address");
    return {};
  }
  MacAddress mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    mac[i] = static_cast<std::uint8_t>(request.ifr_hwaddr.sa_data[i]);
  }
  return RawLink(std::move(fd), static_cast<int>(index), mac);
}

bool RawLink::send_broadcast(std::span<const std::uint8_t> ip_packet) {
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_protocol = htons(ETH_P_IP);
  to.sll_ifindex = m_index;
  to.sll_halen = 6;
  std::memset(to.sll_addr, 0xFF, 6);
  return ::sendto(m_fd.get(), ip_packet.data(), ip_packet.size(), 0,
                  reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(ip_packet.size());
}

std::optional<Bytes> RawLink::receive(Clock::time_point deadline) {
  Bytes buffer(kReceiveBufferLength);
  while (wait_readable(m_fd.get(), deadline)) {
    sockaddr_ll from{};
    socklen_t from_length = sizeof from;
    const ssize_t length = ::recvfrom(m_fd.get(), buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &from_length);
    if (length <= 0) continue;
    if (from.sll_pkttype != PACKET_HOST && from.sll_pkttype != PACKET_BROADCAST) continue;
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
  }
  return {};
}

std::optional<UdpPort> UdpPort::open(std::string& error) {
  Descriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    error = errno_text("udp socket");
    return {};
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    error = errno_text("bind udp socket");
    return {};
  }
  socklen_t length = sizeof local;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length);
  return UdpPort(std::move(fd), ntohs(local.sin_port));
}

bool UdpPort::send_to(std::uint32_t address_host, std::uint16_t port,
                      std::span<const std::uint8_t> bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address_host);
  return ::sendto(m_fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(bytes.size());
}

std::optional<Received> UdpPort::receive(Clock::time_point deadline) {
  Received received;
  received.bytes.resize(kReceiveBufferLength);
  while (wait_readable(m_fd.get(), deadline)) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t length = ::recvfrom(m_fd.get(), received.bytes.data(), received.bytes.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &from_length);
    if (length < 0) continue;  // e.g. a port-unreachable report for an earlier send
    received.bytes.resize(static_cast<std::size_t>(length));
    received.from_address = ntohl(from.sin_addr.s_addr);
    received.from_port = ntohs(from.sin_port);
    return received;
  }
  return {};
}

bool take_address(const std::string& interface, std::uint32_t address_host, int prefix_length,
                  std::string& error) {
  const std::string address = dotted(address_host) + "/" + std::to_string(prefix_length);
  return run_command({"ip", "address", "replace", address, "dev", interface}, error) &&
         run_command({"ip", "link", "set", "dev", interface, "arp", "on"}, error);
}

}  // namespace sim_board
