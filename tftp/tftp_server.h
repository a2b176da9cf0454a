// The TFTP server's face towards the main dialog: the thread body, the socket and image
// stream the dialog closes on the thread's behalf, and the receive time-out. The dialog
// stops the thread (signal + join) before it touches anything else declared here.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/stop.h"

struct TftpConfig {
  std::uint16_t requestPort = 69;
  // Network byte order. The wildcard address serves every adapter; tests bind loopback so
  // that nothing outside this machine can reach a test server.
  std::uint32_t bindAddress_net = 0;
};

// Test seam: the values the server uses; set before the thread starts.
TftpConfig& tftp_config();

// Body of the TFTP thread. Returns once the image has been served (or could not be read, when
// restartRequested is set), or when stop is requested; after an upload, or a client that
// declined the options, it waits for the next request. A refused request ends the program
// through fatal_box.
void tftp_server(const platform::StopToken& stop);

// The server's socket and the image stream it opened, closed on its behalf once the thread
// has been stopped.
void net_close();
void file_close(std::FILE* stream);

inline constexpr int kRecvTimerId = 69;
// How long a receive of the transfer waits for the client before a restart is asked for.
inline constexpr std::chrono::milliseconds kReceiveTimeout{20000};
void arm_recv_timer(int timerId);
void disarm_recv_timer(int timerId);
void on_recv_timer(int timerId);
// Called on the UI thread by the main dialog's watcher timer: fires on_recv_timer once when
// the armed deadline has passed.
void recv_timer_poll();
// True while a receive of the transfer is waiting under the time-out.
bool recv_timer_armed();
