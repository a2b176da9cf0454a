// The companion "ipconfig" that Kalvex runs on Linux, where the system has no such command:
// it lists the IPv4 addresses of the interfaces that are up, loopback left out, one
// "IP Address" line per address under a heading per adapter, the form the adapter scan reads.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/interfaces.h"
#include "platform/net.h"

namespace {

void print_adapter_heading(const std::string& name) {
  std::printf("\nEthernet adapter %s:\n\n", name.c_str());
}

void print_address(const platform::InterfaceAddress& address) {
  std::printf("        IP Address. . . . . . . . . . . . : %s\n",
              platform::inet_ntoa(address.address_net).c_str());
  std::printf("        Subnet Mask . . . . . . . . . . . : %s\n",
              platform::inet_ntoa(address.netmask_net).c_str());
}

}  // namespace

int main() {
  std::printf("\nKalvex IP Configuration\n");
  std::vector<std::string> listed;
  const std::vector<platform::InterfaceAddress> interfaces = platform::ipv4_interfaces();
  // One heading per adapter, its addresses below it in the kernel's order.
  for (const platform::InterfaceAddress& first : interfaces) {
    if (first.loopback) continue;
    bool seen = false;
    for (const std::string& name : listed) seen = seen || name == first.interface_name;
    if (seen) continue;
    listed.push_back(first.interface_name);
    print_adapter_heading(first.interface_name);
    for (const platform::InterfaceAddress& address : interfaces)
      if (!address.loopback && address.interface_name == first.interface_name)
        print_address(address);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
