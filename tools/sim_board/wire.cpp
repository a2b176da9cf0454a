// Byte-level building and checking of the board's datagrams. Every reader checks the length
// it needs before it touches a byte, so a truncated or hostile datagram is simply refused.
#include "tools/sim_board/wire.h"

#include <algorithm>
#include <cstdio>

namespace sim_board {

namespace {

// RFC 951 offsets.
constexpr std::size_t kOp = 0, kHtype = 1, kHlen = 2, kXid = 4, kSecs = 8, kYiaddr = 16,
                      kSiaddr = 20, kChaddr = 28, kFile = 108, kVendor = 236;
constexpr std::size_t kFileLength = 128;
constexpr std::uint8_t kCookie[4] = {99, 130, 83, 99};

constexpr std::size_t kIpHeaderLength = 20;
constexpr std::size_t kUdpHeaderLength = 8;
constexpr std::uint8_t kProtocolUdp = 17;

// The subnet mask option (1) of an RFC 1048 vendor area, if the area has the cookie.
std::optional<std::uint32_t> find_subnet_mask(std::span<const std::uint8_t> vendor) {
  if (vendor.size() < 4 || !std::equal(kCookie, kCookie + 4, vendor.begin())) return {};
  std::size_t at = 4;
  while (at < vendor.size()) {
    const std::uint8_t tag = vendor[at];
    if (tag == 255) break;
    if (tag == 0) {
      ++at;
      continue;
    }
    if (at + 2 > vendor.size()) break;
    const std::size_t length = vendor[at + 1];
    if (at + 2 + length > vendor.size()) break;
    if (tag == 1 && length == 4) return load_be32(vendor, at + 2);
    at += 2 + length;
  }
  return {};
}

// A NUL-terminated text inside a fixed field; an unterminated one ends with the field.
std::string field_text(std::span<const std::uint8_t> field) {
  std::string text;
  for (const std::uint8_t byte : field) {
    if (byte == 0) break;
    text.push_back(static_cast<char>(byte));
  }
  return text;
}

void append_text(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

}  // namespace

std::uint16_t load_be16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

std::uint32_t load_be32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
         std::uint32_t{bytes[offset + 2]} << 8 | std::uint32_t{bytes[offset + 3]};
}

void store_be16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 1] = static_cast<std::uint8_t>(value);
}

void store_be32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

std::optional<MacAddress> parse_mac(const std::string& text) {
  MacAddress mac{};
  unsigned parts[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &parts[0], &parts[1], &parts[2],
                  &parts[3], &parts[4], &parts[5], &tail) != 6) {
    return {};
  }
  for (std::size_t i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(parts[i]);
  return mac;
}

std::string mac_text(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string dotted(std::uint32_t address_host) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address_host >> 24, (address_host >> 16) & 255,
                (address_host >> 8) & 255, address_host & 255);
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

Bytes build_boot_request(const BootRequest& request) {
  Bytes message(kBootpMinimumLength, 0);
  message[kOp] = 1;     // BOOTREQUEST
  message[kHtype] = 1;  // Ethernet
  message[kHlen] = 6;
  store_be32(message, kXid, request.xid);
  store_be16(message, kSecs, request.secs);
  std::copy(request.mac.begin(), request.mac.end(), message.begin() + kChaddr);
  std::copy(kCookie, kCookie + 4, message.begin() + kVendor);
  message[kVendor + 4] = 255;  // end option
  return message;
}

std::optional<BootReply> parse_boot_reply(std::span<const std::uint8_t> message,
                                          const MacAddress& mac) {
  if (message.size() < kVendor) return {};
  if (message[kOp] != 2 || message[kHtype] != 1 || message[kHlen] != 6) return {};
  if (!std::equal(mac.begin(), mac.end(), message.begin() + kChaddr)) return {};
  BootReply reply;
  reply.xid = load_be32(message, kXid);
  reply.yiaddr = load_be32(message, kYiaddr);
  reply.siaddr = load_be32(message, kSiaddr);
  reply.file = field_text(message.subspan(kFile, kFileLength));
  const auto vendor = message.subspan(kVendor);
  reply.vendor.assign(vendor.begin(), vendor.end());
  reply.subnet_mask = find_subnet_mask(vendor);
  return reply;
}

