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

}  // namespace bootp
