// IPv4 UDP sockets over Windows Sockets 2. Each socket signals an event when a datagram
// arrives (WSAEventSelect), and a receive waits on that event and the stop token's together,
// so a server thread blocked in a receive stops at once. WSARecvMsg with IP_PKTINFO tells
// where a datagram arrived. Errors are left in errno, in the names POSIX gives them.
#include "platform/net.h"

#include "platform/socket_address.h"
#include "platform/win32/stop_state.h"
#include "platform/win32/system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <mswsock.h>

namespace platform {

struct UdpSocket::Impl {
  SOCKET socket = INVALID_SOCKET;
  WSAEVENT arrived = WSA_INVALID_EVENT;  // set by the system when a datagram waits
  LPFN_WSARECVMSG recvMsg = nullptr;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    if (arrived != WSA_INVALID_EVENT) ::WSACloseEvent(arrived);
  }
};

namespace {

// A message of one buffer, with its peer's address and room for one control message.
WSAMSG one_buffer_message(sockaddr_in& peer, WSABUF& data, std::span<char> control) {
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(&peer);
  message.namelen = sizeof peer;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control = WSABUF{static_cast<ULONG>(control.size()), control.data()};
  return message;
}

using Milliseconds = std::chrono::milliseconds;

// A failed datagram send waits this long at most for room in the socket's buffer.
constexpr Milliseconds kSendPatience{5000};

// The socket, INVALID_SOCKET when there is none (a template: the type is private to UdpSocket).
template <class Impl>
SOCKET socket_of(const std::unique_ptr<Impl>& impl) {
  return impl ? impl->socket : INVALID_SOCKET;
}

// Leaves the last socket error in errno; returns `failure` for the caller to hand on.
template <class T>
T failed(T failure) {
  errno = win32::errno_from_socket_error(::WSAGetLastError());
  return failure;
}

// Windows reports a port-unreachable answer to an earlier send as an error of the next
// receive; POSIX systems do not, and the servers expect them not to.
void ignore_port_unreachable(SOCKET socket) {
  BOOL report = FALSE;
  DWORD unused = 0;
  ::WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &unused, nullptr,
             nullptr);
}

LPFN_WSARECVMSG find_recv_msg(SOCKET socket) {
  GUID id = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG function = nullptr;
  DWORD unused = 0;
  if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                 sizeof function, &unused, nullptr, nullptr) != 0)
    return nullptr;
  return function;
}

void read_arrival(WSAMSG& message, RecvResult& result) {
  for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
       header = WSA_CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_PKTINFO) continue;
    IN_PKTINFO info{};
    std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
    result.interfaceIndex = info.ipi_ifindex;
    result.destination_net = info.ipi_addr.s_addr;
  }
}

// One receive that does not wait. False when nothing waits; otherwise the result is final.
template <class Impl>
bool receive_waiting(Impl& impl, std::span<std::uint8_t> buffer, RecvResult& result) {
  sockaddr_in from{};
  WSABUF data{static_cast<ULONG>(buffer.size()), reinterpret_cast<char*>(buffer.data())};
  alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message = one_buffer_message(from, data, control);
  DWORD received = 0;
  int status;
  if (impl.recvMsg != nullptr) {
    status = impl.recvMsg(impl.socket, &message, &received, nullptr, nullptr);
  } else {
    int fromLength = sizeof from;
    status = ::recvfrom(impl.socket, data.buf, static_cast<int>(data.len), 0,
                        reinterpret_cast<sockaddr*>(&from), &fromLength);
    received = status == SOCKET_ERROR ? 0 : static_cast<DWORD>(status);
    message.Control.len = 0;
  }
  if (status == SOCKET_ERROR) {
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return false;
    if (error != WSAEMSGSIZE) {
      result.error = win32::errno_from_socket_error(error);
      result.status =
          error == WSAEINTR ? RecvResult::Status::Interrupted : RecvResult::Status::Error;
      return true;
    }
    // Longer than the buffer: Windows fills the buffer and drops the rest, as POSIX does,
    // but calls it an error.
    received = data.len;
  }
  result.status = RecvResult::Status::Received;
  result.length = received;
  result.from = from_sockaddr(from);
  read_arrival(message, result);
  return true;
}

// How long a wait may last: until the deadline, or for ever without a limit. Nothing when
// the deadline has passed.
std::optional<DWORD> wait_milliseconds(
    std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!deadline) return INFINITE;
  const auto left = std::chrono::ceil<Milliseconds>(*deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return std::nullopt;
  return static_cast<DWORD>(std::min<Milliseconds::rep>(left.count(), INFINITE - 1));
}

bool wait_writable(SOCKET socket, Milliseconds limit) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(socket, &writable);
  timeval patience{static_cast<long>(limit.count() / 1000),
                   static_cast<long>(limit.count() % 1000 * 1000)};
  return ::select(0, nullptr, &writable, nullptr, &patience) == 1;
}

}  // namespace

UdpSocket::UdpSocket() = default;
UdpSocket::~UdpSocket() = default;
UdpSocket::UdpSocket(UdpSocket&& other) noexcept = default;
UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept = default;

