// The main dialog's 300 ms tick: progress, the first-data BOOTP stop, the restart after a
// receive time-out, the 100 % gate and the closing countdown.
#include <cstdio>

#include "tests/app/flasher_fixture.h"

namespace {

using kalvex_test::FlasherTest;

class FlashTick : public FlasherTest {
 protected:
  // A dialog serving a 1,000,000-byte image to the board at 192.168.1.9.
  void serve(CFlasherDlg& dialog, std::size_t imageBytes = 1'000'000) {
    write_file("flash.bin", std::string(imageBytes, 'x'));
    confirm(dialog, "192.168.1.10");
    ASSERT_EQ(flash_state().imageSize, static_cast<std::int32_t>(imageBytes));
  }
};

TEST_F(FlashTick, PercentageIsTruncatedAndReachingHundredStartsTheCountdownOnTheSameTick) {
  CFlasherDlg dialog;
  serve(dialog);
  struct Case {
    std::int32_t sent;
    const char* status;
    int bar;
  };
  for (const Case& c :
       {Case{512, "Updating Image   0%.", 0}, Case{999'999, "Updating Image   99%.", 99},
        Case{1'000'000, "Updating Image   100%.", 100}}) {
    SCOPED_TRACE(c.sent);
    flash_state().bytesSent = c.sent;
    dialog.OnTimer(kTickTimerId);
    EXPECT_EQ(status(dialog), c.status);
    EXPECT_EQ(bar(dialog), c.bar);
  }
  EXPECT_TRUE(flash_state().finishing);
  EXPECT_EQ(flash_state().finishTick, 1);
}

TEST_F(FlashTick, LargeImagePercentageDoesNotOverflow) {
  CFlasherDlg dialog;
  write_file("flash.bin", "");
  std::filesystem::resize_file("flash.bin", 30'000'000);  // sparse: no 30 MB written
  confirm(dialog, "192.168.1.10");
  flash_state().bytesSent = 25'000'000;
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Updating Image   83%.");
  EXPECT_EQ(flash_state().percentDone, 83);
}

TEST_F(FlashTick, PercentageAboveHundredIsShownOnceThenClamped) {
  CFlasherDlg dialog;
  serve(dialog, 1000);
  flash_state().bytesSent = 1030;  // a netascii transfer grows the data
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Updating Image   103%.");
  EXPECT_EQ(bar(dialog), 100);
  EXPECT_EQ(flash_state().percentDone, 100);
  EXPECT_TRUE(flash_state().finishing);
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Updating Image   103%.");
  EXPECT_EQ(flash_state().percentDone, 100);
}

TEST_F(FlashTick, CountdownShowsItsMessagesMovesTheBarAndClosesAtTick310) {
  CFlasherDlg dialog;
  serve(dialog);
  flash_state().bytesSent = 1'000'000;
  struct Seen {
    int bar;
    std::string status;
  };
  std::vector<Seen> seen;  // seen[t]: after the tick that ran with finishTick t
  for (int tick = 0; tick <= kTickClose; ++tick) {
    ASSERT_EQ(flash_state().finishTick, tick);
    dialog.OnTimer(kTickTimerId);
    seen.push_back(Seen{bar(dialog), status(dialog)});
  }
  struct Expected {
    int tick;
    int bar;
    const char* status;
  };
  const Expected table[] = {
      {0, 100, "Updating Image   100%."},
      {3, 100, "Updating Image   100%."},
      {4, 0, "Transfer completed, please wait the board to reboot ..."},
      {11, 0, "Transfer completed, please wait the board to reboot ..."},
      {12, 0, "System on board is rebooting ..."},
      {13, 1, "System on board is rebooting ..."},
      {100, 30, "System on board is rebooting ..."},
      {279, 89, "System on board is rebooting ..."},
      {280, 90, "System on board is up, the program will exit ..."},
      {309, 99, "System on board is up, the program will exit ..."},
      {310, 100, "System on board is up, the program will exit ..."},
  };
  for (const Expected& e : table) {
    SCOPED_TRACE(e.tick);
    EXPECT_EQ(seen[static_cast<std::size_t>(e.tick)].bar, e.bar);
    EXPECT_EQ(seen[static_cast<std::size_t>(e.tick)].status, e.status);
  }
  for (int tick = 4; tick <= 12; ++tick) EXPECT_EQ(seen[static_cast<std::size_t>(tick)].bar, 0);
  // The board's ARP entry goes once, at tick 12, for the address the board was given.
  EXPECT_EQ(recorded_commands(), std::vector<std::string>{"arp -d 192.168.1.9"});
  // Tick 310 went through the cancel handling: threads stopped, counters cleared.
  EXPECT_FALSE(flash_state().bootpThread.running());
  EXPECT_FALSE(flash_state().tftpThread.running());
  EXPECT_EQ(flash_state().bytesSent, 0);
}

TEST_F(FlashTick, FirstDataStopsTheBootpThreadOnceAndARestartDoesNotBringItBack) {
  CFlasherDlg dialog;
  serve(dialog);
  dialog.OnTimer(kTickTimerId);
  EXPECT_TRUE(flash_state().bootpThread.running()) << "no data yet: BOOTP keeps serving";
  EXPECT_EQ(status(dialog), "Server is ready ...");
  flash_state().bytesSent = 512;
  dialog.OnTimer(kTickTimerId);
  EXPECT_FALSE(flash_state().bootpThread.running());
  EXPECT_TRUE(flash_state().bootpStopped);
  flash_state().restartRequested = true;
  dialog.OnTimer(kTickTimerId);
  flash_state().bytesSent = 1024;
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(bootpRuns, 1);
  EXPECT_FALSE(flash_state().bootpThread.running());
}

TEST_F(FlashTick, RestartReplacesTheTftpThreadAndZeroesTheCountAndBar) {
  CFlasherDlg dialog;
  serve(dialog);
  flash_state().bytesSent = 500'000;
  dialog.OnTimer(kTickTimerId);
  ASSERT_EQ(bar(dialog), 50);
  std::FILE* staleImage = std::fopen("flash.bin", "rb");
  ASSERT_NE(staleImage, nullptr);
  flash_state().imageFile = staleImage;

  // A restart without a fired time-out (arm withdrew it) says nothing new.
  flash_state().restartRequested = true;
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Updating Image   50%.");
  EXPECT_EQ(flash_state().bytesSent, 0);
  EXPECT_EQ(bar(dialog), 0);
  EXPECT_EQ(flash_state().percentDone, 50);
  EXPECT_FALSE(flash_state().restartRequested);
  EXPECT_EQ(flash_state().imageFile.load(), nullptr) << "the stopped thread's stream is closed";
  EXPECT_TRUE(flash_state().tftpThread.running());

  flash_state().timedOut = true;
  flash_state().restartRequested = true;
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Preparing to retransmit data, please wait ...");
  while (tftpRuns < 3) std::this_thread::yield();  // the new thread has started its body
  EXPECT_EQ(tftpRuns, 3);

  // Until data flows again, later ticks leave the message alone.
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Preparing to retransmit data, please wait ...");
  flash_state().bytesSent = 600'000;
  dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Updating Image   60%.");
}

TEST_F(FlashTick, EmptyImageNeverMoves) {
  CFlasherDlg dialog;
  serve(dialog, 0);
  for (int tick = 0; tick < 1000; ++tick) dialog.OnTimer(kTickTimerId);
  EXPECT_EQ(status(dialog), "Server is ready ...");
  EXPECT_EQ(bar(dialog), 0);
  EXPECT_FALSE(flash_state().finishing);
  EXPECT_TRUE(flash_state().bootpThread.running());
  EXPECT_TRUE(recorded_commands().empty());
}

}  // namespace
