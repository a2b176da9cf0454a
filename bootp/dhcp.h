// DHCP (RFC 2131) for boot loaders that ask with it: a request that carries a DHCP message
// type gets the OFFER, ACK or NAK its client waits for, with the BOOTP reply's address, boot
// server, boot file and options. Every binding is static (the one address the main dialog
// chose), so nothing is leased, remembered or freed; a request without a message type is
// plain BOOTP and is left to the request handler.
#pragma once

#include <cstdint>
#include <optional>

#include "bootp/server_state.h"

namespace bootp {

enum class DhcpType : std::uint8_t {
  Discover = 1,
  Offer = 2,
  Request = 3,
  Decline = 4,
  Ack = 5,
  Nak = 6,
  Release = 7,
  Inform = 8,
};

// What the server needs from a DHCP request's options.
struct DhcpOptions {
  std::optional<std::uint8_t> messageType;            // option 53
  std::optional<std::uint32_t> requestedAddress_net;  // option 50
  std::optional<std::uint32_t> serverIdentifier_net;  // option 54
};

// The request's options, walked from behind the RFC 1048 cookie to the end of the datagram.
// No message type for a vendor area without that cookie.
DhcpOptions read_dhcp_options(const Packet& packet);

// Answers a request that carries a message type, or drops it.
void serve_dhcp(ServerState& state, const DhcpOptions& options);

}  // namespace bootp
