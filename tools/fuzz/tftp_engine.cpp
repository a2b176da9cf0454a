// libFuzzer target for the TFTP engine: the input is the image size and a sequence of the
// client's datagrams, handed to the engine one by one from the state the last one left (a
// read or write request, options, netascii, ACKs, DATA, ERRORs, anything); a record may let
// the transfer's next deadline pass first. flash.bin and uploads live in a private directory,
// the clock is the target's own, and every datagram the server sends goes to a send hook that
// checks it: a DATA block must hold exactly the bytes of the image as the mode puts it on the
// wire (netascii: CR LF for LF, CR NUL for CR) for its number. The progress must stay below
// 100 % until the transfer is complete, and then count every byte sent. After an octet
// upload flash.bin holds either the image as it was or exactly the blocks the server took.
//
// Input: one byte giving the image size in units of kImageUnit bytes, then records of a
// 16-bit big-endian header and the datagram. The header's low 15 bits are the datagram's
// length (cut to what is left of the input); its top bit lets the next deadline pass first.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/wire.h"
#include "tftp/endpoint.h"
#include "tftp/file_access.h"
#include "tftp/session.h"
#include "tftp/tftp_server.h"
#include "tftp/transfer.h"
#include "tftp/window.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

constexpr std::size_t kImageUnit = 61;  // no multiple of a power of two: blocks end anywhere
constexpr std::uint16_t kDeadlineFirst = 0x8000;
const platform::Endpoint kClient{platform::inet_addr("127.0.0.1"), 1069};

// A clock that stands still until the target moves it, started afresh for every input.
class TargetClock final : public platform::TimeSource {
 public:
  platform::TimePoint now() const override { return m_now; }
  void reset() { m_now = platform::TimePoint(std::chrono::hours(1)); }
  void move_to(platform::TimePoint when) { m_now = std::max(m_now, when); }

 private:
  platform::TimePoint m_now;
};

struct Target {
  TargetClock clock;
  std::unique_ptr<TftpSession> session = std::make_unique<TftpSession>();
  std::string image;
  std::string octetWire;  // the image as octet and netascii transfers send it
  std::string netasciiWire;
  std::string uploaded;  // the data of every DATA block taken, in order
};

Target* g_target = nullptr;

const std::string& wire_image(const Target& t) {
  return t.session->xfermode == kNetascii ? t.netasciiWire : t.octetWire;
}

void check_data_block(std::span<const std::uint8_t> packet) {
  const TftpSession& session = *g_target->session;
  if (packet.size() > 4 + static_cast<std::size_t>(session.blksize))
    fuzz::fail("a DATA block larger than the block size");
  const std::size_t number = platform::wire::load_be16(packet.subspan<2, 2>());
  const std::size_t start = (number - 1) * static_cast<std::size_t>(session.blksize);
  const auto data = packet.subspan(4);
  const std::string& image = wire_image(*g_target);
  if (number == 0 || start > image.size() ||
      std::string_view(image).substr(start, data.size()) !=
          std::string_view(reinterpret_cast<const char*>(data.data()), data.size()) ||
      (data.size() < static_cast<std::size_t>(session.blksize) &&
       start + data.size() != image.size()))
    fuzz::fail("a DATA block that is not the image's block of that number");
}

long check_sent(std::span<const std::uint8_t> packet, platform::Endpoint to) {
  if (to != kClient) fuzz::fail("a datagram to someone other than the client");
  const auto opcode = platform::wire::Reader(packet).be16();
  if (!opcode || packet.size() < 4) fuzz::fail("a datagram shorter than its header");
  if (*opcode < 3 || *opcode > 6) fuzz::fail("a datagram with an opcode the server never sends");
  if (*opcode == static_cast<std::uint16_t>(TftpOpcode::Data)) check_data_block(packet);
  return static_cast<long>(packet.size());
}

Target& target() {
  static Target* made = [] {
    fuzz::enter_scratch_directory();
    fuzz::silence_diagnostics();
    fuzz::unwind_fatal_box();
    auto* fresh = new Target();
    platform::set_time_source(&fresh->clock);
    platform::set_send_hook_for_fuzzing(check_sent);
    return fresh;
  }();
  return *made;
}

