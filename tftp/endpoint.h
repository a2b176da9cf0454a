// The TFTP server's network layer and diagnostics: one UDP socket at a time (the request
// socket, then a fresh transfer socket whose port identifies the transfer), the client's
// address and port taken from its request, the gate that lets through only the confirmed
// adapter's datagrams and only the client's, the log function and the trace vocabulary. The
// receive time-out lives in recv_timer, the protocol in transfer.
#pragma once

#include <cstdint>
#include <span>

#include "platform/net.h"
#include "tftp/session.h"

// The trace switch. Fixed off, and constexpr so that trace lines compile to nothing: no
// formatting and no look-ups on the per-block path.
inline constexpr bool traceon = false;

// net_recv's answer when a deadline of the transfer has passed before any datagram.
inline constexpr int kDeadlinePassed = -2;

// Both arguments are ignored: the port comes from tftp_config(). A request port that cannot
// be bound ends the program with a fatal box.
void net_init(TftpSession& session, const char* service, int port);
// Waits without time-out for a well-formed read or write request on the confirmed adapter,
// records the client and moves to a fresh socket. 0, or -1 when the thread is stopped.
int net_open(TftpSession& session, int ignored);
void net_close(TftpSession& session);
void net_send(TftpSession& session, std::span<const std::uint8_t> packet);
// The length of the client's next datagram in the buffer; kDeadlinePassed when a deadline
// of the transfer came first; below 0 on failure or stop. Datagrams from elsewhere are dealt
// with here and never handed out.
int net_recv(TftpSession& session, std::span<std::uint8_t> buffer);

// The receive time-out armed from the given moment: the client's datagram just handled, so
// that the per-block path reads the clock once.
void arm_recv_timer_from(platform::TimePoint start);

// Reports the formatted text as the TFTP server's diagnostic, without adding a newline.
// Always 0.
int tftp_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One trace line, with its newline. Call only under `if constexpr (traceon)`.
void trace_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Sends the error stream to the trace log file (the thread body does this when tracing is on).
void open_trace_log();
