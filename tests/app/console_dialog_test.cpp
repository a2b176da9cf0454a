// The main dialog on the console backend, driven through a pipe as scripted whole-program
// runs drive it: the lines a user types in, the lines a script reads out.
#include <cstdio>
#include <string>

#include <unistd.h>

#include "platform/net.h"
#include "platform/ui/console/console_backend.h"
#include "tests/app/flasher_fixture.h"

namespace {

using ConsoleScript = kalvex::testing::FlasherTest;

TEST_F(ConsoleScript, TypedLinesChooseTheAddressAndCancelOrTheEndOfInputStopsTheServers) {
  kalvex::testing::write_file("flash.bin", "image");
  set_slots({"10.0.0.5", "192.168.1.7"});
  struct Case {
    const char* input;  // the pipe is closed after it
    const char* address;
    const char* shown;
  };
  const Case cases[] = {
      {"\ncancel\n", "192.168.1.7", "  1) 10.0.0.5\n  2) 192.168.1.7  (selected)\n"},
      {"bogus\n1\n", "10.0.0.5", "The IP address is invalid, please try again ...\n"},
      {"172.16.3.4\n", "172.16.3.4", "\nServer is ready ...\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    reset_flash_state_for_tests();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string input = c.input;
    ASSERT_EQ(::write(fds[1], input.data(), input.size()), ssize_t(input.size()));
    ::close(fds[1]);
    std::FILE* out = std::tmpfile();
    {
      ui::ConsoleBackend console(fds[0], out);
      ui::set_backend(&console);
      CFlasherDlg dialog;
      EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
      ui::set_backend(&backend);
    }
    ::close(fds[0]);
    std::string printed(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    printed.resize(std::fread(printed.data(), 1, printed.size(), out));
    std::fclose(out);
    EXPECT_NE(printed.find("== Kalvex ==\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find(c.shown), std::string::npos) << printed;
    EXPECT_NE(printed.find("Server is ready ..."), std::string::npos) << printed;
    EXPECT_EQ(flash_state().serverAddress, platform::inet_addr(c.address));
    EXPECT_FALSE(flash_state().tftpThread.running());
  }
}

}  // namespace
