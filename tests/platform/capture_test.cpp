// Running real commands with their output captured into a file: big listings arrive whole,
// the exit code and the failure to start are told apart, and the drain ends with the child
// even when a grandchild keeps the pipe open.
#include "platform/capture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class CapturedCommand : public testing::Test {
 protected:
  void SetUp() override {
    std::optional<fs::path> directory = platform::make_private_directory();
    ASSERT_TRUE(directory.has_value());
    m_directory = *directory;
    m_output = platform::create_new_file(capture_path());
    ASSERT_GE(m_output, 0);
  }
  void TearDown() override {
    platform::close_file(m_output);
    fs::remove_all(m_directory);
  }

  fs::path capture_path() const { return m_directory / "ipcfg"; }
  std::string captured() const {
    std::ifstream stream(capture_path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }
  fs::path write_script(const std::string& name, const std::string& body) const {
    fs::path path = m_directory / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  fs::path m_directory;
  int m_output = -1;
};

TEST_F(CapturedCommand, ListingLargerThanThePipeArrivesWhole) {
  platform::CaptureResult result = platform::run_capturing_output("seq 1 60000", m_output);
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.copy_error, 0);
  std::ostringstream expected;
  for (int i = 1; i <= 60000; ++i) expected << i << '\n';
  ASSERT_GT(expected.str().size(), 64u * 1024u);
  EXPECT_EQ(captured(), expected.str());
}

TEST_F(CapturedCommand, SilentCommandLeavesAnEmptyCapture) {
  platform::CaptureResult result = platform::run_capturing_output("true ", m_output);
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(captured(), "");
}

TEST_F(CapturedCommand, NonZeroExitIsReportedWithItsOutput) {
  fs::path script = write_script("fails", "echo partial\nexit 3\n");
  platform::CaptureResult result = platform::run_capturing_output(script.string(), m_output);
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(captured(), "partial\n");
}

TEST_F(CapturedCommand, ArgumentsAreSplitOnBlanksWithoutAShell) {
  platform::CaptureResult result =
      platform::run_capturing_output("  echo  one   $HOME;two ", m_output);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(captured(), "one $HOME;two\n");
}

TEST_F(CapturedCommand, ProgramThatCannotStartIsNotAnExitCode) {
  fs::path notExecutable = m_directory / "plain";
  std::ofstream(notExecutable) << "data";
  for (const std::string& commandLine :
       {std::string("kalvex-no-such-program"), (m_directory / "missing").string(),
        notExecutable.string(), std::string("   ")}) {
    SCOPED_TRACE(commandLine);
    platform::CaptureResult result = platform::run_capturing_output(commandLine, m_output);
    EXPECT_EQ(result.outcome, platform::CaptureOutcome::StartFailed);
  }
  EXPECT_EQ(captured(), "");
}

// A grandchild that inherits the pipe and lives on must not keep the capture waiting.
TEST_F(CapturedCommand, CopyEndsWhenTheChildHasEnded) {
  fs::path pidFile = m_directory / "grandchild.pid";
  fs::path script =
      write_script("detaches", "sleep 60 &\necho $! > " + pidFile.string() + "\necho listed\n");
  platform::CaptureResult result = platform::run_capturing_output(script.string(), m_output);
  pid_t grandchild = 0;
  std::ifstream(pidFile) >> grandchild;
  if (grandchild > 0) ::kill(grandchild, SIGKILL);
  EXPECT_EQ(result.outcome, platform::CaptureOutcome::Exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(captured(), "listed\n");
}

TEST(ProgramResolution, CompanionBesideTheExecutableComesBeforeThePath) {
  std::optional<fs::path> directory = platform::make_private_directory();
  ASSERT_TRUE(directory.has_value());
  fs::path companion = *directory / "sh";
  std::ofstream(companion) << "#!/bin/sh\n";
  fs::permissions(companion, fs::perms::owner_all);

  EXPECT_EQ(platform::resolve_program("sh", *directory), companion);
  std::optional<fs::path> fromPath = platform::resolve_program("sh", "/nonexistent");
  ASSERT_TRUE(fromPath.has_value());
  EXPECT_NE(*fromPath, companion);
  EXPECT_FALSE(platform::resolve_program("kalvex-no-such-program", *directory).has_value());
  fs::remove_all(*directory);
}

TEST(CaptureFile, LivesInAPrivateDirectoryAndRefusesAnExistingName) {
  std::optional<fs::path> directory = platform::make_private_directory();
  ASSERT_TRUE(directory.has_value());
  struct stat status {};
  ASSERT_EQ(::stat(directory->c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  // A link planted where the capture goes must not be followed.
  fs::path target = *directory / "target";
  fs::create_symlink(target, *directory / "ipcfg");
  EXPECT_LT(platform::create_new_file(*directory / "ipcfg"), 0);
  EXPECT_FALSE(fs::exists(target));

  std::optional<fs::path> second = platform::make_private_directory();
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*second, *directory);
  fs::remove_all(*directory);
  fs::remove_all(*second);
}

}  // namespace
