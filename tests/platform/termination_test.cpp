// A kill from outside ends the program through the one exit path, so what must be undone on
// the way out (the board's neighbour entry) is undone.
#include "platform/termination.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "platform/exit.h"

namespace {

TEST(TerminationRequestDeathTest, EndsThroughTheExitPathWithTheSignalsStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    EXPECT_EXIT(
        {
          platform::set_exit_hook([] { std::fputs("exit hook ran\n", stderr); });
          platform::on_termination_request(
              [](int number) { platform::exit_process(128 + number); });
          ::raise(signal);
          for (;;) ::pause();
        },
        testing::ExitedWithCode(128 + signal), "exit hook ran");
  }
}

}  // namespace
