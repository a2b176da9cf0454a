// The TFTP server's network layer and diagnostics: one UDP socket at a time (the request
// socket, then a fresh transfer socket whose port identifies the transfer), the client's
// address taken from its request, the log function and the trace vocabulary. The receive
// time-out and the protocol itself live in recv_timer and transfer.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/stop.h"

inline constexpr int kMaxDatagram = 2048;

// The trace switch. Fixed off, and constexpr so that trace lines compile to nothing: no
// formatting and no look-ups on the per-block path.
inline constexpr bool traceon = false;

// Both arguments are ignored: the port comes from tftp_config().
void net_init(const char* service, int port);
// Waits without time-out for the request, records the client and moves to a fresh socket.
// Always 0.
int net_open(int ignored);
void net_send(const std::uint8_t* buffer, int length);
// Length of the datagram received, or below 0 on failure or stop.
int net_recv(std::uint8_t* buffer, int maxLength);

// The stop token that every blocking receive also waits on; tftp_server installs its own.
void net_set_stop_token(const platform::StopToken& stop);
bool net_stop_requested();
// The port the current socket is bound to, 0 when there is none.
std::uint16_t net_local_port();

// Writes the formatted message to the error stream, without adding a newline. Always 0.
int tftp_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats straight onto the error stream, bypassing the log function: the two length
// complaints of the transfer use it.
void tftp_error_stream(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where the error stream leads; stderr unless a test installs a sink. Install before the
// TFTP thread starts; nullptr restores stderr.
using ErrorStreamSink = void (*)(std::string_view text);
void set_error_stream_sink(ErrorStreamSink sink);

// One trace line: written to stderr with a newline and flushed. Call only under
// `if constexpr (traceon)`.
void trace_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Sends stderr to the trace log file (the thread body does this when tracing is on).
void open_trace_log();
