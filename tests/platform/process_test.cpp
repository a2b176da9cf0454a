// Running a client program to its end, as tests and tools do: its exit code, nothing of ours
// inherited, and a bound that kills one that runs on.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/fd_io.h"

namespace {

using namespace std::chrono_literals;

TEST(RunAndWait, ReportsTheExitCodeOrThatNothingStarted) {
  EXPECT_EQ(platform::run_and_wait({"sh", "-c", "exit 7"}, 10s), 7);
  EXPECT_EQ(platform::run_and_wait({"kalvex-no-such-program"}, 10s), std::nullopt);
}

TEST(RunAndWait, ChildInheritsNoDescriptorOfOurs) {
  const platform::UniqueFd ours(::open("/dev/null", O_RDONLY));  // not close-on-exec
  ASSERT_TRUE(ours.valid());
  const std::string probe = "[ ! -e /proc/self/fd/" + std::to_string(ours.get()) + " ]";
  EXPECT_EQ(platform::run_and_wait({"sh", "-c", probe}, 10s), 0);
}

TEST(RunAndWait, ProgramThatRunsPastTheBoundIsKilled) {
  EXPECT_EQ(platform::run_and_wait({"sleep", "60"}, 50ms), std::nullopt);
}

}  // namespace
