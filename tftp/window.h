// The image going out, and the transfer's clock. Blocks leave in windows (one block,
// lock-step, unless the client asked for a window, RFC 7440), each is counted for the
// progress bar once the client has acknowledged it, and what stays unacknowledged is sent
// again after the time-out. The handlers in transfer decide what a datagram means; this
// file decides what goes out and when.
#pragma once

#include <chrono>

#include "tftp/session.h"

// Without the timeout option the first re-send comes after a second, the next ones after
// twice as long each, up to this.
inline constexpr std::chrono::milliseconds kFirstResend{1000};
inline constexpr std::chrono::milliseconds kLongestResend{8000};
inline constexpr int kMaxResends = 5;
// A board that has its last block may finish at once and its last ACK may be lost: this
// long without a word from it after the last block was sent counts as that ACK.
inline constexpr std::chrono::milliseconds kSilenceAfterLastBlock{10000};

// Sends the first window: after the request, or after the client's ACK 0 of the options.
int start_reading(TftpSession& session);
// The client acknowledged the block with this 16-bit number.
int on_read_ack(TftpSession& session, int number);
// Starts the re-send clock afresh: something new has just been sent in answer to the
// client's datagram.
void restart_resend_clock(TftpSession& session);
// Whatever is due once a deadline has passed: completion by silence, or a re-send of what
// the client has not acknowledged. Below 0 when that ends the transfer.
int on_transfer_deadline(TftpSession& session);
