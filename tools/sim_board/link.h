// The board's two ways onto the wire. Before it has an address it writes and reads whole
// IPv4 packets on the interface itself (a packet socket), as a boot loader's own stack does;
// the kernel never answers ARP for an address the interface does not hold. Once BOOTP has
// given it an address, that address is put on the interface and ordinary UDP sockets do TFTP.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/net.h"
#include "platform/posix/fd_io.h"
#include "tools/sim_board/packets.h"

namespace sim_board {

using Clock = std::chrono::steady_clock;

inline constexpr MacAddress kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class RawLink {
 public:
  // nullopt with `error` set when the interface is unknown or packet sockets are refused.
  static std::optional<RawLink> open(const std::string& interface, std::string& error);

  const MacAddress& mac() const { return m_mac; }
  bool send(std::span<const std::uint8_t> ip_packet, const MacAddress& to);
  // One IPv4 packet that the interface would accept (to its own MAC or to broadcast), or
  // nullopt once the deadline passes. Frames for other hosts are passed over, as a NIC does.
  std::optional<Bytes> receive(Clock::time_point deadline);

 private:
  RawLink(platform::UniqueFd fd, int index, MacAddress mac)
      : m_fd(std::move(fd)), m_index(index), m_mac(mac) {}
  platform::UniqueFd m_fd;
  int m_index;
  MacAddress m_mac;
};

struct Received {
  platform::Endpoint from;
  Bytes bytes;
};

// A UDP socket on a port the system chooses: one per TFTP request, as a boot loader that
// starts its request again does.
class UdpPort {
 public:
  static std::optional<UdpPort> open(std::string& error);
  std::uint16_t port() const { return m_port; }
  bool send_to(platform::Endpoint to, std::span<const std::uint8_t> bytes);
  std::optional<Received> receive(Clock::time_point deadline);

 private:
  UdpPort(platform::UdpSocket socket, std::uint16_t port)
      : m_socket(std::move(socket)), m_port(port) {}
  platform::UdpSocket m_socket;
  std::uint16_t m_port;
};

// Puts address/prefix on the interface and switches ARP on for it, with iproute2.
bool take_address(const std::string& interface, std::uint32_t address_net, int prefix_length,
                  std::string& error);
// Back to the state before the address request: no address, no ARP.
bool drop_address(const std::string& interface, std::string& error);

}  // namespace sim_board