bool UdpSocket::open() {
  m_impl.reset();
  if (!win32::start_winsock()) {
    errno = EAFNOSUPPORT;
    return false;
  }
  auto impl = std::make_unique<Impl>();
  impl->socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (impl->socket == INVALID_SOCKET) return failed(false);
  // Children never inherit it (the POSIX side's close-on-exec).
  ::SetHandleInformation(reinterpret_cast<HANDLE>(impl->socket), HANDLE_FLAG_INHERIT, 0);
  impl->arrived = ::WSACreateEvent();
  if (impl->arrived == WSA_INVALID_EVENT ||
      ::WSAEventSelect(impl->socket, impl->arrived, FD_READ) != 0)
    return failed(false);
  // As on the POSIX side: every datagram says where it came in.
  const DWORD on = 1;
  ::setsockopt(impl->socket, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
  // No other program can bind the same port while we hold it, and a bind fails while another
  // holds it, as on POSIX systems (Windows otherwise lets a more specific bind share it).
  const BOOL exclusive = TRUE;
  ::setsockopt(impl->socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  ignore_port_unreachable(impl->socket);
  impl->recvMsg = find_recv_msg(impl->socket);
  m_impl = std::move(impl);
  return true;
}

bool UdpSocket::bind(Endpoint local) {
  const sockaddr_in address = to_sockaddr(local);
  if (::bind(socket_of(m_impl), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return failed(false);
  return true;
}

bool UdpSocket::enable_broadcast() {
  const BOOL on = TRUE;
  if (::setsockopt(socket_of(m_impl), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0)
    return failed(false);
  return true;
}

bool UdpSocket::is_open() const {
  return socket_of(m_impl) != INVALID_SOCKET;
}

std::optional<Endpoint> UdpSocket::local_endpoint() const {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(socket_of(m_impl), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return failed(std::optional<Endpoint>());
  return from_sockaddr(address);
}

long long UdpSocket::handle_number() const {
  return is_open() ? static_cast<long long>(socket_of(m_impl)) : -1;
}

RecvResult UdpSocket::receive(std::span<std::uint8_t> buffer, const StopToken& stop,
                              std::optional<std::chrono::milliseconds> limit) {
  RecvResult result;
  if (!m_impl) {
    result.error = errno = EBADF;
    return result;
  }
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (limit) deadline = std::chrono::steady_clock::now() + *limit;
  const HANDLE stopEvent = stop.m_state ? stop.m_state->event.get() : nullptr;
  const WSAEVENT events[2] = {m_impl->arrived, stopEvent};
  for (;;) {
    if (stop.stop_requested()) {
      result.status = RecvResult::Status::Stopped;
      return result;
    }
    // Reset before looking: a datagram that comes after the look sets the event again.
    ::WSAResetEvent(m_impl->arrived);
    if (receive_waiting(*m_impl, buffer, result)) return result;
    const std::optional<DWORD> patience = wait_milliseconds(deadline);
    if (!patience) {
      result.status = RecvResult::Status::TimedOut;
      return result;
    }
    const DWORD woken =
        ::WSAWaitForMultipleEvents(stopEvent != nullptr ? 2 : 1, events, FALSE, *patience, FALSE);
    if (woken == WSA_WAIT_FAILED) {
      result.error = errno = win32::errno_from_socket_error(::WSAGetLastError());
      return result;
    }
  }
}

bool UdpSocket::readable_within(std::chrono::milliseconds limit) const {
  const SOCKET socket = socket_of(m_impl);
  if (socket == INVALID_SOCKET) return false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::max(std::chrono::ceil<Milliseconds>(deadline - std::chrono::steady_clock::now()),
                 Milliseconds(0));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval patience{static_cast<long>(left.count() / 1000),
                     static_cast<long>(left.count() % 1000 * 1000)};
    const int ready = ::select(0, &readable, nullptr, nullptr, &patience);
    if (ready != SOCKET_ERROR || ::WSAGetLastError() != WSAEINTR) return ready == 1;
  }
}

long UdpSocket::send_to(std::span<const std::uint8_t> bytes, Endpoint to) {
  if (const SendHook hook = send_hook()) return hook(bytes, to);
  const SOCKET socket = socket_of(m_impl);
  const sockaddr_in address = to_sockaddr(to);
  // The socket does not block (its arrival event makes it so): a full buffer is waited out.
  for (;;) {
    const int sent = ::sendto(socket, reinterpret_cast<const char*>(bytes.data()),
                              static_cast<int>(bytes.size()), 0,
                              reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (sent != SOCKET_ERROR) return sent;
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK && wait_writable(socket, kSendPatience)) continue;
    errno = win32::errno_from_socket_error(error);
    return -1;
  }
}

long UdpSocket::send_out_of(std::span<const std::uint8_t> bytes, Endpoint to,
                            std::uint32_t interfaceIndex) {
  if (const SendHook hook = send_hook()) return hook(bytes, to);
  const SOCKET socket = socket_of(m_impl);
  sockaddr_in address = to_sockaddr(to);
  WSABUF data{static_cast<ULONG>(bytes.size()),
              reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()))};
  alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message = one_buffer_message(address, data, control);
  WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
  IN_PKTINFO info{};
  info.ipi_ifindex = interfaceIndex;
  std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
  DWORD sent = 0;
  if (::WSASendMsg(socket, &message, 0, &sent, nullptr, nullptr) == 0)
    return static_cast<long>(sent);
  // Where the system cannot choose the interface per datagram, the routes choose it.
  return send_to(bytes, to);
}

void UdpSocket::close() {
  m_impl.reset();
}

bool sockets_available() {
  UdpSocket probe;
  return probe.open();
}

std::string error_text(int error) {
  // The C runtime names its own codes; the socket conditions that errno_from_socket_error
  // gives names to are told in the system's words.
  if (const int socketError = win32::socket_error_from_errno(error);
      socketError != 0 && error >= EADDRINUSE)
    return win32::system_message(static_cast<unsigned long>(socketError));
  return std::strerror(error);
}

}  // namespace platform
