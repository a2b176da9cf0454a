// The active backend and the dialog-unit conversion that every backend lays out with.
#include "platform/ui/backend.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace ui {

namespace {
std::atomic<Backend*> g_backend{nullptr};
std::atomic<std::thread::id> g_uiThread{};

// MulDiv's rounding: to the nearest pixel, halves away from zero.
int scale(int units, int pixelsPerBase, int unitsPerBase) {
  const long long product = static_cast<long long>(units) * pixelsPerBase;
  const long long half = unitsPerBase / 2;
  const long long rounded =
      product >= 0 ? (product + half) / unitsPerBase : -((-product + half) / unitsPerBase);
  return static_cast<int>(rounded);
}
}  // namespace

Rect dialog_units_to_pixels(const Rect& units, BaseUnits base) {
  // Position and size are converted separately, as a dialog manager does.
  const int left = scale(units.left, base.x, 4);
  const int top = scale(units.top, base.y, 8);
  return Rect{left, top, left + scale(units.width(), base.x, 4),
              top + scale(units.height(), base.y, 8)};
}

void set_backend(Backend* backend) {
  g_backend.store(backend);
  g_uiThread.store(std::this_thread::get_id());
}

bool has_backend() {
  return g_backend.load() != nullptr;
}

Backend& backend() {
  Backend* active = g_backend.load();
  if (active == nullptr) {
    std::fputs("kalvex: no user interface backend is installed\n", stderr);
    std::abort();
  }
  return *active;
}

bool on_ui_thread() {
  return g_uiThread.load() == std::this_thread::get_id();
}

}  // namespace ui
