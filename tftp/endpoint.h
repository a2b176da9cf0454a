// The TFTP server's network layer and diagnostics: one UDP socket at a time (the request
// socket, then a fresh transfer socket whose port identifies the transfer), the client's
// address taken from its request, the log function and the trace vocabulary. The receive
// time-out lives in recv_timer, the protocol in transfer.
#pragma once

#include <cstdint>
#include <span>

#include "tftp/session.h"

// The trace switch. Fixed off, and constexpr so that trace lines compile to nothing: no
// formatting and no look-ups on the per-block path.
inline constexpr bool traceon = false;

// Both arguments are ignored: the port comes from tftp_config().
void net_init(TftpSession& session, const char* service, int port);
// Waits without time-out for the request, records the client and moves to a fresh socket.
// Always 0.
int net_open(TftpSession& session, int ignored);
void net_close(TftpSession& session);
void net_send(TftpSession& session, std::span<const std::uint8_t> packet);
// Length of the datagram received into the buffer, or below 0 on failure or stop.
int net_recv(TftpSession& session, std::span<std::uint8_t> buffer);

// Reports the formatted text as the TFTP server's diagnostic, without adding a newline.
// Always 0.
int tftp_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One trace line, with its newline. Call only under `if constexpr (traceon)`.
void trace_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Sends the error stream to the trace log file (the thread body does this when tracing is on).
void open_trace_log();
