// The main dialog's 300 ms tick as the user sees it, in the status line and the bar: the
// percentage, the first-data BOOTP stop, the restart after a receive time-out, and the
// closing countdown that ends the dialog.
#include <filesystem>

#include "tests/app/flasher_fixture.h"
#include "tests/support/eventually.h"

namespace {

class FlashTick : public kalvex::testing::FlasherTest {
 protected:
  // Serving an image of that size to the board, which gets 192.168.1.9.
  void serve(CFlasherDlg& dialog, std::uintmax_t imageBytes = 1'000'000) {
    kalvex::testing::write_file("flash.bin", "");
    std::filesystem::resize_file("flash.bin", imageBytes);  // sparse: nothing is written
    confirm(dialog, "192.168.1.10");
  }
  void tick(CFlasherDlg& dialog, std::int32_t bytesSent) {
    flash_state().bytesSent = bytesSent;
    dialog.OnTimer(kTickTimerId);
  }
};

TEST_F(FlashTick, ProgressShowsTheTruncatedPercentageOfTheImage) {
  struct Case {
    std::uintmax_t image;
    std::int32_t sent;
    const char* status;
    int bar;
  };
  const Case cases[] = {
      {1'000'000, 0, "Server is ready ...", 0},
      {1'000'000, 512, "Updating Image   0%.", 0},
      {1'000'000, 999'999, "Updating Image   99%.", 99},
      {1'000'000, 1'000'000, "Updating Image   100%.", 100},
      {1000, 1030, "Updating Image   103%.", 100},            // a netascii transfer grows the data
      {30'000'000, 25'000'000, "Updating Image   83%.", 83},  // beyond 32-bit arithmetic
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    reset_flash_state_for_tests();
    CFlasherDlg dialog;
    serve(dialog, c.image);
    tick(dialog, c.sent);
    EXPECT_EQ(status(dialog), c.status);
    EXPECT_EQ(bar(dialog), c.bar);
  }
}

TEST_F(FlashTick, CountdownRunsFromTheTickThatReaches100AndClosesAtTick310) {
  CFlasherDlg dialog;
  serve(dialog);
  std::vector<std::pair<int, std::string>> seen;  // after the tick with finishTick t
  for (int t = 0; t <= kTickClose; ++t) {
    tick(dialog, t == 0 ? 1'000'000 : 1'000'512);  // more data changes nothing now
    seen.emplace_back(bar(dialog), status(dialog));
  }
  const char* const kCompleted = "Transfer completed, please wait the board to reboot ...";
  const char* const kRebooting = "System on board is rebooting ...";
  const char* const kUp = "System on board is up, the program will exit ...";
  const std::tuple<int, int, const char*> expected[] = {
      {0, 100, "Updating Image   100%."},
      {3, 100, "Updating Image   100%."},
      {4, 0, kCompleted},
      {11, 0, kCompleted},
      {12, 0, kRebooting},
      {13, 1, kRebooting},
      {100, 30, kRebooting},
      {279, 89, kRebooting},
      {280, 90, kUp},
      {309, 99, kUp},
      {310, 100, kUp},
  };
  for (const auto& [t, barPosition, text] : expected) {
    SCOPED_TRACE(t);
    EXPECT_EQ(seen[std::size_t(t)], std::make_pair(barPosition, std::string(text)));
  }
  EXPECT_EQ(recorded_commands(), std::vector<std::string>{"arp -d 192.168.1.9"});
  EXPECT_FALSE(flash_state().tftpThread.running()) << "tick 310 went through the cancel";
  EXPECT_FALSE(dialog.is_running());
}

TEST_F(FlashTick, FirstDataStopsBootpAndATimeOutRestartsBothServersFromZero) {
  CFlasherDlg dialog;
  serve(dialog);
  tick(dialog, 0);
  EXPECT_TRUE(flash_state().bootpThread.running()) << "no data yet: BOOTP keeps serving";
  tick(dialog, 500'000);
  EXPECT_FALSE(flash_state().bootpThread.running());

  flash_state().imageFile = std::fopen("flash.bin", "rb");  // the stalled thread's stream
  flash_state().timedOut = true;
  flash_state().restartRequested = true;
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(flash_state().imageFile.load(), nullptr) << "closed on the stopped thread's behalf";
  EXPECT_EQ(status(dialog), "Preparing to retransmit data, please wait ...");
  EXPECT_EQ(bar(dialog), 0);
  EXPECT_EQ(flash_state().bytesSent, 0);
  kalvex::testing::eventually([&] { return tftpRuns == 2; }, "a second TFTP thread");
  // A board that gave up starts over from BOOTP: it is answered again until data flows.
  kalvex::testing::eventually([&] { return bootpRuns == 2; }, "a second BOOTP thread");
  EXPECT_TRUE(flash_state().bootpThread.running());
  tick(dialog, 0);
  EXPECT_EQ(status(dialog), "Preparing to retransmit data, please wait ...");
  tick(dialog, 600'000);
  EXPECT_EQ(status(dialog), "Updating Image   60%.");
  EXPECT_FALSE(flash_state().bootpThread.running());
}

TEST_F(FlashTick, EmptyImageNeverMovesTheBarOrEndsTheRun) {
  CFlasherDlg dialog;
  serve(dialog, 0);
  for (int t = 0; t < 400; ++t) tick(dialog, 0);
  EXPECT_EQ(status(dialog), "Server is ready ...");
  EXPECT_TRUE(flash_state().bootpThread.running());
  EXPECT_TRUE(recorded_commands().empty());
}

}  // namespace
