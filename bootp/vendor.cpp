// Building the RFC 1048 vendor area of a reply. The format is always RFC 1048, whatever the
// request carried; options that do not fit are reported and left out, and the reply is sent
// all the same.
#include "bootp/vendor.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "bootp/server.h"
#include "bootp/symbols.h"

namespace bootp {

namespace {

constexpr std::uint8_t kPad = 0;
constexpr std::uint8_t kEnd = 255;

void report_no_room(const HostEntry& entry, const char* word) {
  bootp_report(kNotice, "%s: No room for \"%s\" option", entry.name().c_str(), word);
}

void put_byte(std::uint8_t value, VendorWriter& out) {
  *out.position++ = value;
}

void put_address(std::uint32_t address_net, VendorWriter& out) {
  std::memcpy(out.position, &address_net, 4);
  out.position += 4;
}

void put_text_option(std::uint8_t tag, const std::string& text, VendorWriter& out) {
  put_byte(tag, out);
  put_byte(static_cast<std::uint8_t>(text.size()), out);
  std::memcpy(out.position, text.data(), text.size());
  out.position += text.size();
  out.room -= static_cast<int>(text.size()) + 2;
}

// A text option of the table: false (after the "No room" report) when it does not fit.
bool append_text(const HostEntry& entry, bool present, std::uint8_t tag, const TextRef& text,
                 const char* word, VendorWriter& out) {
  if (!present) return true;
  const std::string& value = text ? text->text : std::string();
  if (out.room < static_cast<int>(value.size()) + 2) {
    report_no_room(entry, word);
    return false;
  }
  put_text_option(tag, value, out);
  return true;
}

bool append_address(const HostEntry& entry, bool present, std::uint8_t tag,
                    std::uint32_t address_net, const char* word, VendorWriter& out) {
  if (!present) return true;
  if (out.room < 6) {
    report_no_room(entry, word);
    return false;
  }
  put_byte(tag, out);
  put_byte(4, out);
  put_address(address_net, out);
  out.room -= 6;
  return true;
}

bool append_list(const HostEntry& entry, std::uint8_t tag, const AddressListRef& list,
                 const char* word, VendorWriter& out) {
  if (append_address_option(tag, list, out) != 0 && out.room < 8) {
    report_no_room(entry, word);
    return false;
  }
  return true;
}

bool append_time_offset(const HostEntry& entry, VendorWriter& out) {
  if (!entry.has(Flag::TimeOffset)) return true;
  if (out.room < 6) {
    report_no_room(entry, "to");
    return false;
  }
  put_byte(2, out);
  put_byte(4, out);
  put_u32(static_cast<std::uint32_t>(entry.timeOffset), out.position);
  out.room -= 6;
  return true;
}

bool append_raw(const HostEntry& entry, VendorWriter& out) {
  if (append_raw_options(entry.rawOptions, out) != 0 && out.room < 64) {
    report_no_room(entry, "(generic)");
    return false;
  }
  return true;
}

std::uint16_t boot_size_blocks(const HostEntry& entry, std::uint64_t bootFileSize) {
  const std::uint64_t blocks =
      entry.has(Flag::BootSizeAuto) ? (bootFileSize + 511) / 512 : entry.bootSize;
  return static_cast<std::uint16_t>(blocks & 0xFFFF);
}

}  // namespace

void put_u32(std::uint32_t value, std::uint8_t*& position) {
  store_be32(std::span<std::uint8_t, 4>(position, 4), value);
  position += 4;
}

std::size_t append_address_option(std::uint8_t tag, const AddressListRef& list, VendorWriter& out) {
  if (!list) return 0;
  if (out.room < 6) return 1;
  put_byte(tag, out);
  std::uint8_t* length = out.position;
  put_byte(0, out);
  out.room -= 2;
  std::size_t written = 0;
  const std::size_t count = list->addresses_net.size();
  while (out.room >= 4 && written < count) {
    put_address(list->addresses_net[written++], out);
    out.room -= 4;
  }
  *length = static_cast<std::uint8_t>(4 * written);
  return count - written;
}

int append_raw_options(const OptionBlobRef& blob, VendorWriter& out) {
  if (!blob) return 0;
  const std::vector<std::uint8_t>& bytes = blob->bytes;
  int skipped = 0;
  std::size_t at = 0;
  while (at < bytes.size() && out.room > 0) {
    const std::uint8_t tag = bytes[at];
    if (tag == kPad) {
      put_byte(kPad, out);
      out.room -= 1;
      ++at;
      continue;
    }
    if (tag == kEnd || at + 1 >= bytes.size()) break;
    const std::size_t size = std::size_t{bytes[at + 1]} + 2;
    if (at + size > bytes.size()) break;  // a tag-0 option reads as pads and a bogus length
    if (out.room < static_cast<int>(size)) {
      skipped += static_cast<int>(size);
    } else {
      std::memcpy(out.position, bytes.data() + at, size);
      out.position += size;
      out.room -= static_cast<int>(size);
    }
    at += size;
  }
  return skipped;
}

int append_host_options(const HostEntry& entry, VendorWriter& out) {
  const std::uint8_t* start = out.position;
  const auto has = [&](Flag flag) { return entry.has(flag); };
  const bool sendName = has(Flag::HostNameSwitch) && has(Flag::SendHostName);
  const bool complete =
      append_time_offset(entry, out) &&
      append_address(entry, has(Flag::SwapServer), 16, entry.swapServer, "sw", out) &&
      append_text(entry, has(Flag::RootPath), 17, entry.rootPath, "rp", out) &&
      append_text(entry, has(Flag::DumpFile), 14, entry.dumpFile, "df", out) &&
      append_list(entry, 6, entry.domainServers, "ds", out) &&
      append_text(entry, has(Flag::DomainName), 15, entry.domainName, "dn", out) &&
      append_list(entry, 41, entry.nisServers, "ds", out) &&
      append_text(entry, has(Flag::NisDomain), 40, entry.nisDomain, "dn", out) &&
      append_list(entry, 5, entry.nameServers, "ns", out) &&
      append_list(entry, 11, entry.rlpServers, "rl", out) &&
      append_list(entry, 4, entry.timeServers, "ts", out) &&
      append_list(entry, 42, entry.ntpServers, "ts", out) &&
      append_text(entry, sendName, 12, entry.hostName, "hn", out) &&
      append_list(entry, 9, entry.lprServers, "lp", out) &&
      append_list(entry, 8, entry.cookieServers, "cs", out) &&
      append_list(entry, 7, entry.logServers, "lg", out) && append_raw(entry, out);
  (void)complete;  // a stop leaves the options written so far in place
  return static_cast<int>(out.position - start);
}

void fill_vendor_area(Packet& packet, const HostEntry& entry, std::uint64_t bootFileSize,
                      int verbosity) {
  apply_reply_length(packet, entry, verbosity);
  std::uint8_t* vend = packet.buffer.data() + offset::kVend;
  VendorWriter out{vend, static_cast<int>(packet.length - offset::kVend)};

  std::memcpy(out.position, kRfc1048Cookie.data(), 4);
  out.position += 4;
  out.room -= 4;

  // Unchecked: at least 60 bytes are free here and only the gateway list, which checks for
  // itself, can use them up; the buffer holds the few bytes that may land behind the reply.
  if (entry.has(Flag::SubnetMask)) {
    put_byte(1, out);
    put_byte(4, out);
    put_address(entry.subnetMask, out);
    out.room -= 6;
    if (entry.has(Flag::Gateways)) append_address_option(3, entry.gateways, out);
  }
  if (entry.has(Flag::BootSize)) {
    put_byte(13, out);
    put_byte(2, out);
    store_be16(std::span<std::uint8_t, 2>(out.position, 2), boot_size_blocks(entry, bootFileSize));
    out.position += 2;
    out.room -= 4;
  }

  if (entry.has(Flag::ExtensionFile)) {
    const std::string& name = entry.extensionFile ? entry.extensionFile->text : std::string();
    if (out.room < static_cast<int>(name.size()) + 3) {
      report_no_room(entry, "ef");
      return;
    }
    put_text_option(18, name, out);
    put_byte(kEnd, out);
    return;
  }

  VendorWriter options{out.position, out.room - 1};  // one byte kept for the end option
  const int written = append_host_options(entry, options);
  out.position += written;
  out.room -= written;
  if (out.room < 1) {
    report_no_room(entry, "(end)");
    return;
  }
  put_byte(kEnd, out);
  out.room -= 1;
  std::fill_n(out.position, out.room, std::uint8_t{0});
}

}  // namespace bootp
