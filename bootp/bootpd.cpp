// Placeholder until the server loop lands: the thread only waits to be stopped.
#include "bootp/bootpd.h"

#include <poll.h>

BootpConfig& bootp_config() {
  static BootpConfig config;
  return config;
}

void bootpd(int, char**, const platform::StopToken& stop) {
  pollfd fd{stop.wait_fd(), POLLIN, 0};
  while (!stop.stop_requested()) ::poll(&fd, 1, -1);
}
