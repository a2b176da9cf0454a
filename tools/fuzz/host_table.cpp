// libFuzzer target for the host table reader: the input is the whole text of "kalvex.ini",
// read as the server reads it (entries, quotes, continuation lines, templates, duplicates,
// wrong fields). Then every entry filed is looked up again by its hardware address and its
// IP address, as a request would find it, and its vendor area is built with what it holds
// and inherited: the area must stay well formed inside the reply's length.
#include <array>
#include <cstdint>
#include <string>

#include "bootp/host_table.h"
#include "bootp/hw_address.h"
#include "bootp/server_state.h"
#include "bootp/vendor.h"
#include "platform/wire.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

using namespace bootp;

constexpr std::uint8_t kPad = 0;
constexpr std::uint8_t kEnd = 255;

// No name is looked up in the system's resolver: a name of odd length resolves, one of even
// length does not, so both outcomes are reached without the network.
std::optional<std::uint32_t> resolve_without_network(const std::string& name) {
  if (name.size() % 2 == 0) return std::nullopt;
  return platform::host_to_net32(0x0A000000u | static_cast<std::uint32_t>(name.size()));
}

ServerState& server_state() {
  static ServerState* state = [] {
    fuzz::enter_scratch_directory();
    fuzz::silence_diagnostics();
    auto* made = new ServerState();
    made->table.resolveHost = resolve_without_network;
    return made;
  }();
  return *state;
}

void check_found_again(const HostTable& table, const HostEntry& entry) {
  if (entry.has(Flag::HwType) && entry.has(Flag::HwAddress)) {
    const std::size_t length = hw_address_length(entry.hwType);
    const HostEntry* found =
        find_by_hw_address(table, entry.hwType, std::span(entry.hwAddress).first(length));
    if (found == nullptr || found->hwType != entry.hwType ||
        !std::equal(found->hwAddress.begin(), found->hwAddress.begin() + length,
                    entry.hwAddress.begin()))
      fuzz::fail("a filed entry is not found by its hardware address");
  }
  if (entry.has(Flag::IpAddress)) {
    const HostEntry* found = find_by_ip_address(table, entry.ipAddress);
    if (found == nullptr || found->ipAddress != entry.ipAddress)
      fuzz::fail("a filed entry is not found by its IP address");
  }
}

// Options from behind the cookie: each whole inside the reply, and the end option reached.
void check_vendor_area(Packet& packet) {
  if (packet.length < kMinimumMessage || packet.length > kPacketSize)
    fuzz::fail("a reply length outside 300 to 1536 bytes");
  platform::wire::Reader options(
      std::span<const std::uint8_t>(packet.buffer).first(packet.length).subspan(offset::kVend + 4));
  for (;;) {
    const auto tag = options.u8();
    if (!tag) fuzz::fail("the vendor area has no end option inside the reply");
    if (*tag == kEnd) return;
    if (*tag == kPad) continue;
    const auto length = options.u8();
    if (!length || !options.bytes(*length)) fuzz::fail("an option runs past the reply");
  }
}

void build_vendor_area(const HostEntry& entry) {
  Packet packet;
  packet.length = kMinimumMessage;
  packet.receivedLength = kMinimumMessage;
  fill_vendor_area(packet, entry, 4096, 1);
  check_vendor_area(packet);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ServerState& state = server_state();
  if (!fuzz::write_file(state.table.path, data, size)) fuzz::fail("kalvex.ini not written");
  if (!create_host_indexes(state.table)) fuzz::fail("no indexes");
  read_host_table(state, true);
  for (HashLink<HostEntry>* head : state.table.nameIndex->heads()) {
    for (const HashLink<HostEntry>* link = head; link != nullptr; link = link->next) {
      check_found_again(state.table, *link->datum);
      build_vendor_area(*link->datum);
    }
  }
  return 0;
}