// Bytes of every kind netascii treats apart: CR, LF, NUL, CR LF pairs and high bytes.
std::string image_of_size(std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i) image[i] = "ab\r\n\r\0\n\xff"[i * 7 % 8];
  return image;
}

std::string netascii_of(const std::string& image) {
  std::string wire;
  for (const char c : image) {
    if (c == '\n')
      wire += "\r\n";
    else if (c == '\r')
      wire += std::string("\r\0", 2);
    else
      wire += c;
  }
  return wire;
}

// What the progress bar shows: below the image's size until the board has the image's end.
void check_progress(const Target& t) {
  const std::int64_t sent = flash_state().bytesSent.load();
  const std::int64_t size = flash_state().imageSize.load();
  if (t.session->end == TransferEnd::Complete) {
    if (sent != static_cast<std::int64_t>(wire_image(t).size()))
      fuzz::fail("a complete transfer that did not count every byte sent");
  } else if (size > 0 && sent >= size) {
    fuzz::fail("the progress reached 100 % before the transfer was complete");
  }
}

void start_transfer(Target& t, std::uint8_t sizeUnits) {
  t.clock.reset();
  t.image = image_of_size(sizeUnits * kImageUnit);
  t.octetWire = t.image;
  t.netasciiWire = netascii_of(t.image);
  t.uploaded.clear();
  if (!fuzz::write_file(kImageFileName, t.image.data(), t.image.size()))
    fuzz::fail("flash.bin not written");
  // As the main dialog measures it before the thread starts: the progress is kept below it.
  flash_state().imageSize = static_cast<std::int32_t>(t.image.size());
  flash_state().bytesSent = 0;
  tftp_reset(*t.session);
  t.session->peeraddr = kClient;
  t.session->lastHeard = t.clock.now();
}

// Below 0 when the transfer has ended.
int let_deadline_pass(Target& t) {
  const auto deadline = next_deadline(*t.session);
  if (!deadline) return 0;
  t.clock.move_to(*deadline);
  return on_transfer_deadline(*t.session);
}

void run_records(Target& t, platform::wire::Reader& input) {
  while (const auto header = input.be16()) {
    const std::size_t length = std::min<std::size_t>(*header & ~kDeadlineFirst, input.remaining());
    const auto datagram = *input.bytes(length);
    if ((*header & kDeadlineFirst) != 0 && let_deadline_pass(t) < 0) return;
    t.session->lastHeard = t.clock.now();
    const int awaited = t.session->nextblknum;
    const int result = tftp_handle_datagram(*t.session, datagram);
    if (!t.session->reading && awaited > 0 && t.session->nextblknum == awaited + 1)
      t.uploaded.append(reinterpret_cast<const char*>(datagram.data()) + 4, datagram.size() - 4);
    if (result < 0) return;
    check_progress(t);
  }
}

// What the thread body and the dialog's stop routine leave behind them.
void end_transfer(Target& t) {
  disarm_recv_timer(kRecvTimerId);
  abort_upload(*t.session);
  if (std::FILE* image = flash_state().imageFile.exchange(nullptr)) file_close(*t.session, image);
  t.session->localfile = nullptr;
  net_close(*t.session);
}

void check_image_file(const Target& t) {
  if (t.session->reading || t.session->xfermode != kOctet) return;
  std::ifstream file(kImageFileName, std::ios::binary);
  const std::string contents{std::istreambuf_iterator<char>(file), {}};
  if (contents != t.image && contents != t.uploaded)
    fuzz::fail("flash.bin holds neither the image nor the blocks uploaded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Target& t = target();
  g_target = &t;
  platform::wire::Reader input(std::span<const std::uint8_t>(data, size));
  const auto sizeUnits = input.u8();
  if (!sizeUnits) return 0;
  start_transfer(t, *sizeUnits);
  try {
    run_records(t, input);
    check_progress(t);
  } catch (const fuzz::FatalBoxRaised&) {
    // The engine sent its ERROR and asked to end the program: the transfer is over.
  }
  end_transfer(t);
  check_image_file(t);
  return 0;
}
