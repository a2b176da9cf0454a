// Benchmark and test driver: serves flash.bin from a directory with Kalvex's TFTP server on a
// loopback port, one transfer after another, until it is killed. The product itself has no
// command-line options; this tool is not the product.
//
//   tftp_serve PORT DIRECTORY
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "core/flash_state.h"
#include "platform/net.h"
#include "platform/stop.h"
#include "tftp/tftp_server.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT DIRECTORY\n", argv[0]);
    return 2;
  }
  const long port = std::strtol(argv[1], nullptr, 10);
  if (port <= 0 || port > 65535 || ::chdir(argv[2]) != 0) {
    std::fprintf(stderr, "tftp_serve: bad port or directory\n");
    return 2;
  }
  tftp_config().requestPort = static_cast<std::uint16_t>(port);
  tftp_config().bindAddress_net = platform::inet_addr("127.0.0.1");

  const platform::StopSource neverStopped;
  for (;;) {
    tftp_server(neverStopped.token());
    if (std::FILE* image = flash_state().imageFile.exchange(nullptr)) file_close(image);
    flash_state().bytesSent = 0;
  }
}
