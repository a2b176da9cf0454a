// One read transfer per request; a request that stalls for good is replaced by a new one.
// Also the half-finished upload that some tests need before the board's own read.
#include "tools/sim_board/tftp_client.h"

#include <algorithm>
#include <charconv>
#include <thread>

#include "tools/sim_board/link.h"

namespace sim_board {

namespace {

enum class Step : std::uint8_t { Continue, Complete, Restart, Failed };

// What the server agreed to in its OACK; a server that answers with DATA 1 agreed to nothing.
struct Agreed {
  std::size_t block_size = kTftpBlockSize;
  std::uint32_t window = 1;
  std::optional<std::uint32_t> tsize;
};

// The state of one request: its socket, the server's transfer port once its first answer
// names it, and the packet to re-send when the server goes quiet.
struct Request {
  explicit Request(UdpPort udp) : port(std::move(udp)) {}
  UdpPort port;
  std::optional<std::uint16_t> server_tid;
  Agreed agreed;
  std::uint32_t next_block = 1;      // counted without wrapping
  std::uint32_t unacknowledged = 0;  // blocks taken since the last ACK
  bool reacknowledged = false;       // a block out of order has been answered already
  Bytes last_sent;
  std::uint16_t last_sent_port = 0;
  int unanswered = 0;
  bool silent = false;
  Clock::time_point deadline;
};

std::optional<std::uint32_t> number_in(const std::string& text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

std::vector<TftpOption> asked_options(const FetchOptions& options) {
  std::vector<TftpOption> asked;
  if (options.plain_request) return asked;
  const auto seconds = std::max<long long>(1, (options.timeout.count() + 999) / 1000);
  asked.push_back({"timeout", std::to_string(seconds)});
  if (options.blksize != 0) asked.push_back({"blksize", std::to_string(options.blksize)});
  if (options.ask_tsize) asked.push_back({"tsize", "0"});
  if (options.windowsize != 0) asked.push_back({"windowsize", std::to_string(options.windowsize)});
  return asked;
}

// An OACK may only lower what was asked (RFC 2347): an option never asked for, or a value
// above the one asked, is refused.
std::optional<Agreed> agreed_options(const TftpPacket& oack, const FetchOptions& options) {
  Agreed agreed;
  for (const TftpOption& option : oack.options) {
    const auto value = number_in(option.value);
    if (!value || options.plain_request) return {};
    if (option.name == "blksize" && *value >= 8 && *value <= options.blksize)
      agreed.block_size = *value;
    else if (option.name == "windowsize" && *value >= 1 && *value <= options.windowsize)
      agreed.window = *value;
    else if (option.name == "tsize" && options.ask_tsize)
      agreed.tsize = *value;
    else if (option.name != "timeout")
      return {};
  }
  return agreed;
}

class Fetch {
 public:
  Fetch(const FetchOptions& options, std::ostream& log) : m_options(options), m_log(log) {}

  FetchResult run() {
    const auto give_up = Clock::now() + m_options.give_up_after;
    while (Clock::now() < give_up) {
      const Step step = run_request(give_up);
      if (step == Step::Complete) {
        m_result.outcome = FetchResult::Outcome::Complete;
        return std::move(m_result);
      }
      if (step == Step::Failed) return std::move(m_result);
      if (m_result.restarts >= m_options.max_restarts) break;
      ++m_result.restarts;
      m_log << "tftp: starting the request again from a new port (restart " << m_result.restarts
            << ")" << std::endl;
    }
    m_log << "tftp: giving up" << std::endl;
    m_result.outcome = FetchResult::Outcome::GaveUp;
    return std::move(m_result);
  }

 private:
  Step run_request(Clock::time_point give_up) {
    std::string error;
    auto port = UdpPort::open(error);
    if (!port) {
      m_log << "tftp: " << error << std::endl;
      m_result.outcome = FetchResult::Outcome::SocketError;
      return Step::Failed;
    }
    Request request(std::move(*port));
    m_result.image.clear();
    const std::vector<TftpOption> asked = asked_options(m_options);
    m_log << "tftp: request " << m_options.file << " from "
          << platform::inet_ntoa(m_options.server_net) << " port " << m_options.server_port
          << " (own port " << request.port.port() << ")";
    for (const TftpOption& option : asked) m_log << " " << option.name << "=" << option.value;
    m_log << std::endl;
    send(request, build_request(TftpOp::Rrq, m_options.file, asked), m_options.server_port);
    while (Clock::now() < give_up) {
      const auto received = request.port.receive(std::min(request.deadline, give_up));
      const Step step = received ? on_datagram(request, *received) : on_timeout(request);
      if (step != Step::Continue) return step;
    }
    return Step::Restart;
  }

  void send(Request& request, Bytes packet, std::uint16_t to_port) {
    request.last_sent = std::move(packet);
    request.last_sent_port = to_port;
    request.unanswered = 0;
    transmit(request);
  }

  void transmit(Request& request) {
    request.port.send_to({m_options.server_net, request.last_sent_port}, request.last_sent);
    request.deadline = Clock::now() + m_options.timeout;
  }

  // The ACK of the last block taken in order: with windows it tells the server where to go on.
  void acknowledge(Request& request) {
    if (m_options.ack_delay.count() > 0) std::this_thread::sleep_for(m_options.ack_delay);
    request.unacknowledged = 0;
    send(request, build_ack(static_cast<std::uint16_t>(request.next_block - 1)),
         *request.server_tid);
  }

  Step on_timeout(Request& request) {
    if (request.unanswered >= m_options.resends) return Step::Restart;
    ++request.unanswered;
    request.deadline = Clock::now() + m_options.timeout;
    request.reacknowledged = false;
    if (request.silent) return Step::Continue;
    const auto block = static_cast<std::uint16_t>(request.next_block - 1);
    if (request.server_tid) request.last_sent = build_ack(block);
    m_log << "tftp: time-out, re-sending "
          << (request.server_tid ? "ACK " + std::to_string(block) : "the request") << std::endl;
    transmit(request);
    return Step::Continue;
  }

  Step on_datagram(Request& request, const Received& received) {
    if (request.silent || received.from.address_net != m_options.server_net) return Step::Continue;
    if (request.server_tid && received.from.port != *request.server_tid) return Step::Continue;
    const auto packet = parse_tftp(received.bytes);
    if (!packet) return Step::Continue;
    switch (packet->op) {
      case TftpOp::Error:
        return on_error(*packet);
      case TftpOp::Oack:
        return on_oack(request, *packet, received.from.port);
      case TftpOp::Data:
        return on_data(request, *packet, received.from.port);
      default:
        return Step::Continue;
    }
  }

  Step on_error(const TftpPacket& packet) {
    // U-Boot gives up at once on an ERROR ("Not retrying...").
    m_log << "tftp: error " << packet.number << " \"" << packet.message << "\"" << std::endl;
    m_result.outcome = FetchResult::Outcome::ServerError;
    m_result.error_code = packet.number;
    m_result.error_message = packet.message;
    return Step::Failed;
  }

  // Only as the server's first answer; a repeat is answered by the time-out's ACK 0.
  Step on_oack(Request& request, const TftpPacket& packet, std::uint16_t from_port) {
    if (request.server_tid) return Step::Continue;
    const auto agreed = agreed_options(packet, m_options);
    if (!agreed) {
      m_log << "tftp: OACK with options that were not asked for" << std::endl;
      m_result.outcome = FetchResult::Outcome::ServerError;
      return Step::Failed;
    }
    request.server_tid = from_port;
    request.agreed = *agreed;
    m_log << "tftp: options blksize=" << agreed->block_size << " windowsize=" << agreed->window
          << " tsize=" << (agreed->tsize ? std::to_string(*agreed->tsize) : "-") << std::endl;
    acknowledge(request);
    return Step::Continue;
  }

  Step on_data(Request& request, const TftpPacket& packet, std::uint16_t from_port) {
    if (packet.number != static_cast<std::uint16_t>(request.next_block))
      return on_out_of_order(request);
    const bool last = packet.data.size() < request.agreed.block_size;
    if (should_lose(request.next_block, last)) {
      m_log << "tftp: losing DATA " << request.next_block << " on purpose" << std::endl;
      return Step::Continue;
    }
    if (!request.server_tid) request.server_tid = from_port;
    const std::size_t length = std::min(packet.data.size(), request.agreed.block_size);
    m_result.image.insert(m_result.image.end(), packet.data.begin(),
                          packet.data.begin() + static_cast<std::ptrdiff_t>(length));
    const std::uint32_t block = request.next_block++;
    request.unanswered = 0;
    request.reacknowledged = false;
    request.deadline = Clock::now() + m_options.timeout;
    if (last) return finish(request, block);
    if (++request.unacknowledged >= request.agreed.window) acknowledge(request);
    if (m_options.silent_after && *m_options.silent_after == block && !m_silence_used) {
      m_silence_used = true;
      request.silent = true;
      m_log << "tftp: going silent after block " << block << " on purpose" << std::endl;
    }
    return Step::Continue;
  }

  // Written before the last ACK leaves, so that nobody can count the image as delivered
  // before this line is in the log.
  Step finish(Request& request, std::uint32_t block) {
    m_log << "tftp: received the last block: " << m_result.image.size() << " bytes in " << block
          << " blocks" << std::endl;
    if (m_options.skip_last_ack)
      m_log << "tftp: leaving the last block unacknowledged on purpose" << std::endl;
    else
      acknowledge(request);
    return Step::Complete;
  }

  // One answer per gap: further strays until the next progress or time-out would only
  // multiply the server's re-sends.
  Step on_out_of_order(Request& request) {
    if (!request.server_tid || request.reacknowledged) return Step::Continue;
    request.reacknowledged = true;
    acknowledge(request);
    return Step::Continue;
  }

  bool should_lose(std::uint32_t block, bool last) {
    if (m_options.lose_data == block && !m_loss_used) return m_loss_used = true;
    if (last && m_options.lose_last_data && !m_last_loss_used) return m_last_loss_used = true;
    return false;
  }

  const FetchOptions& m_options;
  std::ostream& m_log;
  FetchResult m_result;
  bool m_loss_used = false;
  bool m_last_loss_used = false;
  bool m_silence_used = false;
};

// Sends `packet` until the server acknowledges `block`, learning the server's transfer port
// from its first ACK; false on an ERROR or once the re-sends are spent.
bool acknowledged(UdpPort& port, const FetchOptions& options, std::optional<std::uint16_t>& tid,
                  const Bytes& packet, std::uint32_t block, std::ostream& log) {
  for (int attempt = 0; attempt <= options.resends; ++attempt) {
    port.send_to({options.server_net, tid.value_or(options.server_port)}, packet);
    const auto deadline = Clock::now() + options.timeout;
    while (const auto received = port.receive(deadline)) {
      const auto reply = parse_tftp(received->bytes);
      if (!reply || received->from.address_net != options.server_net) continue;
      if (reply->op == TftpOp::Error) {
        log << "tftp: write: error " << reply->number << " \"" << reply->message << "\""
            << std::endl;
        return false;
      }
      if (reply->op != TftpOp::Ack || reply->number != static_cast<std::uint16_t>(block)) continue;
      tid = received->from.port;
      return true;
    }
  }
  log << "tftp: write: no ACK for block " << block << std::endl;
  return false;
}

}  // namespace

FetchResult fetch_image(const FetchOptions& options, std::ostream& log) {
  return Fetch(options, log).run();
}

void write_and_abandon(const FetchOptions& options, std::uint32_t blocks, std::ostream& log) {
  std::string error;
  auto port = UdpPort::open(error);
  if (!port) {
    log << "tftp: " << error << std::endl;
    return;
  }
  std::optional<std::uint16_t> tid;
  const Bytes filler(kTftpBlockSize, 0x5A);
  Bytes packet = build_request(TftpOp::Wrq, options.file, {});
  for (std::uint32_t block = 0; block <= blocks; ++block) {
    if (block > 0) packet = build_data(static_cast<std::uint16_t>(block), filler);
    if (!acknowledged(*port, options, tid, packet, block, log)) return;
  }
  log << "tftp: wrote " << blocks << " blocks of " << options.file << " and stopped" << std::endl;
}

}  // namespace sim_board
