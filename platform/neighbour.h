// The PC's neighbour (ARP) table: a permanent entry that gives an address its hardware address
// on one interface, and the entry's removal, each finished before the call returns so that a
// datagram sent next finds the table as asked. Which address, which hardware address and when
// are the caller's; finding the interface and reporting the system's answer are this layer's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>

namespace platform {

// What the system answered. `error` is empty when the table was changed as asked; otherwise it
// holds the system's own code (errno on Linux) and `text` says why in words, with the kernel's
// own explanation when it gave one.
struct NeighbourResult {
  std::error_code error;
  std::string text;
  bool ok() const { return !error; }
};

// The system's number for the interface whose IPv4 network holds the address (network order);
// of several such networks, the narrowest. Nothing when no interface's network holds it.
std::optional<std::uint32_t> interface_index_for(std::uint32_t address_net);

// Adds the entry, or replaces the one the address has: reached at this hardware address
// (1 to 8 bytes, 6 for Ethernet) on that interface until it is deleted.
NeighbourResult add_permanent_neighbour(std::uint32_t interface_index, std::uint32_t address_net,
                                        std::span<const std::uint8_t> hardware_address);
// Removes the address's entry from that interface's table; an absent entry is an error.
NeighbourResult delete_neighbour(std::uint32_t interface_index, std::uint32_t address_net);

}  // namespace platform
