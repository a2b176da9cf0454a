#include "tests/tftp/tftp_test_support.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/flash_state.h"
#include "platform/net.h"
#include "tftp/endpoint.h"
#include "tftp/tftp_server.h"

extern char** environ;

namespace tftp_test {

namespace {

std::mutex g_errorsMutex;
std::string g_errors;

void append_errors(std::string_view text) {
  const std::lock_guard lock(g_errorsMutex);
  g_errors.append(text);
}

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

Bytes request(int opcode, const std::string& name, const std::string& mode) {
  Bytes packet{0, static_cast<std::uint8_t>(opcode)};
  packet.insert(packet.end(), name.begin(), name.end());
  packet.push_back(0);
  packet.insert(packet.end(), mode.begin(), mode.end());
  packet.push_back(0);
  return packet;
}

}  // namespace

ScratchDir::ScratchDir() {
  char templ[] = "/tmp/kalvex-tftp-XXXXXX";
  const char* made = ::mkdtemp(templ);
  EXPECT_NE(made, nullptr);
  m_path = made != nullptr ? made : "/tmp";
  char cwd[4096];
  m_previous = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
  EXPECT_EQ(::chdir(m_path.c_str()), 0);
}

ScratchDir::~ScratchDir() {
  if (::chdir(m_previous.c_str()) != 0) return;
  run_program({"rm", "-rf", m_path});
}

void write_file(const std::string& name, const Bytes& content, unsigned mode) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  out.close();
  ::chmod(name.c_str(), mode);
}

Bytes read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes pattern_bytes(std::size_t size) {
  Bytes bytes(size);
  std::uint32_t x = 2463534242u;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

void capture_error_stream() {
  set_error_stream_sink(append_errors);
}

std::string captured_errors() {
  const std::lock_guard lock(g_errorsMutex);
  return g_errors;
}

void clear_captured_errors() {
  const std::lock_guard lock(g_errorsMutex);
  g_errors.clear();
}

std::uint16_t free_loopback_port() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool wait_until_bound(std::uint16_t port) {
  char needle[16];
  std::snprintf(needle, sizeof needle, ":%04X ", port);
  for (int attempt = 0; attempt < 2000; ++attempt) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
      // "  sl  local_address rem_address": the local address is the second column.
      std::istringstream fields(line);
      std::string slot, local;
      fields >> slot >> local;
      if (local.size() > 5 && (local.substr(local.size() - 5) + " ") == needle) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

Peer::Peer() {
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

Peer::~Peer() {
  ::close(m_fd);
}

void Peer::send_to_port(std::uint16_t port, const Bytes& packet) {
  const sockaddr_in to = loopback(port);
  ::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

void Peer::send(const Bytes& packet) {
  send_to_port(m_transferPort, packet);
}

std::optional<Bytes> Peer::receive(int waitMs) {
  pollfd fd{m_fd, POLLIN, 0};
  if (::poll(&fd, 1, waitMs) != 1) return std::nullopt;
  Bytes buffer(4096);
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  m_transferPort = ntohs(from.sin_port);
  return buffer;
}

Bytes rrq(const std::string& name, const std::string& mode) {
  return request(1, name, mode);
}
Bytes wrq(const std::string& name, const std::string& mode) {
  return request(2, name, mode);
}

Bytes ack(int block) {
  return {0, 4, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
}

Bytes data(int block, const Bytes& payload) {
  Bytes packet = ack(block);
  packet[1] = 3;
  for (const auto byte : payload) packet.push_back(byte);
  return packet;
}

Bytes error_packet(int code, const std::string& message) {
  Bytes packet = ack(code);
  packet[1] = 5;
  for (const char c : message) packet.push_back(static_cast<std::uint8_t>(c));
  packet.push_back(0);
  return packet;
}

int opcode_of(const Bytes& packet) {
  return packet.size() < 2 ? -1 : (packet[0] << 8) | packet[1];
}
int block_of(const Bytes& packet) {
  return packet.size() < 4 ? -1 : (packet[2] << 8) | packet[3];
}
Bytes payload_of(const Bytes& packet) {
  return packet.size() < 4 ? Bytes{} : Bytes(packet.begin() + 4, packet.end());
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char pair[4];
  for (const auto b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x ", b);
    text += pair;
  }
  return text;
}

int run_program(const std::vector<std::string>& argv, int timeoutMs) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int failed = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return -1;
  int status = 0;
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

bool program_exists(const std::string& name) {
  return run_program({"sh", "-c", "command -v " + name + " >/dev/null"}) == 0;
}

void ServerFixture::SetUp() {
  m_dir.emplace();
  reset_flash_state_for_tests();
  clear_captured_errors();
  capture_error_stream();
  m_port = free_loopback_port();
  tftp_config() = TftpConfig{};
  tftp_config().requestPort = m_port;
  tftp_config().bindAddress_net = platform::inet_addr("127.0.0.1");
}

void ServerFixture::TearDown() {
  stop_server();
  set_error_stream_sink(nullptr);
  tftp_config() = TftpConfig{};
  m_dir.reset();
}

void ServerFixture::start_server() {
  m_thread.start([](const platform::StopToken& stop) { tftp_server(stop); });
  ASSERT_TRUE(wait_until_bound(m_port)) << "the server never bound port " << m_port;
}

// What the dialog's stop routine does once the thread has been joined.
void ServerFixture::stop_server() {
  m_thread.stop();
  disarm_recv_timer(kRecvTimerId);
  net_close();
  if (std::FILE* image = flash_state().imageFile.exchange(nullptr)) file_close(image);
}

ChildServer::ChildServer(std::uint16_t port) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return;
  std::fflush(nullptr);
  m_pid = ::fork();
  if (m_pid == 0) {
    ::dup2(pipeFds[1], STDERR_FILENO);
    ::close(pipeFds[0]);
    set_error_stream_sink(nullptr);
    tftp_config().requestPort = port;
    tftp_config().bindAddress_net = platform::inet_addr("127.0.0.1");
    const platform::StopSource never;
    tftp_server(never.token());
    std::fflush(nullptr);
    ::_exit(3);  // the run ended without sending an ERROR
  }
  ::close(pipeFds[1]);
  m_errorsFd = pipeFds[0];
}

ChildServer::~ChildServer() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  if (m_errorsFd >= 0) ::close(m_errorsFd);
}

ChildResult ChildServer::wait(int timeoutMs) {
  ChildResult result;
  int status = 0;
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      result.exited = WIFEXITED(status);
      result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(m_errorsFd, buffer, sizeof buffer)) > 0) {
        result.errors.append(buffer, static_cast<std::size_t>(n));
      }
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return result;
}

}  // namespace tftp_test
