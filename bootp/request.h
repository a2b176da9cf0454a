// Turning a received BOOTREQUEST into a BOOTREPLY in place, relaying a BOOTREPLY, and the
// static ARP entry that lets a board without an address receive its unicast reply. Works on
// the server's packet buffer and socket; the receive loop and the host table are elsewhere,
// and so is what a DHCP client gets beyond the BOOTP reply (dhcp.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bootp/server_state.h"

namespace bootp {

// The server path that locates the boot file holds 1007 characters and a terminator.
inline constexpr std::size_t kMaxServerPath = 1007;

void serve_request(ServerState& state);
void relay_reply(ServerState& state);
// The receive loop's step for a datagram of an acceptable length (at least the minimum
// message, at most the packet buffer): taken into the packet buffer, the host table re-read
// when it changed, then a request served or a reply relayed.
void serve_datagram(ServerState& state, std::span<const std::uint8_t> datagram);
// override_net: the entry's reply address, or 0.
void transmit_reply(ServerState& state, bool forward, std::uint32_t override_net);
void setarp(const ServerState& state, std::uint32_t address_net, int type,
            std::span<const std::uint8_t> hwAddress);

// The size of a file whose status can be read and that others may read.
std::optional<std::uint64_t> file_size_of(const std::string& path);

// The steps that a DHCP reply shares with the BOOTP reply.

// Where a reply goes: an address and port, or the limited broadcast out of the adapter; and
// whether the board's neighbour entry is made first.
struct ReplyDestination {
  std::uint32_t address_net = 0;
  std::uint16_t port = 0;
  bool broadcast = false;
  bool neighbourEntry = false;
};

// The client's entry when the request is for this server and the client is known (by chaddr,
// or by ciaddr unless byHardwareAddress), its minimum wait is over; sets op and sname.
// nullptr when the request is dropped.
HostEntry* find_client(ServerState& state, bool byHardwareAddress);
// siaddr, file and the vendor area from the entry, the leading options first in the vendor
// area; false when the boot file's path is refused.
bool fill_reply(ServerState& state, HostEntry& entry, std::span<const std::uint8_t> leadingOptions);
// Sends packet.length bytes of the reply, after the neighbour entry if asked for; an address
// outside the adapter's network gets nothing. With fillSiaddr, an siaddr of 0 becomes the
// PC's own address.
void send_reply(ServerState& state, const ReplyDestination& destination, bool fillSiaddr);

}  // namespace bootp
