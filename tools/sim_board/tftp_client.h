// The board's TFTP read: the options a boot loader asks for (RFC 2347), an ACK for every
// window of blocks (RFC 7440; a window of one is lock-step), its last ACK re-sent after each
// time-out, and the whole request started again from a new port after too many unanswered
// re-sends. Losses can be injected so that every recovery path can be driven on purpose.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "tools/sim_board/packets.h"

namespace sim_board {

struct FetchOptions {
  std::uint32_t server_net = 0;
  std::uint16_t server_port = 69;
  std::string file = "flash.bin";
  // What the request asks for; 0 leaves an option out. U-Boot always asks "timeout" (its own
  // time-out in seconds) and "blksize 1468"; a server that ignores them answers with 512-byte
  // DATA 1 and the board follows.
  bool plain_request = false;
  std::uint16_t blksize = 1468;
  std::uint16_t windowsize = 0;
  bool ask_tsize = false;
  std::chrono::milliseconds timeout{5000};
  int resends = 10;  // unanswered re-sends before the request starts again
  int max_restarts = 10;
  std::chrono::seconds give_up_after{600};
  std::chrono::microseconds ack_delay{0};  // a board that takes its time per ACK
  // Loss injection; blocks count from 1 across the whole transfer and each fires once.
  std::optional<std::uint32_t> lose_data;     // ignore the first arrival of this DATA block
  bool lose_last_data = false;                // ignore the first arrival of the last block
  bool skip_last_ack = false;                 // finish without acknowledging the last block
  std::optional<std::uint32_t> silent_after;  // after ACKing this block, send nothing more
};

struct FetchResult {
  enum class Outcome : std::uint8_t { Complete, ServerError, GaveUp, SocketError };
  Outcome outcome = Outcome::GaveUp;
  Bytes image;
  int restarts = 0;
  std::uint16_t error_code = 0;
  std::string error_message;
};

FetchResult fetch_image(const FetchOptions& options, std::ostream& log);

// A write request for the boot file and `blocks` DATA blocks of filler, each after the ACK of
// the one before, and then nothing: a client that dies halfway through an upload.
void write_and_abandon(const FetchOptions& options, std::uint32_t blocks, std::ostream& log);

}  // namespace sim_board
