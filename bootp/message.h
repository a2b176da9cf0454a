// The BOOTP message as the server reads and writes it (RFC 951): field offsets and byte-order
// helpers. Fields are read and written byte by byte through spans whose bounds are checked
// once by the caller, so alignment and host byte order never matter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace bootp {

// The one packet buffer: a received datagram and, in place, the reply.
inline constexpr std::size_t kPacketSize = 1536;
// Everything up to and including the classic 64-byte vendor area; shorter datagrams are ignored.
inline constexpr std::size_t kMinimumMessage = 300;

inline constexpr std::uint8_t kBootRequest = 1;
inline constexpr std::uint8_t kBootReply = 2;

namespace offset {
inline constexpr std::size_t kOp = 0;
inline constexpr std::size_t kHtype = 1;
inline constexpr std::size_t kHlen = 2;
inline constexpr std::size_t kHops = 3;
inline constexpr std::size_t kXid = 4;
inline constexpr std::size_t kSecs = 8;
inline constexpr std::size_t kCiaddr = 12;
inline constexpr std::size_t kYiaddr = 16;
inline constexpr std::size_t kSiaddr = 20;
inline constexpr std::size_t kGiaddr = 24;
inline constexpr std::size_t kChaddr = 28;
inline constexpr std::size_t kSname = 44;
inline constexpr std::size_t kFile = 108;
inline constexpr std::size_t kVend = 236;
}  // namespace offset

inline constexpr std::size_t kChaddrSize = 16;
inline constexpr std::size_t kSnameSize = 64;
inline constexpr std::size_t kFileSize = 128;

inline std::uint16_t load_be16(std::span<const std::uint8_t, 2> bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline std::uint32_t load_be32(std::span<const std::uint8_t, 4> bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

inline void store_be16(std::span<std::uint8_t, 2> bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 8);
  bytes[1] = static_cast<std::uint8_t>(value);
}

inline void store_be32(std::span<std::uint8_t, 4> bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

// IPv4 addresses travel in network order: the first byte in memory is the first byte on the
// wire, whatever the host's byte order.
inline std::uint32_t load_net32(std::span<const std::uint8_t, 4> bytes) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

inline void store_net32(std::span<std::uint8_t, 4> bytes, std::uint32_t value_net) {
  std::memcpy(bytes.data(), &value_net, 4);
}

// A NUL-terminated text field that may fill its whole width without a terminator.
inline std::string_view field_text(std::span<const std::uint8_t> field) {
  std::size_t length = 0;
  while (length < field.size() && field[length] != 0) ++length;
  return {reinterpret_cast<const char*>(field.data()), length};
}

// A view of the packet buffer with named fields; every accessor stays inside the buffer.
class MessageView {
 public:
  explicit MessageView(std::span<std::uint8_t, kPacketSize> buffer) : m_bytes(buffer) {}

  std::uint8_t op() const { return m_bytes[offset::kOp]; }
  void set_op(std::uint8_t op) { m_bytes[offset::kOp] = op; }
  std::uint8_t htype() const { return m_bytes[offset::kHtype]; }
  std::uint8_t hlen() const { return m_bytes[offset::kHlen]; }
  std::uint16_t secs() const { return load_be16(m_bytes.subspan<offset::kSecs, 2>()); }

  std::uint32_t ciaddr_net() const { return address(offset::kCiaddr); }
  std::uint32_t yiaddr_net() const { return address(offset::kYiaddr); }
  std::uint32_t siaddr_net() const { return address(offset::kSiaddr); }
  std::uint32_t giaddr_net() const { return address(offset::kGiaddr); }
  void set_yiaddr_net(std::uint32_t value) { set_address(offset::kYiaddr, value); }
  void set_siaddr_net(std::uint32_t value) { set_address(offset::kSiaddr, value); }

  std::span<std::uint8_t, kChaddrSize> chaddr() {
    return m_bytes.subspan<offset::kChaddr, kChaddrSize>();
  }
  std::span<std::uint8_t, kSnameSize> sname() {
    return m_bytes.subspan<offset::kSname, kSnameSize>();
  }
  std::span<std::uint8_t, kFileSize> file() { return m_bytes.subspan<offset::kFile, kFileSize>(); }
  // The vendor area up to the end of the buffer; the caller cuts it to the message length.
  std::span<std::uint8_t> vend() { return m_bytes.subspan(offset::kVend); }
  std::span<std::uint8_t, kPacketSize> bytes() { return m_bytes; }

 private:
  std::uint32_t address(std::size_t at) const {
    return load_net32(std::span<const std::uint8_t, 4>(m_bytes.data() + at, 4));
  }
  void set_address(std::size_t at, std::uint32_t value) {
    store_net32(std::span<std::uint8_t, 4>(m_bytes.data() + at, 4), value);
  }

  std::span<std::uint8_t, kPacketSize> m_bytes;
};

// The packet buffer with the length the reply is sent with (which the reply length rule may
// change) and the length that actually came in.
struct Packet {
  std::array<std::uint8_t, kPacketSize> buffer{};
  std::size_t length = 0;
  std::size_t receivedLength = 0;
  MessageView view() { return MessageView(buffer); }
};

}  // namespace bootp
