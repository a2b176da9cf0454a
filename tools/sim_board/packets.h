// The datagrams a boot loader exchanges with its server: the BOOTREQUEST (or DHCP message) it
// broadcasts, the BOOTREPLY it accepts, the IPv4/UDP framing it writes itself while it has no
// address, and the TFTP requests, DATA, ACK, OACK and ERROR packets. Byte order and bounds checks
// are platform/wire.h's; sockets live elsewhere. Addresses are in network order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim_board {

using Bytes = std::vector<std::uint8_t>;
using MacAddress = std::array<std::uint8_t, 6>;

std::optional<MacAddress> parse_mac(const std::string& text);
std::string mac_text(const MacAddress& mac);
std::string hex_text(std::span<const std::uint8_t> bytes);

// --- BOOTP -------------------------------------------------------------------------------

inline constexpr std::uint16_t kBootpServerPort = 67;
inline constexpr std::uint16_t kBootpClientPort = 68;
inline constexpr std::size_t kBootpMinimumLength = 300;

// Option 53's values; None is a plain BOOTP message, which has no option 53.
enum class DhcpType : std::uint8_t {
  None = 0,
  Discover = 1,
  Offer = 2,
  Request = 3,
  Ack = 5,
  Nak = 6
};
const char* dhcp_type_name(DhcpType type);

struct BootRequest {
  MacAddress mac{};
  std::uint32_t xid = 0;
  std::uint16_t secs = 0;
  DhcpType dhcp = DhcpType::None;
  std::optional<std::uint32_t> requested_net{};  // option 50
  std::optional<std::uint32_t> server_id_net{};  // option 54
};

// A classic 300-byte request: RFC 1048 cookie, the DHCP options asked for, the end option.
Bytes build_boot_request(const BootRequest& request);

struct BootReply {
  std::uint32_t xid = 0;
  std::uint32_t yiaddr_net = 0;
  std::uint32_t siaddr_net = 0;
  std::string file;
  Bytes vendor;  // offset 236 to the end of the message
  std::optional<std::uint32_t> subnet_mask_net;
  DhcpType dhcp = DhcpType::None;
  std::optional<std::uint32_t> server_id_net;
};

// A reply meant for this board: op 2, htype 1, hlen 6, its own chaddr and one of the xids
// it sent lately (a slow server may answer an earlier try).
std::optional<BootReply> parse_boot_reply(std::span<const std::uint8_t> message,
                                          const MacAddress& mac,
                                          std::span<const std::uint32_t> xids);

// --- IPv4 and UDP, for the frames written and read before the board has an address --------

struct UdpDatagram {
  std::uint16_t source_port = 0;
  std::uint16_t destination_port = 0;
  std::span<const std::uint8_t> payload;
};

std::uint16_t ip_checksum(std::span<const std::uint8_t> header);
// From 0.0.0.0 to 255.255.255.255; the UDP checksum is 0, as many boot loaders send it.
Bytes build_broadcast_udp(std::uint16_t source_port, std::uint16_t destination_port,
                          std::span<const std::uint8_t> payload, std::uint16_t ip_id);
// An unfragmented IPv4 packet carrying UDP; the payload views into `packet`.
std::optional<UdpDatagram> parse_udp_packet(std::span<const std::uint8_t> packet);

// --- TFTP --------------------------------------------------------------------------------

enum class TftpOp : std::uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5, Oack = 6 };
inline constexpr std::size_t kTftpBlockSize = 512;

struct TftpOption {
  std::string name;
  std::string value;
};

// A read or write request in octet mode with the options (RFC 2347) given.
Bytes build_request(TftpOp op, const std::string& file, std::span<const TftpOption> options);
Bytes build_ack(std::uint16_t block);
Bytes build_data(std::uint16_t block, std::span<const std::uint8_t> data);

struct TftpPacket {
  TftpOp op = TftpOp::Error;
  std::uint16_t number = 0;  // block number, or error code; nothing for OACK
  std::span<const std::uint8_t> data;
  std::string message;              // ERROR only
  std::vector<TftpOption> options;  // OACK only, names in lower case
};
std::optional<TftpPacket> parse_tftp(std::span<const std::uint8_t> packet);

std::uint32_t crc32(std::span<const std::uint8_t> bytes);

}  // namespace sim_board
