// What the TFTP tests share: a scratch working directory, a captured error stream, a server
// run on its own thread against loopback, a crafted-packet peer with bounded waits, and
// real child processes for the clients and for the runs that end the process.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/thread.h"

namespace tftp_test {

using Bytes = std::vector<std::uint8_t>;

// A mkdtemp directory that is the working directory for the object's lifetime.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  std::string m_previous;
};

void write_file(const std::string& name, const Bytes& content, unsigned mode = 0644);
Bytes read_file(const std::string& name);
Bytes pattern_bytes(std::size_t size);

// Everything the server wrote to its error stream since the last clear.
void capture_error_stream();
std::string captured_errors();
void clear_captured_errors();

std::uint16_t free_loopback_port();
// Waits (bounded) until something has bound the UDP port on this machine.
bool wait_until_bound(std::uint16_t port);

// The crafted-packet client on 127.0.0.1.
class Peer {
 public:
  Peer();
  ~Peer();
  void send_to_port(std::uint16_t port, const Bytes& packet);
  // Sends to the port the last reply came from (the transfer's port).
  void send(const Bytes& packet);
  // The next datagram, or nothing within the wait.
  std::optional<Bytes> receive(int waitMs = 5000);
  std::uint16_t transfer_port() const { return m_transferPort; }

 private:
  int m_fd = -1;
  std::uint16_t m_transferPort = 0;
};

Bytes rrq(const std::string& name, const std::string& mode);
Bytes wrq(const std::string& name, const std::string& mode);
Bytes ack(int block);
Bytes data(int block, const Bytes& payload);
Bytes error_packet(int code, const std::string& message);
int opcode_of(const Bytes& packet);
int block_of(const Bytes& packet);
Bytes payload_of(const Bytes& packet);
std::string hex(const Bytes& bytes);

// Runs a program with its arguments, waits at most timeoutMs, returns its exit status (-1
// if it failed to start, was killed or ran too long).
int run_program(const std::vector<std::string>& argv, int timeoutMs = 120000);
bool program_exists(const std::string& name);

// A test whose server runs on a ServerThread in this process, bound to loopback.
class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void start_server();
  void stop_server();
  std::uint16_t port() const { return m_port; }

  std::optional<ScratchDir> m_dir;
  platform::ServerThread m_thread;
  std::uint16_t m_port = 0;
};

// Runs one server run in a forked child whose stderr is kept; for the runs that end the
// process.
struct ChildResult {
  bool exited = false;
  int exitCode = -1;
  std::string errors;
};
class ChildServer {
 public:
  explicit ChildServer(std::uint16_t port);
  ~ChildServer();
  ChildResult wait(int timeoutMs = 10000);

 private:
  int m_pid = -1;
  int m_errorsFd = -1;
};

}  // namespace tftp_test
