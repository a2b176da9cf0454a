// Benchmark and test driver: serves flash.bin from a directory with Kalvex's TFTP server on a
// port of this machine, one transfer after another, until it is killed. It plays the main
// dialog's part in a restart: when the receive time-out fires, the server thread is replaced
// and waits for a new request. The product itself has no command-line options; this tool is
// not the product.
//
//   tftp_serve PORT DIRECTORY [ADDRESS]     (ADDRESS defaults to 127.0.0.1)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

#include "core/flash_state.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "tftp/tftp_server.h"

namespace {

void serve_one_after_another(const platform::StopToken& stop) {
  while (!stop.stop_requested()) {
    tftp_server(stop);
    if (std::FILE* image = flash_state().imageFile.exchange(nullptr)) file_close(image);
    flash_state().bytesSent = 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s PORT DIRECTORY [ADDRESS]\n", argv[0]);
    return 2;
  }
  const long port = std::strtol(argv[1], nullptr, 10);
  const std::uint32_t address = platform::inet_addr(argc == 4 ? argv[3] : "127.0.0.1");
  if (port <= 0 || port > 65535 || address == platform::kInaddrNone || ::chdir(argv[2]) != 0) {
    std::fprintf(stderr, "tftp_serve: bad port, directory or address\n");
    return 2;
  }
  tftp_config().requestPort = static_cast<std::uint16_t>(port);
  tftp_config().bindAddress_net = address;

  platform::ServerThread server;
  server.start(serve_one_after_another);
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    recv_timer_poll();
    if (!flash_state().restartRequested.exchange(false)) continue;
    server.stop();
    net_close();
    if (std::FILE* image = flash_state().imageFile.exchange(nullptr)) file_close(image);
    std::fprintf(stderr, "tftp_serve: receive time-out, waiting for a new request\n");
    server.start(serve_one_after_another);
  }
}
