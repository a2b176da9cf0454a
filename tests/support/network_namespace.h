// A network namespace of the test's own for the calling thread: what a test does to
// interfaces, addresses and the neighbour table there never touches the machine's own. The
// namespace goes with its last user, veth pair and all, when the thread moves back home.
#pragma once

#include <optional>
#include <string>

namespace kalvex::testing {

class ThreadNetworkNamespace {
 public:
  // Moves the calling thread into a new namespace and runs the shell commands that set it up;
  // entered() is false, with the reason in why_not(), when that is refused (it needs root).
  explicit ThreadNetworkNamespace(const std::string& setup);
  ~ThreadNetworkNamespace();
  ThreadNetworkNamespace(const ThreadNetworkNamespace&) = delete;
  ThreadNetworkNamespace& operator=(const ThreadNetworkNamespace&) = delete;

  bool entered() const { return m_inside && m_setUp; }
  const std::string& why_not() const { return m_whyNot; }

 private:
  int m_home = -1;
  bool m_inside = false;
  bool m_setUp = false;
  std::string m_whyNot;
};

// A veth pair kvx0/kvx1 with 192.168.77.10/24 on kvx0 and 192.168.0.1/16 on kvx1, both up.
inline constexpr const char* kVethPair =
    "ip link add kvx0 type veth peer name kvx1"
    " && ip addr add 192.168.77.10/24 dev kvx0 && ip addr add 192.168.0.1/16 dev kvx1"
    " && ip link set kvx0 up && ip link set kvx1 up";

// Runs a shell command line in the calling thread's namespace; its standard output, or
// nothing when it failed.
std::optional<std::string> run_shell(const std::string& command);

// The address's neighbour entry on the device as `ip neigh` prints it ("192.168.77.9 lladdr
// 02:1a:2b:3c:4d:5e PERMANENT"), empty when there is none.
std::string neighbour_entry(const std::string& address, const std::string& device);

}  // namespace kalvex::testing
