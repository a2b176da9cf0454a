// The PC's addresses from the "ipconfig" listing: the command's output is captured into a
// private capture file, scanned for "IP Address" lines, and the file is deleted afterwards.
#include "app/adapter_discovery.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "core/fatal_box.h"
#include "platform/capture.h"
#include "platform/fs.h"
#include "platform/ui/framework.h"

std::array<std::array<char, kAdapterSlotBytes>, kAdapterSlots> adapterAddresses{};

namespace {

constexpr const char* kCaptureFileName = "ipcfg";
constexpr std::size_t kLineBufferBytes = 256;
constexpr const char* kTokenSeparators = "\r\n\t ";

std::filesystem::path g_capturePath;

std::string with_name(const char* format, const char* name) {
  char text[512];
  std::snprintf(text, sizeof text, format, name);
  return text;
}

void report_capture_failure(const platform::CaptureResult& result, const char* displayName) {
  switch (result.outcome) {
    case platform::CaptureOutcome::PipeFailed:
      ui::AfxMessageBox("Fail to create pipe.");
      break;
    case platform::CaptureOutcome::StartFailed:
      ui::AfxMessageBox(with_name("Fail to start program %s.", displayName));
      break;
    case platform::CaptureOutcome::ExitCodeUnavailable:
      ui::AfxMessageBox(with_name("Fail to run program %s.", displayName));
      break;
    case platform::CaptureOutcome::Exited:
      break;
  }
}

void remove_capture() {
  if (g_capturePath.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(g_capturePath, ignored);
  std::filesystem::remove(g_capturePath.parent_path(), ignored);
  g_capturePath.clear();
}

// The address field begins two characters after the first colon: the colon and the blank
// that follows it in the listing. A colon directly followed by the address thus loses the
// address's first character; the listing never has that form.
std::string_view address_token(const char* line) {
  if (std::strstr(line, "IP Address") == nullptr) return {};
  const char* colon = std::strchr(line, ':');
  if (colon == nullptr || colon[1] == '\0') return {};
  const char* field = colon + 2;
  field += std::strspn(field, kTokenSeparators);
  return std::string_view(field, std::strcspn(field, kTokenSeparators));
}

}  // namespace

const std::filesystem::path& capture_file_path() {
  return g_capturePath;
}

int capture_output(const char* displayName, const char* commandLine) {
  remove_capture();
  std::optional<std::filesystem::path> directory = platform::make_private_directory();
  std::optional<platform::CaptureFile> file =
      directory ? platform::CaptureFile::create_new(*directory / kCaptureFileName) : std::nullopt;
  if (!file) {
    std::error_code ignored;
    if (directory) std::filesystem::remove(*directory, ignored);
    fatal_box("Please don't run this program from a read-only directory!\n");
  }
  g_capturePath = *directory / kCaptureFileName;

  platform::CaptureResult result = platform::run_capturing_output(commandLine, *file);
  file.reset();
  if (result.copy_error != 0) {
    std::printf("Error %d", result.copy_error);
    std::fflush(stdout);
  }
  report_capture_failure(result, displayName);
  return result.outcome == platform::CaptureOutcome::Exited && result.exit_code == 0 ? 0 : -1;
}

void scan_adapter_listing(std::FILE* listing) {
  for (auto& slot : adapterAddresses) slot.fill('\0');
  std::size_t filled = 0;
  char line[kLineBufferBytes];
  while (std::fgets(line, sizeof line, listing) != nullptr) {
    std::string_view token = address_token(line);
    if (token.empty() || token == "0.0.0.0") continue;
    // The table holds 10 addresses of up to 31 characters; anything beyond cannot be
    // stored, and a longer token is no dotted address anyway.
    if (filled == adapterAddresses.size() || token.size() >= kAdapterSlotBytes) continue;
    std::memcpy(adapterAddresses[filled].data(), token.data(), token.size());
    ++filled;
  }
}

void read_adapter_addresses() {
  std::FILE* listing = g_capturePath.empty() ? nullptr : platform::open_file(g_capturePath, "r");
  if (listing != nullptr) {
    scan_adapter_listing(listing);
    std::fclose(listing);
  } else {
    for (auto& slot : adapterAddresses) slot.fill('\0');
  }
  remove_capture();
}
