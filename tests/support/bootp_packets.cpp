#include "tests/support/bootp_packets.h"

#include <algorithm>

#include "platform/net.h"
#include "platform/wire.h"

namespace kalvex::testing {

namespace {

constexpr std::size_t kRequestSize = 300;

// clang-format off
constexpr std::uint8_t kFixedPart[] = {
    0x01,                                // op: BOOTREQUEST
    0x01,                                // htype: Ethernet
    0x06,                                // hlen: 6 address bytes
    0x00,                                // hops
    0x11, 0x22, 0x33, 0x44,              // xid
    0x00, 0x00,                          // secs
    0x00, 0x00,                          // unused
    0x00, 0x00, 0x00, 0x00,              // ciaddr: no address yet
    0x00, 0x00, 0x00, 0x00,              // yiaddr
    0x00, 0x00, 0x00, 0x00,              // siaddr
    0x00, 0x00, 0x00, 0x00,              // giaddr: no relay agent
    0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E,  // chaddr: the board's MAC,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,        //   padded to 16 bytes
    // sname (64 bytes) and file (128 bytes) follow, all zeros: any server, default file
};
constexpr std::uint8_t kVendorArea[] = {
    0x63, 0x82, 0x53, 0x63,              // vend: the RFC 1048 magic cookie
    0xFF,                                // end option; zeros up to byte 300
};
// clang-format on

}  // namespace

Bytes canonical_boot_request() {
  Bytes request(kRequestSize, 0);
  std::copy(std::begin(kFixedPart), std::end(kFixedPart), request.begin());
  std::copy(std::begin(kVendorArea), std::end(kVendorArea), request.begin() + bootp_offset::kVend);
  return request;
}

BootRequest& BootRequest::xid(std::uint32_t value) {
  platform::wire::store_be32(std::span(m_bytes).subspan(bootp_offset::kXid).first<4>(), value);
  return *this;
}
BootRequest& BootRequest::secs(std::uint16_t value) {
  platform::wire::store_be16(std::span(m_bytes).subspan(bootp_offset::kSecs).first<2>(), value);
  return *this;
}
BootRequest& BootRequest::put(std::size_t at, const Bytes& bytes) {
  if (m_bytes.size() < at + bytes.size()) m_bytes.resize(at + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return *this;
}
BootRequest& BootRequest::address(std::size_t at, const char* text) {
  platform::wire::store_net32(std::span(m_bytes).subspan(at).first<4>(), platform::inet_addr(text));
  return *this;
}

// Readers answer 0 or an empty text for a message too short to hold the field, so that a
// missing reply fails its checks instead of reading past the bytes.
std::uint32_t xid_of(const Bytes& message) {
  const auto field = platform::wire::fixed_at<4>(message, bootp_offset::kXid);
  return field ? platform::wire::load_be32(*field) : 0;
}

std::uint32_t address_at(const Bytes& message, std::size_t at) {
  const auto field = platform::wire::fixed_at<4>(message, at);
  return field ? platform::wire::load_net32(*field) : 0;
}

std::string text_at(const Bytes& message, std::size_t at, std::size_t size) {
  if (message.size() < at + size) return {};
  return std::string(platform::wire::field_text(std::span(message).subspan(at, size)));
}

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace kalvex::testing
