// Placeholder until the transfer engine lands: the thread only waits to be stopped.
#include "tftp/tftp_server.h"

#include <poll.h>

TftpConfig& tftp_config() {
  static TftpConfig config;
  return config;
}

void tftp_server(const platform::StopToken& stop) {
  pollfd fd{stop.wait_fd(), POLLIN, 0};
  while (!stop.stop_requested()) ::poll(&fd, 1, -1);
}

void net_close() {}
void file_close(std::FILE* stream) {
  if (stream != nullptr) std::fclose(stream);
}
void arm_recv_timer(int) {}
void disarm_recv_timer(int) {}
void on_recv_timer(int) {}
void recv_timer_poll() {}
