// The hidden window that runs the shared event loop's work, and one turn of a modal loop.
#include "platform/ui/win32/message_pump.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>

#include "platform/clock.h"
#include "platform/ui/event_loop.h"

namespace ui::win32 {

namespace {

constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kPumpTimerId = 1;
constexpr const wchar_t* kPumpClass = L"KalvexPump";

std::atomic<HWND> g_pump{nullptr};
std::atomic<bool> g_wakePending{false};
std::optional<platform::TimePoint> g_armedFor;  // UI thread only

void run_due_work() {
  event_loop().run_pending();
  schedule_next_timer();
}

LRESULT CALLBACK pump_procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kWakeMessage:
      // Cleared before the work runs: anything posted from now on queues a new message.
      g_wakePending.store(false);
      run_due_work();
      return 0;
    case WM_TIMER:
      if (wParam != kPumpTimerId) break;
      g_armedFor.reset();  // a window timer repeats; it is set again for the next due time
      run_due_work();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

UINT milliseconds_until(platform::TimePoint due) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - platform::now()).count();
  // A window timer waits USER_TIMER_MINIMUM at least; a due timer is run at the next one.
  return static_cast<UINT>(std::clamp<long long>(left, USER_TIMER_MINIMUM, 0x7FFFFFFF));
}

}  // namespace

bool install_pump() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = pump_procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kPumpClass;
  if (::RegisterClassExW(&windowClass) == 0) return false;
  HWND pump = ::CreateWindowExW(0, kPumpClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  g_pump.store(pump);
  return pump != nullptr;
}

void request_wakeup() {
  HWND pump = g_pump.load();
  if (pump == nullptr || g_wakePending.exchange(true)) return;
  if (!::PostMessageW(pump, kWakeMessage, 0, 0)) g_wakePending.store(false);
}

void schedule_next_timer() {
  HWND pump = g_pump.load();
  if (pump == nullptr) return;
  if (event_loop().has_posted_work()) request_wakeup();
  const std::optional<platform::TimePoint> due = event_loop().next_due();
  if (due == g_armedFor) return;
  g_armedFor = due;
  if (!due) {
    ::KillTimer(pump, kPumpTimerId);
    return;
  }
  ::SetTimer(pump, kPumpTimerId, milliseconds_until(*due), nullptr);
}

bool pump_one(HWND dialog) {
  MSG message;
  if (::GetMessageW(&message, nullptr, 0, 0) <= 0) return false;
  if (dialog == nullptr || !::IsDialogMessageW(dialog, &message)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  schedule_next_timer();
  return true;
}

}  // namespace ui::win32
