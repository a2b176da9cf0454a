// Turning a received BOOTREQUEST into a BOOTREPLY in place, relaying a BOOTREPLY, and the
// static ARP entry that lets a board without an address receive its unicast reply.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bootp/server.h"

namespace bootp {

// The server path that locates the boot file holds 1007 characters and a terminator.
inline constexpr std::size_t kMaxServerPath = 1007;

void serve_request(ServerState& state);
void relay_reply(ServerState& state);
// override_net: the entry's reply address, or 0.
void transmit_reply(ServerState& state, bool forward, std::uint32_t override_net);
void setarp(std::uint32_t address_net, int type, std::span<const std::uint8_t> hwAddress);

// Upper-case hex byte pairs joined by "-", at most 8 bytes: 02-1A-2B-3C-4D-5E.
std::string hw_text(std::span<const std::uint8_t> bytes, std::size_t length);
// IEEE 802 (token ring) addresses travel bit-reversed in each byte.
void reverse_bits_802(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);
// The size of a file that exists and is readable by others.
std::optional<std::uint64_t> file_size_of(const std::string& path);

}  // namespace bootp
