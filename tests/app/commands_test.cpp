// exec_command as real background children without a shell, kept in call order, the arp
// translation to the neighbour table, and fatal_box asked for by a server thread (from the UI
// thread it is the missing image's death test).
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/fatal_box_ui.h"
#include "core/commands.h"
#include "core/fatal_box.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/headless/headless_backend.h"
#include "tests/support/diagnostics_capture.h"
#include "tests/support/eventually.h"
#include "tests/support/network_namespace.h"
#include "tests/support/scratch_dir.h"

namespace {

using kalvex::testing::eventually;
using kalvex::testing::read_file;

std::size_t run_shell_lines(const std::string& command) {
  const std::string output = kalvex::testing::run_shell(command).value_or("?");
  return static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n'));
}

// Writes into the FIFO once its reader, a command blocked on opening it, is running.
void open_gate(const char* fifo, const std::string& content) {
  const int writer = ::open(fifo, O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, content.data(), content.size()), ssize_t(content.size()));
  ::close(writer);
}

TEST(ExecCommand, RunsCommandsInTheBackgroundOneAfterAnotherInCallOrder) {
  kalvex::testing::ScratchDir dir;
  ASSERT_EQ(::mkfifo("gate", 0600), 0);
  // The first cp blocks on the FIFO, so exec_command returning proves it does not wait. The
  // second copies what the first writes: started any earlier, it finds no file and fails.
  exec_command("cp", "gate first");
  exec_command("cp", "first second");
  // Control children started outside the queue, one after another: once they have run, so
  // would have a second cp that did not wait its turn.
  for (const char* control : {"control1", "control2", "control3"}) {
    ASSERT_TRUE(platform::spawn_detached({"touch", control}));
    eventually([&] { return std::filesystem::exists(control); }, control);
  }
  open_gate("gate", "entry");
  eventually([] { return read_file("second") == "entry"; }, "the second copy");
}

TEST(ExecCommand, RunsTheWordsWithoutAShell) {
  EXPECT_EQ(command_line_for("echo", "  a;b   $(c) "),
            (std::vector<std::string>{"echo", "a;b", "$(c)"}));
}

// "arp" changes the neighbour table before exec_command returns: a reply sent next finds the
// board's entry. What is left at the end goes with the program.
TEST(ExecCommand, ArpChangesTheNeighbourTableBeforeItReturns) {
  kalvex::testing::ThreadNetworkNamespace network(kalvex::testing::kVethPair);
  if (!network.entered()) GTEST_SKIP() << network.why_not();
  kalvex::testing::DiagnosticsCapture diagnostics;
  using kalvex::testing::neighbour_entry;
  exec_command("arp", "-d 192.168.77.9");
  exec_command("arp", "-s 192.168.77.9 02-1A-2B-3C-4D-5E");
  EXPECT_EQ(neighbour_entry("192.168.77.9", "kvx0"),
            "192.168.77.9 lladdr 02:1a:2b:3c:4d:5e PERMANENT");
  exec_command("arp", "-d 192.168.77.9");
  EXPECT_EQ(neighbour_entry("192.168.77.9", "kvx0"), "");
  exec_command("arp", "-s 192.168.77.8 02-1A-2B-3C-4D-5F");
  remove_neighbour_entries_made();
  EXPECT_EQ(neighbour_entry("192.168.77.8", "kvx0"), "");
  // Refused: an address on no network of ours, a malformed hardware address, no address.
  for (const char* refused : {"-s 203.0.113.7 02-1A-2B-3C-4D-5E", "-s 192.168.77.7 02-1A-2", "-s"})
    exec_command("arp", refused);
  EXPECT_EQ(diagnostics.all().size(), 3u);
  EXPECT_EQ(run_shell_lines("ip neigh show nud permanent"), 0u);
}

TEST(FatalBoxDeathTest, FromAServerThreadTheUiThreadShowsItAndTheCallerNeverGoesOn) {
  install_fatal_box_ui();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ui::HeadlessBackend backend;
        backend.echo_message_boxes_to_stderr(true);
        platform::ServerThread server;
        server.start([](const platform::StopToken& stop) {
          FatalBoxStopScope scope(stop);
          fatal_box("bind failed");
          std::fprintf(stderr, "caller went on\n");
        });
        backend.run_posted_work(std::chrono::seconds(10));
        std::fprintf(stderr, "UI thread went on\n");
      },
      testing::ExitedWithCode(1), "^\\[kalvex\\] bind failed\n$");
}

TEST(FatalBox, StoppingTheWaitingThreadEndsItWithoutReturningToTheCaller) {
  install_fatal_box_ui();
  ui::HeadlessBackend backend;
  std::atomic<bool> callerWentOn{false}, bodyEnded{false};
  platform::ServerThread server;
  server.start([&](const platform::StopToken& stop) {
    FatalBoxStopScope scope(stop);
    try {
      fatal_box("never shown");
      callerWentOn = true;
    } catch (const ServerThreadStopped&) {
      bodyEnded = true;
    }
  });
  eventually([] { return ui::event_loop().has_posted_work(); }, "the box to be asked for");
  server.stop();  // the UI thread never ran the box: the stop alone must end the wait
  EXPECT_TRUE(bodyEnded);
  EXPECT_FALSE(callerWentOn);
}

}  // namespace
