// The reply's vendor area in the RFC 1048 format: the magic cookie and the options built from
// the client's host entry, written in order until the room runs out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bootp/host_entry.h"
#include "bootp/message.h"

namespace bootp {

// A write position in the reply's vendor area with the bytes still free. Room may go below 0
// only through the few fixed-size options written unchecked, which the packet buffer holds.
struct VendorWriter {
  std::uint8_t* position;
  int room;
};

// Applies the reply length rule, then writes the vendor area; bootFileSize in bytes.
void fill_vendor_area(Packet& packet, const HostEntry& entry, std::uint64_t bootFileSize,
                      int verbosity);

// The options after the first group, in fixed order; stops at the first that does not fit.
// Returns the number of bytes written.
int append_host_options(const HostEntry& entry, VendorWriter& out);
// Returns the number of addresses not written (0 when the list is absent).
std::size_t append_address_option(std::uint8_t tag, const AddressListRef& list, VendorWriter& out);
// Returns the number of raw option bytes skipped for lack of room.
int append_raw_options(const OptionBlobRef& blob, VendorWriter& out);
void put_u32(std::uint32_t value, std::uint8_t*& position);

}  // namespace bootp
