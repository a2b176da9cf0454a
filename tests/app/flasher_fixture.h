// A main dialog ready to be driven: a private working directory, the headless backend, a
// clean FlashState, server thread bodies that count their runs and wait to be stopped, and
// recorded commands instead of real ones.
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>

#include "app/adapter_discovery.h"
#include "app/fatal_box_ui.h"
#include "app/flasher_dlg.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "platform/ui/headless/headless_backend.h"
#include "res/resource.h"

namespace kalvex_test {

inline void wait_for_stop(const platform::StopToken& stop) {
  pollfd fd{stop.wait_fd(), POLLIN, 0};
  while (!stop.stop_requested()) ::poll(&fd, 1, -1);
}

class FlasherTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kalvex-app-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_oldDir = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    // product.ini exists, so the dialog shows no server warning unless a test removes it.
    write_file("product.ini", "");
    reset_flash_state_for_tests();
    install_fatal_box_ui();
    adapterAddresses = {};
    flasher_seams().discoverAdapters = [] {};
    flasher_seams().bootpBody = [this](const platform::StopToken& stop) {
      ++bootpRuns;
      wait_for_stop(stop);
    };
    flasher_seams().tftpBody = [this](const platform::StopToken& stop) {
      ++tftpRuns;
      wait_for_stop(stop);
    };
    set_command_recorder_for_tests([this](const std::string& command, const std::string& args) {
      std::lock_guard lock(m_commandsMutex);
      commands.push_back(command + " " + args);
    });
  }

  void TearDown() override {
    reset_flash_state_for_tests();
    reset_flasher_seams();
    set_command_recorder_for_tests(nullptr);
    std::filesystem::current_path(m_oldDir);
    std::filesystem::remove_all(m_dir);
  }

  void write_file(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
  }
  static void set_slot(int index, const std::string& text) {
    auto& slot = adapterAddresses[static_cast<std::size_t>(index)];
    slot = {};
    text.copy(slot.data(), slot.size() - 1);
  }
  // Initialises the dialog and confirms the address, as a user typing it and pressing OK.
  void confirm(CFlasherDlg& dialog, const std::string& address) {
    dialog.OnInitDialog();
    dialog.SetDlgItemText(IDC_ADDRESS, address);
    dialog.OnOK();
  }
  std::string status(const CFlasherDlg& dialog) const { return dialog.GetDlgItemText(IDC_STATUS); }
  int bar(const CFlasherDlg& dialog) const {
    return static_cast<ui::CProgressCtrl*>(dialog.GetDlgItem(IDC_PROGRESS))->GetPos();
  }
  std::vector<std::string> recorded_commands() {
    std::lock_guard lock(m_commandsMutex);
    return commands;
  }

  ui::HeadlessBackend backend;
  std::atomic<int> bootpRuns{0};
  std::atomic<int> tftpRuns{0};
  std::vector<std::string> commands;

 private:
  std::filesystem::path m_dir;
  std::filesystem::path m_oldDir;
  std::mutex m_commandsMutex;
};

}  // namespace kalvex_test
