// Running a client program to its end, as tests and tools do: its exit code, its output
// where it is told, nothing of ours inherited, and a bound that kills one that runs on.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/fd_io.h"
#include "tests/support/scratch_dir.h"

namespace {

using namespace std::chrono_literals;

TEST(RunAndWait, ReportsTheExitCodeAndWritesWhereItIsTold) {
  kalvex::testing::ScratchDir dir;
  const platform::UniqueFd output(::open("output", O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(output.valid());
  EXPECT_EQ(platform::run_and_wait({"sh", "-c", "echo listed; exit 7"}, 10s, {output.get()}), 7);
  EXPECT_EQ(kalvex::testing::read_file("output"), "listed\n");
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
