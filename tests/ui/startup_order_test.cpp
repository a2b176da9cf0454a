// The order of the dialogs at start-up, end to end on the headless backend with the real
// companion listing: the product choice first when product.ini exists, the main dialog
// with the DHCP warning when it does not, and a cancelled product choice ends everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include "app/flasher_app.h"
#include "platform/interfaces.h"
#include "platform/net.h"
#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "res/templates.h"

namespace {

namespace fs = std::filesystem;

class StartupOrder : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kalvex-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_directory = pattern;
    m_previous = fs::current_path();
    fs::current_path(m_directory);
  }
  void TearDown() override {
    fs::current_path(m_previous);
    fs::remove_all(m_directory);
  }
  static void write(const std::string& name, const std::string& contents) {
    std::ofstream(name, std::ios::binary) << contents;
  }

  fs::path m_directory;
  fs::path m_previous;
  ui::HeadlessBackend m_backend;
};

TEST_F(StartupOrder, CancelledProductChoiceEndsWithoutTheMainDialog) {
  write("product.ini", "X10: first board\n");
  write("X10.bin", "image");
  m_backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_escape());
  CFlasherApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_PRODUCT_DIALOG});
  EXPECT_TRUE(m_backend.message_boxes().empty());
  EXPECT_FALSE(fs::exists("flash.bin"));
}

TEST_F(StartupOrder, ConfirmedProductLeadsToTheMainDialogWithThisMachinesAddresses) {
  write("product.ini", "X10: first board\n");
  write("X10.bin", "image");
  m_backend.then(IDD_PRODUCT_DIALOG, ui::steps::press_enter());
  m_backend.then(IDD_FLASHER_DIALOG, [](ui::CDialog& shown) {
    auto* addresses = dynamic_cast<ui::CComboBox*>(shown.GetDlgItem(IDC_ADDRESS));
    ASSERT_NE(addresses, nullptr);
    std::vector<std::string> expected;
    for (const platform::InterfaceAddress& address : platform::ipv4_interfaces())
      if (!address.loopback && address.address_net != 0 && expected.size() < 10)
        expected.push_back(platform::inet_ntoa(address.address_net));
    EXPECT_EQ(addresses->items(), expected);
    shown.PressEscape();
  });
  CFlasherApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), (std::vector<int>{IDD_PRODUCT_DIALOG, IDD_FLASHER_DIALOG}));
  ASSERT_EQ(m_backend.message_boxes().size(), 1u) << "only the product confirmation";
  EXPECT_NE(m_backend.message_boxes()[0].text.find("option 1, which can only be used for X10."),
            std::string::npos);
  EXPECT_TRUE(m_backend.script_errors().empty());
}

TEST_F(StartupOrder, WithoutCatalogTheMainDialogComesFirstWithTheServerWarning) {
  m_backend.then(IDD_FLASHER_DIALOG, ui::steps::press_escape());
  CFlasherApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(m_backend.dialogs_run(), std::vector<int>{IDD_FLASHER_DIALOG});
  ASSERT_EQ(m_backend.message_boxes().size(), 1u);
  EXPECT_EQ(m_backend.message_boxes()[0].text, res::load_string(IDS_SERVER_WARNING));
}

// Makes every socket() of this process fail as on a kernel without IPv4.
bool forbid_sockets() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAFNOSUPPORT),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST_F(StartupOrder, WithoutSocketsTheProgramSaysSoAndShowsNoDialog) {
  write("product.ini", "X10: first board\n");
  // In a child of its own: the filter cannot be taken back.
  EXPECT_EXIT(
      {
        if (!forbid_sockets()) std::_Exit(2);
        CFlasherApp app;
        const bool result = app.InitInstance();
        const bool saidSo =
            m_backend.message_boxes().size() == 1 &&
            m_backend.message_boxes()[0].text == res::load_string(IDS_SOCKETS_INIT_FAILED) &&
            m_backend.message_boxes()[0].caption == "kalvex";
        std::_Exit(!result && saidSo && m_backend.dialogs_run().empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
