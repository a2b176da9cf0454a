// An Endpoint as the sockets API's IPv4 address and back, for both systems' socket code.
#pragma once

#ifdef _WIN32
#include "platform/win32/system.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "platform/net.h"

namespace platform {

inline sockaddr_in to_sockaddr(Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = endpoint.address_net;
  return address;
}

inline Endpoint from_sockaddr(const sockaddr_in& address) {
  return Endpoint{address.sin_addr.s_addr, ntohs(address.sin_port)};
}

}  // namespace platform
