// The neighbour table over rtnetlink, through libmnl. Each thread keeps one socket of its own,
// so the BOOTP thread and the UI thread share nothing, and every call waits for the kernel's
// acknowledgement; the interface lookup reads the kernel's IPv4 addresses the same way.
#include "platform/neighbour.h"

#include "platform/posix/fd_io.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {
namespace {

// No answer part is bigger: the kernel sizes its dump parts to the reader's buffer, starting
// from at most 8 KiB, and an acknowledgement is capped to the request's header.
constexpr std::size_t kMessageBytes = 8192;
// The kernel has answered a route request by the time sendto returns; the bound only keeps a
// kernel that never answers from holding the calling thread for good.
constexpr std::chrono::seconds kAnswerPatience{2};
constexpr std::size_t kMaxHardwareAddressBytes = 8;

struct alignas(nlmsghdr) MessageBuffer {
  std::array<char, kMessageBytes> bytes;
};

// The kernel's answer to one request: its error number (0 when the request was done) and,
// through the extended acknowledgement, its own explanation.
struct Answer {
  int error = 0;
  std::string detail;
};

// Reads the data messages of a dump into the answer they belong to.
using DataHandler = void (*)(const nlmsghdr* message, Answer& answer);

struct SocketCloser {
  void operator()(mnl_socket* route) const { mnl_socket_close(route); }
};
using RouteSocket = std::unique_ptr<mnl_socket, SocketCloser>;

struct WantedAttribute {
  std::uint16_t type = 0;
  const nlattr* found = nullptr;
};

int note_attribute(const nlattr* attribute, void* data) {
  auto& wanted = *static_cast<WantedAttribute*>(data);
  if (mnl_attr_get_type(attribute) == wanted.type) wanted.found = attribute;
  return MNL_CB_OK;
}

// The attribute of that type after the message's fixed header (offset bytes), if it has one.
const nlattr* find_attribute(const nlmsghdr* message, std::size_t offset, std::uint16_t type) {
  WantedAttribute wanted{type};
  if (offset > mnl_nlmsg_get_payload_len(message)) return nullptr;
  mnl_attr_parse(message, static_cast<unsigned>(offset), note_attribute, &wanted);
  return wanted.found;
}

void read_acknowledgement(const nlmsghdr* message, Answer& answer) {
  if (mnl_nlmsg_get_payload_len(message) < sizeof(nlmsgerr)) {
    answer.error = EPROTO;
    return;
  }
  answer.error = -static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(message))->error;
  // The explanation follows the error only when the request was not echoed back in full.
  const unsigned flags = message->nlmsg_flags;
  if ((flags & NLM_F_ACK_TLVS) == 0 || (flags & NLM_F_CAPPED) == 0) return;
  const nlattr* text = find_attribute(message, sizeof(nlmsgerr), NLMSGERR_ATTR_MSG);
  if (text != nullptr && mnl_attr_validate(text, MNL_TYPE_NUL_STRING) >= 0)
    answer.detail = mnl_attr_get_str(text);
}

// Walks one received datagram; true once the answer is complete.
bool take_datagram(const char* bytes, int length, unsigned portid, unsigned sequence,
                   DataHandler on_data, Answer& answer) {
  for (auto* message = reinterpret_cast<const nlmsghdr*>(bytes); mnl_nlmsg_ok(message, length);
       message = mnl_nlmsg_next(message, &length)) {
    // An answer to an earlier request that gave up waiting is passed over.
    if (!mnl_nlmsg_portid_ok(message, portid) || !mnl_nlmsg_seq_ok(message, sequence)) continue;
    if (message->nlmsg_type == NLMSG_ERROR) {
      read_acknowledgement(message, answer);
      return true;
    }
    if (message->nlmsg_type == NLMSG_DONE) return true;
    if (on_data != nullptr) on_data(message, answer);
  }
  return false;
}

