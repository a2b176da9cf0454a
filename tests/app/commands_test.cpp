// exec_command as a real background child without a shell, the arp translation to the
// neighbour table, and fatal_box from the UI thread and from a server thread.
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/fatal_box_ui.h"
#include "core/commands.h"
#include "core/fatal_box.h"
#include "platform/interfaces.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/headless/headless_backend.h"

namespace {

using namespace std::chrono_literals;

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kalvex-commands-XXXXXX").string();
    path = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

// Polls until the condition holds or the limit passes, so that a fault fails the test
// instead of hanging it; the condition's last answer is the result.
bool holds_within(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

std::string first_line_of(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST(ExecCommand, StartsARealChildAndReturnsBeforeItEnds) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string fifo = (dir.path / "gate").string();
  const std::string copy = (dir.path / "copy").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // cp blocks opening the FIFO until we write into it: exec_command must not wait for it.
  exec_command("cp", (fifo + " " + copy).c_str());
  const int writer = ::open(fifo.c_str(), O_WRONLY);  // returns once the child has opened it
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "board", 5), 5);
  ::close(writer);
  EXPECT_TRUE(holds_within([&] { return first_line_of(copy) == "board"; }, 10s));
}

TEST(ExecCommand, ACommandStartsOnlyAfterTheOneBeforeHasEnded) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string gate = (dir.path / "gate").string();
  const std::string marker = (dir.path / "marker").string();
  ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
  exec_command("cp", (gate + " " + (dir.path / "copy").string()).c_str());  // blocks on gate
  exec_command("touch", marker.c_str());
  const int writer = ::open(gate.c_str(), O_WRONLY);  // the first command is running now
  ASSERT_GE(writer, 0);
  // Started at once, touch would have made the marker in a few milliseconds.
  const auto markerExists = [&] { return std::filesystem::exists(marker); };
  EXPECT_FALSE(holds_within(markerExists, 500ms));
  ASSERT_EQ(::write(writer, "entry", 5), 5);
  ::close(writer);
  EXPECT_TRUE(holds_within(markerExists, 10s));
}

TEST(ExecCommand, ChildrenAreReapedAndAMissingProgramIsNoError) {
  const auto pid = platform::spawn_detached({"true"});
  ASSERT_TRUE(pid.has_value());
  // A zombie still has a /proc entry; a reaped child has none.
  const std::string entry = "/proc/" + std::to_string(*pid);
  EXPECT_TRUE(holds_within([&] { return !std::filesystem::exists(entry); }, 10s));
  EXPECT_FALSE(platform::spawn_detached({"kalvex-no-such-program"}).has_value());
  exec_command("kalvex-no-such-program", "-d 1.2.3.4");  // reports nothing, returns
}

TEST(ExecCommand, ParametersAreSplitOnBlanksNeverThroughAShell) {
  EXPECT_EQ(command_line_for("echo", "  a;b   $(c) "),
            (std::vector<std::string>{"echo", "a;b", "$(c)"}));
}

TEST(ArpTranslation, BecomesNeighbourTableCommandsOnTheOwningInterface) {
  // 127.0.0.0/8 lives on the loopback interface, once that is up.
  if (platform::interface_for(platform::inet_addr("127.0.0.9")) != "lo")
    GTEST_SKIP() << "the loopback interface is down in this network namespace";
  EXPECT_EQ(command_line_for("arp", "-s 127.0.0.9 02-1A-2B-3C-4D-5E"),
            (std::vector<std::string>{"ip", "neigh", "replace", "127.0.0.9", "lladdr",
                                      "02:1a:2b:3c:4d:5e", "dev", "lo", "nud", "permanent"}));
  EXPECT_EQ(command_line_for("arp", "-d 127.0.0.9"),
            (std::vector<std::string>{"ip", "neigh", "del", "127.0.0.9", "dev", "lo"}));
}

TEST(ArpTranslation, NothingRunsForAnAddressOffEveryNetworkOrMalformedParameters) {
  for (const char* parameters :
       {"-d 203.0.113.77", "-d not-an-address", "-s 127.0.0.9", "-x 127.0.0.9", "", "-d"}) {
    SCOPED_TRACE(parameters);
    EXPECT_TRUE(command_line_for("arp", parameters).empty());
  }
}

TEST(FatalBoxDeathTest, FromTheUiThreadShowsTheBoxThenExitsWithCodeOne) {
  install_fatal_box_ui();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ui::HeadlessBackend backend;
        backend.echo_message_boxes_to_stderr(true);
        fatal_box("Please don't run this program from a read-only directory!\n");
      },
      testing::ExitedWithCode(1), "^\\[kalvex\\] Please don't run this program");
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
        while (!backend.run_posted_work(10s)) {
        }
        std::fprintf(stderr, "UI thread went on\n");
      },
      testing::ExitedWithCode(1), "^\\[kalvex\\] bind failed\n$");
}

TEST(FatalBox, StoppingTheWaitingThreadEndsItWithoutReturningToTheCaller) {
  install_fatal_box_ui();
  ui::HeadlessBackend backend;
  std::atomic<bool> callerWentOn{false};
  std::atomic<bool> bodyEnded{false};
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
  while (!ui::event_loop().has_posted_work()) std::this_thread::yield();
  server.stop();  // the UI thread never ran the box: the stop alone must end the wait
  EXPECT_TRUE(bodyEnded);
  EXPECT_FALSE(callerWentOn);
}

}  // namespace
