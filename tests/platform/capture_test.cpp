// Running real commands with their output captured into a file: big listings arrive whole,
// an exit code, a program that cannot start and a pipe that cannot be made are told apart,
// and the drain ends with the child even when a grandchild keeps the pipe open.
#include "platform/capture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/fd_io.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using kalvex::testing::read_file;
using kalvex::testing::write_file;

class CapturedCommand : public testing::Test {
 protected:
  // Runs the command line into a fresh capture file; what it captured.
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
  static std::string script(const std::string& name, const std::string& body) {
    write_file(name, "#!/bin/sh\n" + body, fs::perms::owner_all);
    return (fs::current_path() / name).string();
  }

  kalvex::testing::ScratchDir m_dir;
  int m_captures = 0;
  platform::CaptureResult result;
};

TEST_F(CapturedCommand, ListingLargerThanThePipeArrivesWhole) {
  std::ostringstream expected;
  for (int i = 1; i <= 60000; ++i) expected << i << '\n';
  ASSERT_GT(expected.str().size(), 64u * 1024u);
  EXPECT_EQ(capture("seq 1 60000"), expected.str());
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.copy_error, 0);
}

TEST_F(CapturedCommand, ExitCodeComesWithTheOutputOfAWordSplitCommandLine) {
  const struct {
    std::string commandLine, output;
    int exitCode;
  } cases[] = {
      {"true ", "", 0},
      {"  echo  one   $HOME;two ", "one $HOME;two\n", 0},  // words, never a shell
      {script("fails", "echo partial\nexit 3\n"), "partial\n", 3},
  };
  for (const auto& expected : cases) {
    SCOPED_TRACE(expected.commandLine);
    EXPECT_EQ(capture(expected.commandLine), expected.output);
    EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
    EXPECT_EQ(result.exit_code, expected.exitCode);
  }
}

TEST_F(CapturedCommand, ProgramThatCannotStartIsNotAnExitCode) {
  write_file("plain", "data");
  for (const std::string commandLine : {"kalvex-no-such-program", "./missing", "./plain", "   "}) {
    SCOPED_TRACE(commandLine);
    EXPECT_EQ(capture(commandLine), "");
    EXPECT_EQ(result.outcome, platform::CaptureOutcome::StartFailed);
  }
}

// Nothing but locals while the limit holds: the sanitizers' own checks need descriptors too.
TEST(CaptureFailure, PipeThatCannotBeMadeIsNotAStartFailure) {
  kalvex::testing::ScratchDir dir;
  std::optional<platform::CaptureFile> file = platform::CaptureFile::create_new("capture");
  ASSERT_TRUE(file.has_value());
  // With every descriptor number below the limit taken, no pipe can be made.
  const int lowestFree = platform::UniqueFd(::open("/dev/null", O_RDONLY)).get();
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  const platform::CaptureResult result = platform::run_capturing_output("true", *file);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::PipeFailed);
}

// A grandchild that inherits the pipe and lives on must not keep the capture waiting.
TEST_F(CapturedCommand, CopyEndsWhenTheChildHasEnded) {
  EXPECT_EQ(capture(script("detaches", "sleep 60 &\necho $! > grandchild\necho listed\n")),
            "listed\n");
  pid_t grandchild = 0;
  std::ifstream("grandchild") >> grandchild;
  if (grandchild > 0) ::kill(grandchild, SIGKILL);
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 0);
}

TEST(ProgramResolution, CompanionBesideOrInLibexecComesBeforeThePath) {
  kalvex::testing::ScratchDir dir;
  write_file("sh", "#!/bin/sh\n", fs::perms::owner_all);
  EXPECT_EQ(platform::resolve_program("sh", dir.path()), dir.path() / "sh");
  const auto fromPath = platform::resolve_program("sh", "/nonexistent");
  ASSERT_TRUE(fromPath.has_value());
  EXPECT_NE(*fromPath, dir.path() / "sh");
  EXPECT_FALSE(platform::resolve_program("kalvex-no-such-program", dir.path()).has_value());

  fs::create_directories("bin");
  fs::create_directories("libexec/kalvex");
  write_file("libexec/kalvex/sh", "#!/bin/sh\n", fs::perms::owner_all);
  const auto installed = platform::resolve_program("sh", dir.path() / "bin");
  ASSERT_TRUE(installed.has_value());
  EXPECT_EQ(installed->lexically_normal(), dir.path() / "libexec/kalvex/sh");
}

TEST(CaptureFile, LivesInAPrivateDirectoryAndRefusesAPlantedLink) {
  const std::optional<fs::path> directory = platform::make_private_directory();
  ASSERT_TRUE(directory.has_value());
  struct stat status {};
  ASSERT_EQ(::stat(directory->c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  const fs::path target = *directory / "target";
  fs::create_symlink(target, *directory / "ipcfg");
  EXPECT_FALSE(platform::CaptureFile::create_new(*directory / "ipcfg").has_value());
  EXPECT_FALSE(fs::exists(target));
  fs::remove_all(*directory);
}

}  // namespace
