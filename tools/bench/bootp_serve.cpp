// Benchmark driver: runs Kalvex's BOOTP server alone, with the PC's and the board's addresses
// that the main dialog would have stored, answering from the host table in a directory until
// it is killed. The product itself has no command-line options; this tool is not the product.
//
//   bootp_serve SERVER_ADDRESS BOARD_ADDRESS DIRECTORY
#include <cstdint>
#include <cstdio>

#include <unistd.h>

#include "bootp/bootpd.h"
#include "core/flash_state.h"
#include "platform/net.h"
#include "platform/stop.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SERVER_ADDRESS BOARD_ADDRESS DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::uint32_t server_net = platform::inet_addr(argv[1]);
  const std::uint32_t board_net = platform::inet_addr(argv[2]);
  if (server_net == platform::kInaddrNone || board_net == platform::kInaddrNone ||
      ::chdir(argv[3]) != 0) {
    std::fprintf(stderr, "bootp_serve: bad address or directory\n");
    return 2;
  }
  flash_state().serverAddress = server_net;
  flash_state().clientAddress = board_net;

  const platform::StopSource neverStopped;
  bootpd(1, argv, neverStopped.token());
  return 1;
}