// Short acknowledgements that carry the kernel's explanation, and reads that give up. Each is
// a refinement: a kernel without them still answers.
void configure(mnl_socket* route) {
  int on = 1;
  mnl_socket_setsockopt(route, NETLINK_CAP_ACK, &on, sizeof on);
  mnl_socket_setsockopt(route, NETLINK_EXT_ACK, &on, sizeof on);
  timeval patience{};
  patience.tv_sec = kAnswerPatience.count();
  ::setsockopt(mnl_socket_get_fd(route), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
}

// The calling thread's socket. Opening, binding and closing one for every request cost more
// than the request itself, so it is kept; but a socket acts on the network namespace it was
// opened in, so a thread that has moved to another namespace (tests move threads) gets a new
// one. Without a way to tell the namespace, a socket serves one request only. Telling it costs
// a microsecond or two, so a change right after an interface lookup on the same thread takes
// the lookup's socket as it stands: the index it was given means something only there.
struct ThreadRouteSocket {
  RouteSocket socket;
  unsigned portid = 0;
  unsigned sequence = 0;
  std::string space;  // the namespace the socket was opened in, as the system names it
  bool justLookedUp = false;
  // The thread's own namespace links, opened once: reading a link there is cheaper than
  // looking the whole path up each time.
  UniqueFd namespaces{::open("/proc/thread-self/ns", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
};
thread_local ThreadRouteSocket t_route;

// "net:[4026531840]", or empty when it cannot be told.
std::string current_namespace() {
  std::array<char, 64> link{};
  const ssize_t length = ::readlinkat(t_route.namespaces.get(), "net", link.data(), link.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return {};
  return std::string(link.data(), static_cast<std::size_t>(length));
}

enum class After : std::uint8_t { Anything, Lookup };

mnl_socket* route_socket(After after, int& error) {
  if (std::exchange(t_route.justLookedUp, false) && after == After::Lookup && t_route.socket)
    return t_route.socket.get();
  const auto space = current_namespace();
  if (t_route.socket && !space.empty() && space == t_route.space) return t_route.socket.get();
  t_route.socket.reset(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
  if (!t_route.socket || mnl_socket_bind(t_route.socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
    error = errno;
    t_route.socket.reset();
    return nullptr;
  }
  configure(t_route.socket.get());
  t_route.portid = mnl_socket_get_portid(t_route.socket.get());
  t_route.space = space;
  return t_route.socket.get();
}

// Sends the request on the thread's socket and reads until the kernel's acknowledgement or the
// end of its dump. A socket that failed is not used again.
void exchange(nlmsghdr* request, DataHandler on_data, Answer& answer,
              After after = After::Anything) {
  mnl_socket* route = route_socket(after, answer.error);
  if (route == nullptr) return;
  request->nlmsg_seq = ++t_route.sequence;
  if (mnl_socket_sendto(route, request, request->nlmsg_len) < 0) {
    answer.error = errno;
    t_route.socket.reset();
    return;
  }
  MessageBuffer buffer;
  for (;;) {
    const ssize_t received = mnl_socket_recvfrom(route, buffer.bytes.data(), buffer.bytes.size());
    if (received < 0) {
      answer.error = (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno;
      t_route.socket.reset();
      return;
    }
    if (take_datagram(buffer.bytes.data(), static_cast<int>(received), t_route.portid,
                      request->nlmsg_seq, on_data, answer)) {
      if (t_route.space.empty()) t_route.socket.reset();
      return;
    }
  }
}

nlmsghdr* put_request(MessageBuffer& buffer, std::uint16_t type, unsigned flags) {
  nlmsghdr* request = mnl_nlmsg_put_header(buffer.bytes.data());
  request->nlmsg_type = type;
  request->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
  return request;
}

nlmsghdr* put_neighbour_request(MessageBuffer& buffer, std::uint16_t type, unsigned flags,
                                std::uint32_t interface_index, std::uint32_t address_net,
                                std::uint16_t state) {
  nlmsghdr* request = put_request(buffer, type, NLM_F_ACK | flags);
  auto* neighbour = static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ndmsg)));
  neighbour->ndm_family = AF_INET;
  neighbour->ndm_ifindex = static_cast<int>(interface_index);
  neighbour->ndm_state = state;
  neighbour->ndm_type = RTN_UNICAST;
  mnl_attr_put(request, NDA_DST, sizeof address_net, &address_net);
  return request;
}

NeighbourResult result_of(const Answer& answer) {
  NeighbourResult result;
  if (answer.error == 0) return result;
  result.error = std::error_code(answer.error, std::system_category());
  result.text = result.error.message();
  if (!answer.detail.empty()) result.text += " (" + answer.detail + ")";
  return result;
}

struct AddressSearch : Answer {
  std::uint32_t address_net = 0;
  int best_prefix = 0;  // a /0 network holds every address and is never taken
  std::uint32_t best_index = 0;
};

void consider_address(const nlmsghdr* message, Answer& answer) {
  auto& search = static_cast<AddressSearch&>(answer);
  if (message->nlmsg_type != RTM_NEWADDR || mnl_nlmsg_get_payload_len(message) < sizeof(ifaddrmsg))
    return;
  const auto* header = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(message));
  const int prefix = header->ifa_prefixlen;
  if (header->ifa_family != AF_INET || prefix <= search.best_prefix || prefix > 32) return;
  // IFA_ADDRESS names the network (on a point-to-point link, the peer's); IFA_LOCAL is ours.
  const nlattr* address = find_attribute(message, sizeof(ifaddrmsg), IFA_ADDRESS);
  if (address == nullptr || mnl_attr_get_payload_len(address) != sizeof(std::uint32_t)) return;
  const std::uint32_t mask_net = htonl(~std::uint32_t{0} << (32 - prefix));
  if (((mnl_attr_get_u32(address) ^ search.address_net) & mask_net) != 0) return;
  search.best_prefix = prefix;
  search.best_index = header->ifa_index;
}

}  // namespace

std::optional<std::uint32_t> interface_index_for(std::uint32_t address_net) {
  MessageBuffer buffer;
  nlmsghdr* request = put_request(buffer, RTM_GETADDR, NLM_F_DUMP);
  static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ifaddrmsg)))->ifa_family =
      AF_INET;
  AddressSearch search;
  search.address_net = address_net;
  exchange(request, consider_address, search);
  t_route.justLookedUp = search.error == 0 && t_route.socket;
  if (search.error != 0 || search.best_prefix == 0) return {};
  return search.best_index;
}

NeighbourResult add_permanent_neighbour(std::uint32_t interface_index, std::uint32_t address_net,
                                        std::span<const std::uint8_t> hardware_address) {
  if (hardware_address.empty() || hardware_address.size() > kMaxHardwareAddressBytes)
    return {std::make_error_code(std::errc::invalid_argument),
            "a hardware address has 1 to 8 bytes"};
  MessageBuffer buffer;
  nlmsghdr* request = put_neighbour_request(buffer, RTM_NEWNEIGH, NLM_F_CREATE | NLM_F_REPLACE,
                                            interface_index, address_net, NUD_PERMANENT);
  mnl_attr_put(request, NDA_LLADDR, hardware_address.size(), hardware_address.data());
  Answer answer;
  exchange(request, nullptr, answer, After::Lookup);
  return result_of(answer);
}

NeighbourResult delete_neighbour(std::uint32_t interface_index, std::uint32_t address_net) {
  MessageBuffer buffer;
  nlmsghdr* request =
      put_neighbour_request(buffer, RTM_DELNEIGH, 0, interface_index, address_net, 0);
  Answer answer;
  exchange(request, nullptr, answer, After::Lookup);
  return result_of(answer);
}

}  // namespace platform