std::uint16_t ip_checksum(std::span<const std::uint8_t> header) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < header.size(); i += 2) sum += load_be16(header, i);
  if (header.size() % 2 != 0) sum += std::uint32_t{header.back()} << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

Bytes build_broadcast_udp(std::uint16_t source_port, std::uint16_t destination_port,
                          std::span<const std::uint8_t> payload, std::uint16_t ip_id) {
  const std::size_t total = kIpHeaderLength + kUdpHeaderLength + payload.size();
  Bytes packet(total, 0);
  packet[0] = 0x45;  // IPv4, five-word header
  store_be16(packet, 2, static_cast<std::uint16_t>(total));
  store_be16(packet, 4, ip_id);
  packet[8] = 64;  // TTL
  packet[9] = kProtocolUdp;
  store_be32(packet, 12, 0);           // no address yet
  store_be32(packet, 16, 0xFFFFFFFF);  // limited broadcast
  store_be16(packet, 10, ip_checksum(std::span(packet).first(kIpHeaderLength)));
  store_be16(packet, 20, source_port);
  store_be16(packet, 22, destination_port);
  store_be16(packet, 24, static_cast<std::uint16_t>(kUdpHeaderLength + payload.size()));
  std::copy(payload.begin(), payload.end(), packet.begin() + kIpHeaderLength + kUdpHeaderLength);
  return packet;
}

std::optional<UdpDatagram> parse_udp_packet(std::span<const std::uint8_t> packet) {
  if (packet.size() < kIpHeaderLength || packet[0] >> 4 != 4) return {};
  const std::size_t header_length = std::size_t{packet[0] & 15u} * 4;
  const std::size_t total = load_be16(packet, 2);
  if (header_length < kIpHeaderLength || total > packet.size() ||
      total < header_length + kUdpHeaderLength) {
    return {};
  }
  if (packet[9] != kProtocolUdp) return {};
  if ((load_be16(packet, 6) & 0x3FFF) != 0) return {};  // a fragment
  const auto udp = packet.subspan(header_length, total - header_length);
  const std::size_t udp_length = load_be16(udp, 4);
  if (udp_length < kUdpHeaderLength || udp_length > udp.size()) return {};
  UdpDatagram datagram;
  datagram.source = load_be32(packet, 12);
  datagram.destination = load_be32(packet, 16);
  datagram.source_port = load_be16(udp, 0);
  datagram.destination_port = load_be16(udp, 2);
  datagram.payload = udp.subspan(kUdpHeaderLength, udp_length - kUdpHeaderLength);
  return datagram;
}

Bytes build_read_request(const std::string& file, bool with_options) {
  Bytes packet(2, 0);
  store_be16(packet, 0, static_cast<std::uint16_t>(TftpOp::Rrq));
  append_text(packet, file);
  append_text(packet, "octet");
  if (with_options) {
    append_text(packet, "timeout");
    append_text(packet, "5");
    append_text(packet, "blksize");
    append_text(packet, "1468");
  }
  return packet;
}

Bytes build_ack(std::uint16_t block) {
  Bytes packet(4, 0);
  store_be16(packet, 0, static_cast<std::uint16_t>(TftpOp::Ack));
  store_be16(packet, 2, block);
  return packet;
}

std::optional<TftpPacket> parse_tftp(std::span<const std::uint8_t> packet) {
  if (packet.size() < 4) return {};
  const std::uint16_t op = load_be16(packet, 0);
  TftpPacket parsed;
  parsed.number = load_be16(packet, 2);
  switch (op) {
    case static_cast<std::uint16_t>(TftpOp::Data):
      parsed.op = TftpOp::Data;
      parsed.data = packet.subspan(4);
      return parsed;
    case static_cast<std::uint16_t>(TftpOp::Ack):
      parsed.op = TftpOp::Ack;
      return parsed;
    case static_cast<std::uint16_t>(TftpOp::Error):
      parsed.op = TftpOp::Error;
      parsed.message = field_text(packet.subspan(4));
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
