// The main dialog on the console backend, driven by a script through a pipe as the scripted
// whole-program runs drive it: the lines a user types in, the lines a script reads out.
#include <cstdio>
#include <string>

#include <unistd.h>

#include "platform/net.h"
#include "platform/ui/console/console_backend.h"
#include "tests/app/flasher_fixture.h"

namespace {

class ConsoleScript : public kalvex_test::FlasherTest {
 protected:
  // Runs the main dialog on a console backend reading `input`; returns everything printed.
  std::string run(const std::string& input, bool closeInput) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    if (closeInput) ::close(fds[1]);
    std::FILE* out = std::tmpfile();
    {
      // Replaces the headless backend for the length of the run.
      ui::ConsoleBackend console(fds[0], out);
      ui::set_backend(&console);
      CFlasherDlg dialog;
      result = dialog.DoModal();
      ui::set_backend(&backend);
    }
    ::close(fds[0]);
    if (!closeInput) ::close(fds[1]);
    std::string printed;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;) printed += static_cast<char>(c);
    std::fclose(out);
    return printed;
  }
  int result = 0;
};

TEST_F(ConsoleScript, ConfirmedAddressServesAndCancelStopsTheServers) {
  write_file("flash.bin", "image");
  set_slot(0, "10.0.0.5");
  set_slot(1, "192.168.1.7");
  const std::string printed = run("\ncancel\n", false);
  EXPECT_EQ(result, ui::IDCANCEL);
  EXPECT_NE(printed.find("== Kalvex ==\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  1) 10.0.0.5\n  2) 192.168.1.7  (selected)\n"), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("\nServer is ready ...\n"), std::string::npos) << printed;
  EXPECT_EQ(flash_state().serverAddress, platform::inet_addr("192.168.1.7"));
  EXPECT_EQ(bootpRuns, 1);
  EXPECT_FALSE(flash_state().tftpThread.running());
}

TEST_F(ConsoleScript, TypedAddressOrNumberIsTakenAndEndOfInputCancels) {
  write_file("flash.bin", "image");
  set_slot(0, "10.0.0.5");
  set_slot(1, "192.168.1.7");
  for (const auto& [line, expected] : {std::pair{"1", "10.0.0.5"}, {"172.16.3.4", "172.16.3.4"}}) {
    SCOPED_TRACE(line);
    reset_flash_state_for_tests();
    const std::string printed = run(std::string("bogus\n") + line + "\n", true);
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_NE(printed.find("The IP address is invalid, please try again ..."), std::string::npos);
    EXPECT_NE(printed.find("Server is ready ..."), std::string::npos) << printed;
    EXPECT_EQ(flash_state().serverAddress, platform::inet_addr(expected));
    EXPECT_FALSE(flash_state().bootpThread.running());
  }
}

}  // namespace
