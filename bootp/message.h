// The BOOTP message as the server reads and writes it (RFC 951): the packet buffer, the field
// offsets and a view with named fields. Bytes are assembled by platform/wire.h, so alignment
// and host byte order never matter; what a field means is left to the request handler.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/wire.h"

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
inline constexpr std::size_t kFlags = 10;  // unused in BOOTP; DHCP's flags
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

// The RFC 1048 magic cookie, and the CMU one that an entry's vm field may name.
inline constexpr std::array<std::uint8_t, 4> kRfc1048Cookie{99, 130, 83, 99};
inline constexpr std::array<std::uint8_t, 4> kCmuCookie{'C', 'M', 'U', 0};

// A view of the packet buffer with named fields; every accessor stays inside the buffer.
class MessageView {
 public:
  explicit MessageView(std::span<std::uint8_t, kPacketSize> buffer) : m_bytes(buffer) {}

  std::uint8_t op() const { return m_bytes[offset::kOp]; }
  void set_op(std::uint8_t op) { m_bytes[offset::kOp] = op; }
  std::uint8_t htype() const { return m_bytes[offset::kHtype]; }
  std::uint8_t hlen() const { return m_bytes[offset::kHlen]; }
  std::uint16_t secs() const {
    return platform::wire::load_be16(m_bytes.subspan<offset::kSecs, 2>());
  }

  // DHCP's broadcast bit: the client cannot take a unicast reply before it has its address.
  bool broadcast_flag() const {
    return (platform::wire::load_be16(m_bytes.subspan<offset::kFlags, 2>()) & 0x8000) != 0;
  }

  std::uint32_t ciaddr_net() const { return address(offset::kCiaddr); }
  std::uint32_t yiaddr_net() const { return address(offset::kYiaddr); }
  std::uint32_t siaddr_net() const { return address(offset::kSiaddr); }
  std::uint32_t giaddr_net() const { return address(offset::kGiaddr); }
  void set_ciaddr_net(std::uint32_t value) { set_address(offset::kCiaddr, value); }
  void set_yiaddr_net(std::uint32_t value) { set_address(offset::kYiaddr, value); }
  void set_siaddr_net(std::uint32_t value) { set_address(offset::kSiaddr, value); }

  std::span<std::uint8_t, kChaddrSize> chaddr() {
    return m_bytes.subspan<offset::kChaddr, kChaddrSize>();
  }
  std::span<std::uint8_t, kSnameSize> sname() {
    return m_bytes.subspan<offset::kSname, kSnameSize>();
  }
  std::span<std::uint8_t, kFileSize> file() { return m_bytes.subspan<offset::kFile, kFileSize>(); }
  // sname and file as texts, NUL-terminated or filling their whole field.
  std::string_view sname_text() const {
    return platform::wire::field_text(m_bytes.subspan<offset::kSname, kSnameSize>());
  }
  std::string_view file_text() const {
    return platform::wire::field_text(m_bytes.subspan<offset::kFile, kFileSize>());
  }
  // The vendor area up to the end of the buffer; the caller cuts it to the message length.
  std::span<std::uint8_t> vend() { return m_bytes.subspan(offset::kVend); }
  std::span<std::uint8_t, kPacketSize> bytes() { return m_bytes; }

 private:
  std::uint32_t address(std::size_t at) const {
    return platform::wire::load_net32(m_bytes.subspan(at).first<4>());
  }
  void set_address(std::size_t at, std::uint32_t value) {
    platform::wire::store_net32(m_bytes.subspan(at).first<4>(), value);
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
