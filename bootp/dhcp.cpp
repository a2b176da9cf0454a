// The DHCP exchange over the BOOTP reply: DISCOVER gets an OFFER, a REQUEST for the board's
// address an ACK and for any other a NAK, INFORM an ACK without address or lease; RELEASE and
// DECLINE get nothing. Destinations follow RFC 2131 section 4.1.
#include "bootp/dhcp.h"

#include <algorithm>
#include <array>
#include <span>

#include "bootp/hw_address.h"
#include "bootp/report.h"
#include "bootp/request.h"
#include "bootp/vendor.h"
#include "core/flash_state.h"

namespace bootp {

namespace {

constexpr std::uint8_t kRequestedAddressOption = 50;
constexpr std::uint8_t kLeaseTimeOption = 51;
constexpr std::uint8_t kMessageTypeOption = 53;
constexpr std::uint8_t kServerIdentifierOption = 54;
// The binding never changes, so the lease only sets how often a client that stays up asks.
constexpr std::uint32_t kLeaseSeconds = 24 * 60 * 60;
constexpr std::uint32_t kLimitedBroadcast_net = 0xFFFFFFFF;

// Options 53 and 54, then 51 when the reply gives a lease; at most 15 bytes.
struct ReplyOptions {
  std::array<std::uint8_t, 15> bytes{};
  std::size_t size = 0;
  std::span<const std::uint8_t> view() const { return std::span(bytes).first(size); }
};

// The PC's address on the board's network: the one the user confirmed.
std::uint32_t server_identifier(const ServerState& state) {
  const std::uint32_t serverAddress = flash_state().serverAddress.load();
  return serverAddress != 0 ? serverAddress : state.ownAddress;
}

ReplyOptions reply_options(const ServerState& state, DhcpType type, bool withLease) {
  ReplyOptions options;
  platform::wire::Writer out(options.bytes);
  out.u8(kMessageTypeOption);
  out.u8(1);
  out.u8(static_cast<std::uint8_t>(type));
  out.u8(kServerIdentifierOption);
  out.u8(4);
  out.net32(server_identifier(state));
  if (withLease) {
    out.u8(kLeaseTimeOption);
    out.u8(4);
    out.be32(kLeaseSeconds);
  }
  options.size = out.size();
  return options;
}

// RFC 2131 section 4.1: a relay agent first, a NAK by broadcast, then the client's own
// address, a broadcast when the client asks for one, else its new address, which it cannot
// answer ARP for yet.
ReplyDestination destination_of(const ServerState& state, MessageView message, bool nak) {
  if (message.giaddr_net() != 0) return {message.giaddr_net(), state.serverPort};
  if (nak) return {kLimitedBroadcast_net, state.clientPort, true};
  if (message.ciaddr_net() != 0) return {message.ciaddr_net(), state.clientPort};
  if (message.broadcast_flag()) return {kLimitedBroadcast_net, state.clientPort, true};
  return {message.yiaddr_net(), state.clientPort, false, true};
}

// An OFFER or ACK that gives the entry's address, or the ACK to an INFORM, which gives none.
void give(ServerState& state, HostEntry& entry, DhcpType type, bool withAddress) {
  MessageView message = state.packet.view();
  message.set_yiaddr_net(withAddress ? entry.ipAddress : 0);
  if (!fill_reply(state, entry, reply_options(state, type, withAddress).view())) return;
  send_reply(state, destination_of(state, message, false), true);
}

void refuse(ServerState& state, const HostEntry& entry, std::uint32_t requested_net) {
  MessageView message = state.packet.view();
  if (state.verbosity > 0)
    bootp_report(kNotice, "DHCPNAK to %s: it asked for %s, its address is %s",
                 hw_text(message.chaddr(), message.hlen()).c_str(),
                 platform::inet_ntoa(requested_net).c_str(),
                 platform::inet_ntoa(entry.ipAddress).c_str());
  const ReplyDestination destination = destination_of(state, message, true);
  message.set_ciaddr_net(0);
  message.set_yiaddr_net(0);
  message.set_siaddr_net(0);
  std::ranges::fill(message.sname(), 0);
  std::ranges::fill(message.file(), 0);

  apply_reply_length(state.packet, entry, state.verbosity);
  const auto vend = message.vend().first(state.packet.length - offset::kVend);
  platform::wire::Writer out(vend);
  out.bytes(kRfc1048Cookie);
  out.bytes(reply_options(state, DhcpType::Nak, false).view());
  out.u8(kEnd);
  std::fill(vend.begin() + static_cast<std::ptrdiff_t>(out.size()), vend.end(), 0);
  send_reply(state, destination, false);
}

bool for_another_server(const ServerState& state, const DhcpOptions& options) {
  return options.serverIdentifier_net && *options.serverIdentifier_net != server_identifier(state);
}

void answer_request(ServerState& state, const DhcpOptions& options) {
  // The client took another server's offer.
  if (for_another_server(state, options)) return;
  HostEntry* entry = find_client(state, true);
  if (entry == nullptr) return;
  // Selecting or rebooting, the client names the address; renewing, it already uses it.
  const std::uint32_t requested =
      options.requestedAddress_net.value_or(state.packet.view().ciaddr_net());
  if (requested == entry->ipAddress) {
    give(state, *entry, DhcpType::Ack, true);
  } else {
    refuse(state, *entry, requested);
  }
}

void report_decline(ServerState& state, const DhcpOptions& options) {
  if (for_another_server(state, options)) return;
  MessageView message = state.packet.view();
  bootp_report(kNotice, "%s address %s declined %s: another host answers for it",
               hw_type_name(message.htype()), hw_text(message.chaddr(), message.hlen()).c_str(),
               platform::inet_ntoa(options.requestedAddress_net.value_or(0)).c_str());
}

}  // namespace

DhcpOptions read_dhcp_options(const Packet& packet) {
  DhcpOptions found;
  const auto received = std::span(packet.buffer).first(packet.receivedLength);
  const auto cookie = platform::wire::fixed_at<4>(received, offset::kVend);
  if (!cookie || !std::ranges::equal(*cookie, kRfc1048Cookie)) return found;
  const auto area = received.subspan(offset::kVend + cookie->size());
  for_each_request_option(
      area, area.size(), [&](std::uint8_t tag, std::span<const std::uint8_t> data) {
        if (tag == kMessageTypeOption && data.size() == 1) found.messageType = data[0];
        if (tag == kRequestedAddressOption && data.size() == 4)
          found.requestedAddress_net = platform::wire::load_net32(data.first<4>());
        if (tag == kServerIdentifierOption && data.size() == 4)
          found.serverIdentifier_net = platform::wire::load_net32(data.first<4>());
      });
  return found;
}

void serve_dhcp(ServerState& state, const DhcpOptions& options) {
  switch (static_cast<DhcpType>(*options.messageType)) {
    case DhcpType::Discover:
      if (HostEntry* entry = find_client(state, true)) give(state, *entry, DhcpType::Offer, true);
      return;
    case DhcpType::Request:
      return answer_request(state, options);
    case DhcpType::Inform:
      // The client has its address and wants the rest; without one there is nowhere to send.
      if (state.packet.view().ciaddr_net() == 0) return;
      if (HostEntry* entry = find_client(state, true)) give(state, *entry, DhcpType::Ack, false);
      return;
    case DhcpType::Decline:
      return report_decline(state, options);
    default:
      // RELEASE: a static binding has nothing to free. The rest are a server's messages.
      return;
  }
}

}  // namespace bootp
