// Building and checking the board's datagrams through platform/wire.h's reader and writer, so
// that a truncated or hostile datagram is simply refused.
#include "tools/sim_board/packets.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/wire.h"

namespace sim_board {

namespace {

namespace wire = platform::wire;

// RFC 951 offsets.
constexpr std::size_t kChaddr = 28, kFile = 108, kVendor = 236;
constexpr std::size_t kFileLength = 128;
constexpr std::array<std::uint8_t, 4> kCookie = {99, 130, 83, 99};
constexpr std::uint8_t kOptionPad = 0, kOptionSubnetMask = 1, kOptionEnd = 255;

constexpr std::size_t kIpHeaderLength = 20;
constexpr std::size_t kUdpHeaderLength = 8;
constexpr std::uint8_t kProtocolUdp = 17;

constexpr std::uint8_t kOptionDhcpType = 53, kOptionRequested = 50, kOptionServerId = 54;

// The options of an RFC 1048 vendor area that the board uses, if the area has the cookie.
void read_vendor_options(std::span<const std::uint8_t> vendor, BootReply& reply) {
  wire::Reader in(vendor);
  const auto cookie = in.bytes(kCookie.size());
  if (!cookie || !std::ranges::equal(*cookie, kCookie)) return;
  while (const auto tag = in.u8()) {
    if (*tag == kOptionEnd) break;
    if (*tag == kOptionPad) continue;
    const auto length = in.u8();
    const auto value = length ? in.bytes(*length) : std::nullopt;
    if (!value) break;
    if (value->size() == 4 && *tag == kOptionSubnetMask)
      reply.subnet_mask_net = wire::load_net32(value->first<4>());
    if (value->size() == 4 && *tag == kOptionServerId)
      reply.server_id_net = wire::load_net32(value->first<4>());
    if (value->size() == 1 && *tag == kOptionDhcpType) reply.dhcp = DhcpType{(*value)[0]};
  }
}

void put_address_option(wire::Writer& out, std::uint8_t tag,
                        std::optional<std::uint32_t> value_net) {
  if (!value_net) return;
  out.u8(tag);
  out.u8(4);
  out.net32(*value_net);
}

}  // namespace

std::optional<MacAddress> parse_mac(const std::string& text) {
  // Six pairs of hex digits joined by ":", and nothing else.
  if (text.size() != 17) return {};
  MacAddress mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const std::string pair = text.substr(i * 3, 2);
    if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
        !std::isxdigit(static_cast<unsigned char>(pair[1])) || (i < 5 && text[i * 3 + 2] != ':'))
      return {};
    mac[i] = static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16));
  }
  return mac;
}

