// Turning a received BOOTREQUEST into a BOOTREPLY in place, relaying a BOOTREPLY, and the
// static ARP entry that lets a board without an address receive its unicast reply. Works on
// the server's packet buffer and socket; the receive loop and the host table are elsewhere.
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
// override_net: the entry's reply address, or 0.
void transmit_reply(ServerState& state, bool forward, std::uint32_t override_net);
void setarp(const ServerState& state, std::uint32_t address_net, int type,
            std::span<const std::uint8_t> hwAddress);

// The size of a file whose status can be read and that others may read.
std::optional<std::uint64_t> file_size_of(const std::string& path);

}  // namespace bootp
