#include "tests/support/network_namespace.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace kalvex::testing {

ThreadNetworkNamespace::ThreadNetworkNamespace(const std::string& setup) {
  m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (m_home < 0 || ::unshare(CLONE_NEWNET) != 0) {
    m_whyNot =
        std::string("cannot create a network namespace (needs root): ") + std::strerror(errno);
    return;
  }
  m_inside = true;
  m_setUp = run_shell(setup).has_value();
  if (!m_setUp) m_whyNot = "cannot set the namespace up: " + setup;
}

ThreadNetworkNamespace::~ThreadNetworkNamespace() {
  if (m_inside) ::setns(m_home, CLONE_NEWNET);
  if (m_home >= 0) ::close(m_home);
}

std::optional<std::string> run_shell(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string output;
  std::array<char, 256> chunk{};
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr)
    output += chunk.data();
  if (::pclose(pipe) != 0) return {};
  return output;
}

std::string neighbour_entry(const std::string& address, const std::string& device) {
  std::string entry =
      run_shell("ip neigh show " + address + " dev " + device).value_or("ip neigh failed");
  entry.erase(entry.find_last_not_of(" \n") + 1);
  return entry;
}

}  // namespace kalvex::testing
