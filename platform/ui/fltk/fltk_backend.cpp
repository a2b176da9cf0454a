// Opening the display, the modal loop of a dialog and the routing of model changes to the
// dialog's window.
#include "platform/ui/fltk/fltk_backend.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <algorithm>

#include "platform/ui/fltk/dialog_font.h"
#include "platform/ui/fltk/dialog_keys.h"
#include "platform/ui/fltk/dialog_window.h"
#include "platform/ui/fltk/message_window.h"
#include "platform/ui/fltk/modal_loop.h"

namespace ui::fltk {

namespace {

// The class name every window carries, so that tools can find the program's windows.
constexpr const char* kWindowClass = "kalvex";

std::unique_ptr<Fl_RGB_Image> set_application_icon(const IconImage& icon) {
  auto image = std::make_unique<Fl_RGB_Image>(icon.rgba.data(), icon.width, icon.height, 4);
  Fl_Window::default_icon(image.get());
  return image;
}

void set_look() {
  Fl::scheme("base");
  Fl::background(240, 240, 240);
  Fl::visible_focus(1);
}

}  // namespace

bool display_available() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

std::unique_ptr<FltkBackend> FltkBackend::create(const IconImage& icon) {
  // fl_open_display() ends the process when it fails; open it ourselves and hand it over.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  fl_open_display(display);
  set_look();
  std::unique_ptr<Fl_RGB_Image> image = set_application_icon(icon);
  Fl_Window::default_xclass(kWindowClass);
  install_wakeup();
  install_dialog_keys();
  return std::unique_ptr<FltkBackend>(new FltkBackend(measure_base_units(), std::move(image)));
}

FltkBackend::FltkBackend(BaseUnits base, std::unique_ptr<Fl_RGB_Image> icon)
    : m_base(base), m_icon(std::move(icon)) {}

FltkBackend::~FltkBackend() = default;

DialogWindow* FltkBackend::window_of(const CDialog& dialog) const {
  for (DialogWindow* window : m_running)
    if (&window->dialog() == &dialog) return window;
  return nullptr;
}

void FltkBackend::run_modal(CDialog& dialog) {
  const auto* parent = dynamic_cast<const CDialog*>(dialog.parent());
  Fl_Window* owner = parent != nullptr ? window_of(*parent) : nullptr;
  auto window = std::make_unique<DialogWindow>(dialog, m_base, owner);
  m_running.push_back(window.get());

  dialog.OnInitDialog();
  if (dialog.is_running()) window->show();
  while (dialog.is_running()) pump_once();

  window->hide();
  m_running.erase(std::find(m_running.begin(), m_running.end(), window.get()));
  Fl::flush();
}

int FltkBackend::message_box(const std::string& text, const std::string& caption,
                             MessageBoxType type) {
  return run_message_box(text, caption, type, m_base);
}

void FltkBackend::control_changed(CDialog& dialog, CWnd& control) {
  if (DialogWindow* window = window_of(dialog)) window->update(control);
}

void FltkBackend::control_created(CDialog& dialog, CWnd& control) {
  if (DialogWindow* window = window_of(dialog)) window->add_control(control);
}

void FltkBackend::control_destroyed(CDialog& dialog, CWnd& control) {
  if (DialogWindow* window = window_of(dialog)) window->remove_control(control);
}

void FltkBackend::invalidate(CDialog& dialog) {
  if (DialogWindow* window = window_of(dialog)) window->redraw();
}

void FltkBackend::begin_window_drag(CDialog& dialog, Point point) {
  if (DialogWindow* window = window_of(dialog)) window->begin_drag(point);
}

void FltkBackend::wake() {
  request_wakeup();
}

}  // namespace ui::fltk