std::string mac_text(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string hex_text(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

const char* dhcp_type_name(DhcpType type) {
  switch (type) {
    case DhcpType::Discover:
      return "DISCOVER";
    case DhcpType::Offer:
      return "OFFER";
    case DhcpType::Request:
      return "REQUEST";
    case DhcpType::Ack:
      return "ACK";
    case DhcpType::Nak:
      return "NAK";
    default:
      return "none";
  }
}

Bytes build_boot_request(const BootRequest& request) {
  Bytes message(kBootpMinimumLength, 0);
  wire::Writer out(message);
  out.u8(1);  // op: BOOTREQUEST
  out.u8(1);  // htype: Ethernet
  out.u8(6);  // hlen
  out.u8(0);  // hops
  out.be32(request.xid);
  out.be16(request.secs);
  std::copy(request.mac.begin(), request.mac.end(), message.begin() + kChaddr);
  wire::Writer options{std::span(message).subspan(kVendor)};
  options.bytes(kCookie);
  if (request.dhcp != DhcpType::None) {
    options.u8(kOptionDhcpType);
    options.u8(1);
    options.u8(static_cast<std::uint8_t>(request.dhcp));
  }
  put_address_option(options, kOptionRequested, request.requested_net);
  put_address_option(options, kOptionServerId, request.server_id_net);
  options.u8(kOptionEnd);
  return message;
}

std::optional<BootReply> parse_boot_reply(std::span<const std::uint8_t> message,
                                          const MacAddress& mac,
                                          std::span<const std::uint32_t> xids) {
  if (message.size() < kVendor) return {};
  wire::Reader in(message);
  if (in.u8() != 2 || in.u8() != 1 || in.u8() != 6) return {};  // BOOTREPLY, Ethernet, hlen
  in.u8();                                                      // hops
  const auto xid = in.be32();
  if (std::ranges::find(xids, *xid) == xids.end()) return {};
  if (!std::ranges::equal(mac, message.subspan(kChaddr, mac.size()))) return {};
  in.bytes(8);  // secs, flags, ciaddr
  BootReply reply;
  reply.xid = *xid;
  reply.yiaddr_net = wire::load_net32(in.bytes(4)->first<4>());
  reply.siaddr_net = wire::load_net32(in.bytes(4)->first<4>());
  reply.file = wire::field_text(message.subspan(kFile, kFileLength));
  const auto vendor = message.subspan(kVendor);
  reply.vendor.assign(vendor.begin(), vendor.end());
  read_vendor_options(vendor, reply);
  return reply;
}

std::uint16_t ip_checksum(std::span<const std::uint8_t> header) {
  std::uint32_t sum = 0;
  wire::Reader in(header);
  while (const auto word = in.be16()) sum += *word;
  if (const auto odd = in.u8()) sum += std::uint32_t{*odd} << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

Bytes build_broadcast_udp(std::uint16_t source_port, std::uint16_t destination_port,
                          std::span<const std::uint8_t> payload, std::uint16_t ip_id) {
  Bytes packet(kIpHeaderLength + kUdpHeaderLength + payload.size());
  wire::Writer out(packet);
  out.u8(0x45);  // IPv4, five-word header
  out.u8(0);     // type of service
  out.be16(static_cast<std::uint16_t>(packet.size()));
  out.be16(ip_id);
  out.be16(0);  // not fragmented
  out.u8(64);   // time to live
  out.u8(kProtocolUdp);
  out.be16(0);           // header checksum, filled in below
  out.be32(0);           // from 0.0.0.0: no address yet
  out.be32(0xFFFFFFFF);  // limited broadcast
  out.be16(source_port);
  out.be16(destination_port);
  out.be16(static_cast<std::uint16_t>(kUdpHeaderLength + payload.size()));
  out.be16(0);  // no UDP checksum
  out.bytes(payload);
  const std::uint16_t checksum = ip_checksum(std::span(packet).first(kIpHeaderLength));
  wire::store_be16(std::span(packet).subspan<10, 2>(), checksum);
  return packet;
}

std::optional<UdpDatagram> parse_udp_packet(std::span<const std::uint8_t> packet) {
  if (packet.size() < kIpHeaderLength) return {};
  wire::Reader ip(packet);
  const std::uint8_t version_and_length = *ip.u8();
  ip.u8();  // type of service
  const std::size_t total = *ip.be16();
  ip.be16();  // identification
  const std::uint16_t fragment = *ip.be16();
  ip.u8();  // time to live
  const std::uint8_t protocol = *ip.u8();
  const std::size_t header_length = std::size_t{version_and_length & 15u} * 4;
  if (version_and_length >> 4 != 4 || protocol != kProtocolUdp) return {};
  if ((fragment & 0x3FFF) != 0) return {};  // a fragment
  if (header_length < kIpHeaderLength || total > packet.size() || total < header_length) return {};
  wire::Reader udp(packet.subspan(header_length, total - header_length));
  const auto source_port = udp.be16();
  const auto destination_port = udp.be16();
  const auto length = udp.be16();
  udp.be16();  // checksum
  if (!length || *length < kUdpHeaderLength) return {};
  const auto payload = udp.bytes(*length - kUdpHeaderLength);
  if (!payload) return {};
  return UdpDatagram{*source_port, *destination_port, *payload};
}

Bytes build_request(TftpOp op, const std::string& file, std::span<const TftpOption> options) {
  Bytes packet(kTftpBlockSize);
  wire::Writer out(packet);
  out.be16(static_cast<std::uint16_t>(op));
  out.c_string(file);
  out.c_string("octet");
  for (const TftpOption& option : options) {
    out.c_string(option.name);
    out.c_string(option.value);
  }
  packet.resize(out.size());
  return packet;
}

Bytes build_ack(std::uint16_t block) {
  Bytes packet(4);
  wire::Writer out(packet);
  out.be16(static_cast<std::uint16_t>(TftpOp::Ack));
  out.be16(block);
  return packet;
}

Bytes build_data(std::uint16_t block, std::span<const std::uint8_t> data) {
  Bytes packet(4 + data.size());
  wire::Writer out(packet);
  out.be16(static_cast<std::uint16_t>(TftpOp::Data));
  out.be16(block);
  out.bytes(data);
  return packet;
}

namespace {

// Name and value pairs up to the end; none when a text runs past it.
std::optional<std::vector<TftpOption>> read_options(wire::Reader& in) {
  std::vector<TftpOption> options;
  while (!in.at_end()) {
    const auto name = in.c_string();
    const auto value = name ? in.c_string() : std::nullopt;
    if (!value) return {};
    TftpOption& option = options.emplace_back(TftpOption{std::string(*name), std::string(*value)});
    for (char& c : option.name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return options;
}

}  // namespace

std::optional<TftpPacket> parse_tftp(std::span<const std::uint8_t> packet) {
  wire::Reader in(packet);
  const auto op = in.be16();
  if (!op) return {};
  TftpPacket parsed;
  parsed.op = static_cast<TftpOp>(*op);
  if (parsed.op == TftpOp::Oack) {
    auto options = read_options(in);
    if (!options) return {};
    parsed.options = std::move(*options);
    return parsed;
  }
  const auto number = in.be16();
  if (!number) return {};
  parsed.number = *number;
  switch (parsed.op) {
    case TftpOp::Data:
      parsed.data = in.rest();
      return parsed;
    case TftpOp::Ack:
      return parsed;
    case TftpOp::Error:
      parsed.message = wire::field_text(in.rest());
      return parsed;
    default:
      return {};
  }
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
  // Bitwise CRC-32 (IEEE 802.3, reflected): slow, but an image is checked once.
  std::uint32_t crc = 0xFFFFFFFF;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace sim_board
