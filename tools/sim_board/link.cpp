// Packet and UDP sockets for the simulated board, and the one system command it runs.
#include "tools/sim_board/link.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/process.h"

namespace sim_board {

namespace {

constexpr std::size_t kReceiveBufferLength = 2048;
constexpr std::chrono::seconds kCommandPatience{10};

std::string errno_text(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// Waits until `fd` is readable or the deadline passes; false on time-out.
bool wait_readable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    if (ready >= 0 || errno != EINTR) return ready > 0;
  }
}

// The command's own complaints go to the board's log.
bool run_command(const std::vector<std::string>& argv, std::string& error) {
  if (platform::run_and_wait(argv, kCommandPatience,
                             {platform::ChildOutput::Shared, platform::ChildOutput::Shared}) == 0)
    return true;
  error = argv[0] + " " + argv[1] + " " + argv[2] + " failed";
  return false;
}

}  // namespace

std::optional<RawLink> RawLink::open(const std::string& interface, std::string& error) {
  const unsigned index = ::if_nametoindex(interface.c_str());
  if (index == 0) {
    error = "no interface " + interface;
    return {};
  }
  platform::UniqueFd fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP)));
  if (!fd.valid()) {
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

bool RawLink::send(std::span<const std::uint8_t> ip_packet, const MacAddress& to) {
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(ETH_P_IP);
  address.sll_ifindex = m_index;
  address.sll_halen = static_cast<unsigned char>(to.size());
  std::copy(to.begin(), to.end(), address.sll_addr);
  return ::sendto(m_fd.get(), ip_packet.data(), ip_packet.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) == static_cast<ssize_t>(ip_packet.size());
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
  platform::UdpSocket socket;
  if (!socket.open() || !socket.bind({platform::kInaddrAny, 0})) {
    error = errno_text("udp socket");
    return {};
  }
  const auto local = socket.local_endpoint();
  return UdpPort(std::move(socket), local ? local->port : 0);
}

bool UdpPort::send_to(platform::Endpoint to, std::span<const std::uint8_t> bytes) {
  return m_socket.send_to(bytes, to) == static_cast<long>(bytes.size());
}

std::optional<Received> UdpPort::receive(Clock::time_point deadline) {
  Received received;
  received.bytes.resize(kReceiveBufferLength);
  while (m_socket.readable_within(
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()))) {
    // Readable: the wait inside returns at once, and nobody can stop it.
    const auto result = m_socket.receive(received.bytes, platform::StopToken());
    // An error is e.g. a port-unreachable report for an earlier send.
    if (result.status != platform::RecvResult::Status::Received) continue;
    received.bytes.resize(result.length);
    received.from = result.from;
    return received;
  }
  return {};
}

bool take_address(const std::string& interface, std::uint32_t address_net, int prefix_length,
                  std::string& error) {
  const std::string address =
      platform::inet_ntoa(address_net) + "/" + std::to_string(prefix_length);
  return run_command({"ip", "address", "replace", address, "dev", interface}, error) &&
         run_command({"ip", "link", "set", "dev", interface, "arp", "on"}, error);
}

bool drop_address(const std::string& interface, std::string& error) {
  return run_command({"ip", "address", "flush", "dev", interface}, error) &&
         run_command({"ip", "link", "set", "dev", interface, "arp", "off"}, error);
}

}  // namespace sim_board
