// The PC's own IPv4 addresses and host name, answered the way Windows answers a look-up of
// its own host name: the addresses of the interfaces that are up, loopback ones last, so
// that a fallback server address is one that a board on the cable can reach.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct InterfaceAddress {
  std::string interface_name;
  std::uint32_t index = 0;  // the system's number for the interface
  std::uint32_t address_net = 0;
  std::uint32_t netmask_net = 0;
  bool loopback = false;
};

// Interfaces that are up with an IPv4 address, in the kernel's order, loopback ones last.
std::vector<InterfaceAddress> ipv4_interfaces();
std::optional<std::string> host_name();
// The first IPv4 address the system's resolver gives for a host name (network order).
std::optional<std::uint32_t> resolve_ipv4(const std::string& name);
// The name of the interface whose IPv4 network holds the address, if any.
std::optional<std::string> interface_for(std::uint32_t address_net);
// The interface that holds this very address, if any: the adapter a user's address names.
std::optional<InterfaceAddress> interface_holding(std::uint32_t address_net);
// The largest IP datagram the interface carries (its MTU), if the interface is known.
std::optional<std::uint32_t> interface_mtu(std::uint32_t index);

}  // namespace platform
