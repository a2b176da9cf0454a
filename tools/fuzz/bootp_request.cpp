// libFuzzer target for BOOTP request handling: the input is one datagram at the server port,
// handled as the receive loop hands it on (a BOOTREQUEST, DHCP included, or a BOOTREPLY to
// relay) against a loaded host table. Nothing reaches the network: the reply goes to the
// send hook, which checks it (a BOOTREPLY of 300 to 1536 bytes with the request's xid and
// chaddr), and the neighbour entry to the command recorder.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "bootp/host_table.h"
#include "bootp/request.h"
#include "bootp/server_state.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "platform/interfaces.h"
#include "platform/net.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

using namespace bootp;

// Templates, inheritance, raw options, a reply address, a minimum wait, paths, a CMU cookie
// and an IEEE 802 address: every way an entry shapes a reply.
constexpr const char* kHostTable =
    ".router:\\\n"
    "\t:sm=255.255.255.0:bs=auto:sa=192.168.1.1:bf=flash.bin:\n"
    "board:tc=.router:ht=ethernet:ha=021A2B3C4D5E:ip=192.168.1.2:\n"
    "dhcp:tc=.router:ht=ethernet:ha=021A2B3C4D5F:ip=192.168.1.3:gw=192.168.1.1:hn:"
    "ds=192.168.1.1 192.168.1.254:dn=lab.example:T150=0A.0B:T200=\"text\":to=auto:\n"
    "wait:ht=1:ha=020000000001:ip=10.0.0.1:mw=5:hd=/boot:td=/tftp:bf=k.bin:rp=/nfs:\n"
    "relayed:ht=1:ha=020000000002:ip=10.0.0.2:ra=127.0.0.9:ms=1400:ef=ext.bin:\n"
    "token:ht=ieee802:ha=4000C0DEBEEF:ip=10.0.0.3:vm=cmu:ns=1.2.3.4:ts=5.6.7.8:\n";
constexpr std::size_t kImageBytes = 3000;

const std::uint32_t kServer_net = platform::inet_addr("127.0.0.1");
const std::uint32_t kBoard_net = platform::inet_addr("127.0.0.2");

// The server's own packet buffer, to tell a reply from a copy of something else.
const Packet* g_packet = nullptr;
// The request's transaction id and client hardware address, which every reply keeps.
std::array<std::uint8_t, offset::kSname - offset::kXid> g_request{};

bool keeps_request_fields(std::span<const std::uint8_t> reply) {
  const auto xid = reply.subspan(offset::kXid, 4);
  const auto chaddr = reply.subspan(offset::kChaddr, kChaddrSize);
  const auto request = std::span(g_request);
  return std::equal(xid.begin(), xid.end(), request.begin()) &&
         std::equal(chaddr.begin(), chaddr.end(), request.last(kChaddrSize).begin());
}

long check_reply(std::span<const std::uint8_t> bytes, platform::Endpoint) {
  if (bytes.data() != g_packet->buffer.data()) fuzz::fail("a reply from outside the buffer");
  if (bytes.size() < kMinimumMessage || bytes.size() > kPacketSize)
    fuzz::fail("a reply length outside 300 to 1536 bytes");
  if (bytes[offset::kOp] != kBootReply) fuzz::fail("a reply that is not a BOOTREPLY");
  if (!keeps_request_fields(bytes)) fuzz::fail("a reply with another xid or chaddr");
  return static_cast<long>(bytes.size());
}

ServerState& loaded_server() {
  static ServerState* state = [] {
    fuzz::enter_scratch_directory();
    fuzz::silence_diagnostics();
    const std::string image(kImageBytes, 'x');
    if (!fuzz::write_file("kalvex.ini", kHostTable, std::char_traits<char>::length(kHostTable)) ||
        !fuzz::write_file("flash.bin", image.data(), image.size()))
      fuzz::fail("files not written");
    flash_state().serverAddress = kServer_net;
    flash_state().clientAddress = kBoard_net;
    set_command_recorder_for_tests([](const std::string&, const std::string&) {});
    platform::set_send_hook_for_fuzzing(check_reply);

    auto* made = new ServerState();
    made->ownHostName = "kalvex-host";
    made->ownAddress = kServer_net;
    made->adapter = platform::interface_holding(kServer_net);
    made->table.path = "kalvex.ini";
    made->table.resolveHost = [](const std::string&) { return std::optional<std::uint32_t>(); };
    if (!create_host_indexes(made->table)) fuzz::fail("no indexes");
    read_host_table(*made, true);
    if (made->table.entries < 5) fuzz::fail("the host table was not read");
    g_packet = &made->packet;
    return made;
  }();
  return *state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ServerState& state = loaded_server();
  // The receive loop's own filters: nothing empty, longer than the buffer or short.
  if (size < kMinimumMessage || size > kPacketSize) return 0;
  state.packet.buffer.fill(0);
  std::copy_n(data + offset::kXid, g_request.size(), g_request.begin());
  serve_datagram(state, std::span(data, size));
  return 0;
}
