// Child processes on Windows, where no shell runs the commands of the capture and process
// tests: a listing bigger than the pipe arrives whole with its exit code, the words reach
// the program as written, a program that cannot start is told apart, a grandchild holding
// the pipe does not hold the capture up, and ordered commands run in turn without waiting.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/capture.h"
#include "platform/process.h"
#include "tests/support/eventually.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kalvex::testing::read_file;
using kalvex::testing::write_file;

// Found beside the test program, as the product finds its companion.
constexpr const char* kChild = "kalvex_test_child";

class WindowsCapture : public testing::Test {
 protected:
  std::string capture(const std::string& commandLine) {
    const fs::path path = "capture" + std::to_string(++m_captures);
    {
      std::optional<platform::CaptureFile> file = platform::CaptureFile::create_new(path);
      if (!file) {
        ADD_FAILURE() << "cannot create " << path;
        return {};
      }
      result = platform::run_capturing_output(commandLine, *file);
    }
    return read_file(path);
  }

  kalvex::testing::ScratchDir m_dir;
  int m_captures = 0;
  platform::CaptureResult result;
};

TEST_F(WindowsCapture, ListingLargerThanThePipeArrivesWholeWithItsExitCode) {
  std::ostringstream expected;
  for (int i = 1; i <= 30000; ++i) expected << i << '\n';
  ASSERT_GT(expected.str().size(), 64u * 1024u);
  EXPECT_EQ(capture(std::string(kChild) + " lines 30000 3"), expected.str());
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.copy_error, 0);
}

TEST_F(WindowsCapture, WordsReachTheProgramAsWritten) {
  EXPECT_EQ(capture(std::string("  ") + kChild + R"(  words  a"b  c\d  e\"f  g\\ $HOME;x )"),
            R"(a"b|c\d|e\"f|g\\|$HOME;x)"
            "\n");
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(WindowsCapture, ProgramThatCannotStartIsNotAnExitCode) {
  write_file("plain.exe", "data");
  for (const std::string commandLine :
       {"kalvex-no-such-program", ".\\missing.exe", ".\\plain.exe", "   "}) {
    SCOPED_TRACE(commandLine);
    EXPECT_EQ(capture(commandLine), "");
    EXPECT_EQ(result.outcome, platform::CaptureOutcome::StartFailed);
  }
}

TEST_F(WindowsCapture, CopyEndsWhenTheChildHasEndedThoughAGrandchildHoldsThePipe) {
  EXPECT_EQ(capture(std::string(kChild) + " detach"), "listed\n");
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  DWORD grandchild = 0;
  std::ifstream("grandchild") >> grandchild;
  if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, grandchild)) {
    ::TerminateProcess(process, 0);
    ::CloseHandle(process);
  }
}

TEST(WindowsCaptureFile, IsNewInAFreshDirectoryAndRefusesANameThatExists) {
  const std::optional<fs::path> first = platform::make_private_directory();
  const std::optional<fs::path> second = platform::make_private_directory();
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_TRUE(platform::CaptureFile::create_new(*first / "ipcfg").has_value());
  EXPECT_FALSE(platform::CaptureFile::create_new(*first / "ipcfg").has_value());
  fs::remove_all(*first);
  fs::remove_all(*second);
}

TEST(WindowsRunAndWait, ReportsTheExitCodeNothingStartedOrAKill) {
  EXPECT_EQ(platform::run_and_wait({kChild, "lines", "0", "7"}, 10s), 7);
  EXPECT_EQ(platform::run_and_wait({"kalvex-no-such-program"}, 10s), std::nullopt);
  EXPECT_EQ(platform::run_and_wait({kChild, "sleep", "60000"}, 50ms), std::nullopt);
}

// The first command waits for a gate the test opens only after both calls returned; the
// second copies what the first writes, so it fails if it does not wait its turn.
TEST(WindowsOrderedCommands, RunOneAfterAnotherWhileTheCallerGoesOn) {
  kalvex::testing::ScratchDir dir;
  // The shell looks for a bare name in the current directory and the PATH only.
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::string child = (fs::path(self).parent_path() / kChild).string() + ".exe";
  platform::spawn_in_order({child, "gated", "gate", "first", "entry"});
  platform::spawn_in_order({child, "copy", "first", "second"});
  write_file("gate", "");
  kalvex::testing::eventually([] { return read_file("second") == "entry"; }, "the second copy");
}

}  // namespace
