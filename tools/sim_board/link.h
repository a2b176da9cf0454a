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

#include "tools/sim_board/wire.h"

namespace sim_board {

using Clock = std::chrono::steady_clock;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : m_fd(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept;
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

// Waits until `fd` is readable or the deadline passes; false on time-out.
bool wait_readable(int fd, Clock::time_point deadline);

class RawLink {
 public:
  // nullopt with `error` set when the interface is unknown or packet sockets are refused.
  static std::optional<RawLink> open(const std::string& interface, std::string& error);

  const MacAddress& mac() const { return m_mac; }
  bool send_broadcast(std::span<const std::uint8_t> ip_packet);
  // One IPv4 packet that the interface would accept (to its own MAC or to broadcast), or
  // nullopt once the deadline passes. Frames for other hosts are passed over, as a NIC does.
  std::optional<Bytes> receive(Clock::time_point deadline);

 private:
  RawLink(Descriptor fd, int index, MacAddress mac)
      : m_fd(std::move(fd)), m_index(index), m_mac(mac) {}
  Descriptor m_fd;
  int m_index;
  MacAddress m_mac;
};

struct Received {
  std::uint32_t from_address = 0;  // host order
  std::uint16_t from_port = 0;
  Bytes bytes;
};

// A UDP socket on a port the system chooses: one per TFTP request, as a boot loader that
// starts its request again does.
class UdpPort {
 public:
  static std::optional<UdpPort> open(std::string& error);
  std::uint16_t port() const { return m_port; }
  bool send_to(std::uint32_t address_host, std::uint16_t port, std::span<const std::uint8_t> bytes);
  std::optional<Received> receive(Clock::time_point deadline);

 private:
  UdpPort(Descriptor fd, std::uint16_t port) : m_fd(std::move(fd)), m_port(port) {}
  Descriptor m_fd;
  std::uint16_t m_port;
};

// Puts address/prefix on the interface and switches ARP on for it, with iproute2.
bool take_address(const std::string& interface, std::uint32_t address_host, int prefix_length,
                  std::string& error);

}  // namespace sim_board
