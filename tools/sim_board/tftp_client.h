// The board's TFTP read: lock-step ACKs, its last packet re-sent after each time-out, and the
// whole request started again from a new port after too many unanswered re-sends, the way
// boot loaders with network retry recover from a server that never re-sends. Losses can be
// injected so that every recovery path can be driven on purpose.
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
  bool request_options = true;
  std::chrono::milliseconds timeout{5000};
  int resends = 10;  // unanswered re-sends before the request starts again
  int max_restarts = 10;
  std::chrono::seconds give_up_after{600};
  std::chrono::microseconds ack_delay{0};  // a board that takes its time per block
  // Loss injection; blocks count from 1 across the whole transfer and each fires once.
  std::optional<std::uint32_t> lose_data;     // ignore the first arrival of this DATA block
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

}  // namespace sim_board
