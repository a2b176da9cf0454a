// BOOTP requests as a board sends them, for tests: the canonical request as annotated bytes,
// a builder for its variants, and readers for the fields of a reply. Offsets are RFC 951's,
// written here once more so that a test never borrows them from the code it checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalvex::testing {

using Bytes = std::vector<std::uint8_t>;

namespace bootp_offset {
// clang-format off
enum : std::size_t {
  kOp = 0, kHtype = 1, kHlen = 2, kXid = 4, kSecs = 8, kCiaddr = 12, kYiaddr = 16, kSiaddr = 20,
  kGiaddr = 24, kChaddr = 28, kSname = 44, kFile = 108, kVend = 236
};
// clang-format on
}  // namespace bootp_offset

inline constexpr std::array<std::uint8_t, 6> kBoardMac{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

// The canonical request: the board 02-1A-2B-3C-4D-5E, without an address, asks any server
// for its boot file; 300 bytes.
Bytes canonical_boot_request();

// The canonical request with changes, each setter naming the field it changes.
class BootRequest {
 public:
  BootRequest() : m_bytes(canonical_boot_request()) {}

  BootRequest& op(std::uint8_t value) { return put(bootp_offset::kOp, {value}); }
  BootRequest& htype(std::uint8_t value) { return put(bootp_offset::kHtype, {value}); }
  BootRequest& hlen(std::uint8_t value) { return put(bootp_offset::kHlen, {value}); }
  BootRequest& xid(std::uint32_t value);
  BootRequest& secs(std::uint16_t value);
  BootRequest& ciaddr(const char* text) { return address(bootp_offset::kCiaddr, text); }
  BootRequest& yiaddr(const char* text) { return address(bootp_offset::kYiaddr, text); }
  BootRequest& siaddr(const char* text) { return address(bootp_offset::kSiaddr, text); }
  BootRequest& giaddr(const char* text) { return address(bootp_offset::kGiaddr, text); }
  BootRequest& chaddr(std::span<const std::uint8_t> bytes) {
    return put(bootp_offset::kChaddr, {bytes.begin(), bytes.end()});
  }
  BootRequest& sname(std::string_view name) {
    return put(bootp_offset::kSname, {name.begin(), name.end()});
  }
  // Datagram length; bytes added are zeros.
  BootRequest& length(std::size_t bytes) { return m_bytes.resize(bytes, 0), *this; }
  // Bytes written into the vendor area from `at` on.
  BootRequest& vendor(std::size_t at, const Bytes& bytes) {
    return put(bootp_offset::kVend + at, bytes);
  }

  operator const Bytes&() const { return m_bytes; }

 private:
  // Writes the bytes from `at` on; the datagram grows if they need it.
  BootRequest& put(std::size_t at, const Bytes& bytes);
  BootRequest& address(std::size_t at, const char* text);
  Bytes m_bytes;
};

std::uint32_t xid_of(const Bytes& message);
// A network-order address field, as inet_addr gives it.
std::uint32_t address_at(const Bytes& message, std::size_t at);
// A NUL-terminated text field of `size` bytes.
std::string text_at(const Bytes& message, std::size_t at, std::size_t size);
// Bytes as upper-case hex pairs joined by blanks, so that a failure shows them.
std::string hex(std::span<const std::uint8_t> bytes);

}  // namespace kalvex::testing
