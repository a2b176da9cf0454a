// The reply's length and its vendor area in the RFC 1048 format: the magic cookie and the
// options built from the client's host entry, written in order until the room runs out.
// Which entry answers and where the reply goes is the request handler's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bootp/host_entry.h"
#include "bootp/message.h"
#include "platform/wire.h"

namespace bootp {

inline constexpr std::uint8_t kPad = 0;
inline constexpr std::uint8_t kEnd = 255;

// A write position in the reply's vendor area and the room the vendor format counts. The
// writer is bounded by the packet buffer; the room by the reply's length, and it may go below
// 0 only through the few fixed-size options written unchecked, which the buffer holds.
struct VendorWriter {
  platform::wire::Writer bytes;
  int room;
};

// Sets packet.length for a reply to a request from the entry's message size or the client's
// maximum message size (option 57), at least 300 and at most the packet buffer.
void apply_reply_length(Packet& packet, const HostEntry& entry, int verbosity);

// Applies the reply length rule, then writes the vendor area; bootFileSize in bytes. The
// leading options (a DHCP reply's own) come right behind the cookie, ahead of the entry's.
// The area always ends with the end option inside the reply's length.
void fill_vendor_area(Packet& packet, const HostEntry& entry, std::uint64_t bootFileSize,
                      int verbosity, std::span<const std::uint8_t> leadingOptions = {});

// The options after the first group, in fixed order; stops at the first that does not fit.
// Returns the number of bytes written.
int append_host_options(const HostEntry& entry, VendorWriter& out);
// Returns the number of addresses not written (0 when the list is absent).
std::size_t append_address_option(std::uint8_t tag, const AddressListRef& list, VendorWriter& out);
// Returns the number of raw option bytes skipped for lack of room.
int append_raw_options(const OptionBlobRef& blob, VendorWriter& out);
void put_u32(std::uint32_t value, platform::wire::Writer& out);

// Calls visit(tag, data) for each option of a request's RFC 1048 area (the bytes behind the
// cookie) that begins within the first `scanned` bytes, up to the End option or the first
// option cut short.
template <class Visit>
void for_each_request_option(std::span<const std::uint8_t> area, std::size_t scanned, Visit visit) {
  platform::wire::Reader options(area);
  while (options.position() < scanned) {
    const auto tag = options.u8();
    if (!tag || *tag == kEnd) break;
    if (*tag == kPad) continue;
    const auto length = options.u8();
    if (!length) break;
    const auto data = options.bytes(*length);
    if (!data) break;
    visit(*tag, *data);
  }
}

}  // namespace bootp
