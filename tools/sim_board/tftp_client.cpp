// One read transfer per request; a request that stalls for good is replaced by a new one.
#include "tools/sim_board/tftp_client.h"

#include <thread>

#include "tools/sim_board/link.h"

namespace sim_board {

namespace {

enum class Step : std::uint8_t { Continue, Complete, Restart, Failed };

// The state of one request: its socket, the server's transfer port once DATA 1 names it,
// and the packet to re-send when the server goes quiet.
struct Request {
  explicit Request(UdpPort udp) : port(std::move(udp)) {}
  UdpPort port;
  std::optional<std::uint16_t> server_tid;
  std::uint32_t next_block = 1;  // counted without wrapping
  Bytes last_sent;
  std::uint16_t last_sent_port = 0;
  int unanswered = 0;
  bool silent = false;
  Clock::time_point deadline;
};

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
    m_log << "tftp: request " << m_options.file << " from "
          << platform::inet_ntoa(m_options.server_net) << " port " << m_options.server_port
          << " (own port " << request.port.port() << ")" << std::endl;
    send(request, build_read_request(m_options.file, m_options.request_options),
         m_options.server_port);
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

  Step on_timeout(Request& request) {
    if (request.unanswered >= m_options.resends) return Step::Restart;
    ++request.unanswered;
    request.deadline = Clock::now() + m_options.timeout;
    if (request.silent) return Step::Continue;
    m_log << "tftp: time-out, re-sending " << (request.server_tid ? "ACK " : "the request ")
          << (request.server_tid ? std::to_string(request.next_block - 1) : std::string())
          << std::endl;
    transmit(request);
    return Step::Continue;
  }

  Step on_datagram(Request& request, const Received& received) {
    if (request.silent || received.from.address_net != m_options.server_net) return Step::Continue;
    if (request.server_tid && received.from.port != *request.server_tid) return Step::Continue;
    const auto packet = parse_tftp(received.bytes);
    if (!packet) return Step::Continue;
    if (packet->op == TftpOp::Error) return on_error(*packet);
    if (packet->op != TftpOp::Data) return Step::Continue;
    return on_data(request, *packet, received.from.port);
  }

  Step on_error(const TftpPacket& packet) {
    // U-Boot gives up at once on an ERROR ("Not retrying...").
    m_log << "tftp: error " << packet.number << " \"" << packet.message << "\"" << std::endl;
    m_result.outcome = FetchResult::Outcome::ServerError;
    m_result.error_code = packet.number;
    m_result.error_message = packet.message;
    return Step::Failed;
  }

  Step on_data(Request& request, const TftpPacket& packet, std::uint16_t from_port) {
    const auto expected = static_cast<std::uint16_t>(request.next_block);
    if (packet.number != expected) {
      if (packet.number == static_cast<std::uint16_t>(expected - 1)) transmit(request);
      return Step::Continue;
    }
    if (should_lose(request.next_block)) {
      m_log << "tftp: losing DATA " << request.next_block << " on purpose" << std::endl;
      return Step::Continue;
    }
    if (!request.server_tid) request.server_tid = from_port;
    const std::size_t length = std::min(packet.data.size(), kTftpBlockSize);
    m_result.image.insert(m_result.image.end(), packet.data.begin(),
                          packet.data.begin() + static_cast<std::ptrdiff_t>(length));
    const std::uint32_t block = request.next_block++;
    if (m_options.ack_delay.count() > 0) std::this_thread::sleep_for(m_options.ack_delay);
    send(request, build_ack(expected), *request.server_tid);
    if (length < kTftpBlockSize) {
      m_log << "tftp: received " << m_result.image.size() << " bytes in " << block << " blocks"
            << std::endl;
      return Step::Complete;
    }
    if (m_options.silent_after && *m_options.silent_after == block && !m_silence_used) {
      m_silence_used = true;
      request.silent = true;
      m_log << "tftp: going silent after block " << block << " on purpose" << std::endl;
    }
    return Step::Continue;
  }

  bool should_lose(std::uint32_t block) {
    if (!m_options.lose_data || *m_options.lose_data != block || m_loss_used) return false;
    m_loss_used = true;
    return true;
  }

  const FetchOptions& m_options;
  std::ostream& m_log;
  FetchResult m_result;
  bool m_loss_used = false;
  bool m_silence_used = false;
};

}  // namespace

FetchResult fetch_image(const FetchOptions& options, std::ostream& log) {
  return Fetch(options, log).run();
}

}  // namespace sim_board
