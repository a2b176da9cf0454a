// A main dialog ready to be driven: a scratch working directory that holds product.ini (so
// no server warning), the headless backend, a clean FlashState, server thread bodies that
// count their runs and wait to be stopped, and recorded commands instead of real ones.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/adapter_discovery.h"
#include "app/fatal_box_ui.h"
#include "app/flasher_dlg.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"
#include "tests/support/scratch_dir.h"

namespace kalvex::testing {

class FlasherTest : public ::testing::Test {
 protected:
  FlasherTest() {
    write_file("product.ini", "");
    reset_flash_state_for_tests();
    install_fatal_box_ui();
    adapterAddresses = {};
    const auto counting = [](std::atomic<int>& runs) {
      return [&runs](const platform::StopToken& stop) {
        ++runs;
        stop.wait();
      };
    };
    flasher_seams() = FlasherSeams{[] {}, counting(bootpRuns), counting(tftpRuns)};
    set_command_recorder_for_tests([this](const std::string& command, const std::string& args) {
      std::lock_guard lock(m_commandsMutex);
      m_commands.push_back(command + " " + args);
    });
  }
  ~FlasherTest() override {
    reset_flash_state_for_tests();
    reset_flasher_seams();
    set_command_recorder_for_tests(nullptr);
  }

  static void set_slots(const std::vector<std::string>& texts) {
    adapterAddresses = {};
    for (std::size_t i = 0; i < texts.size(); ++i)
      texts[i].copy(adapterAddresses[i].data(), kAdapterSlotBytes - 1);
  }
  // Initialises the dialog and confirms the address, as a user typing it and pressing OK.
  static void confirm(CFlasherDlg& dialog, const std::string& address) {
    dialog.OnInitDialog();
    dialog.SetDlgItemText(IDC_ADDRESS, address);
    dialog.OnOK();
  }
  static std::string status(const CFlasherDlg& dialog) { return dialog.GetDlgItemText(IDC_STATUS); }
  static int bar(const CFlasherDlg& dialog) { return dialog.m_progress->GetPos(); }
  std::vector<std::string> recorded_commands() {
    std::lock_guard lock(m_commandsMutex);
    return m_commands;
  }

  ScratchDir m_dir;
  ui::HeadlessBackend backend;
  std::atomic<int> bootpRuns{0};
  std::atomic<int> tftpRuns{0};

 private:
  std::mutex m_commandsMutex;
  std::vector<std::string> m_commands;
};

}  // namespace kalvex::testing
