// Real windows on Linux: the UI backend that shows the dialogs with FLTK 1.3. Geometry comes
// from the templates through base units measured from the dialog font; timers and work
// posted by server threads run inside every modal loop, nested ones too.
#pragma once

#include <memory>
#include <vector>

#include "platform/ui/backend.h"

class Fl_RGB_Image;

namespace ui::fltk {

class DialogWindow;

class FltkBackend final : public Backend {
 public:
  // Opens the display named by the environment; null when none can be opened. Every window
  // carries the icon, which must outlive the backend. Call on the thread that will be the UI
  // thread, once.
  static std::unique_ptr<FltkBackend> create(const IconImage& icon);
  ~FltkBackend() override;

  BaseUnits base_units() const override { return m_base; }
  void run_modal(CDialog& dialog) override;
  int message_box(const std::string& text, const std::string& caption,
                  MessageBoxType type) override;
  void control_changed(CDialog& dialog, CWnd& control) override;
  void control_created(CDialog& dialog, CWnd& control) override;
  void control_destroyed(CDialog& dialog, CWnd& control) override;
  void invalidate(CDialog& dialog) override;
  void begin_window_drag(CDialog& dialog, Point point) override;
  void wake() override;

  // The window of a running dialog, or null.
  DialogWindow* window_of(const CDialog& dialog) const;

 private:
  FltkBackend(BaseUnits base, std::unique_ptr<Fl_RGB_Image> icon);

  BaseUnits m_base;
  std::unique_ptr<Fl_RGB_Image> m_icon;  // kept while windows may show it
  std::vector<DialogWindow*> m_running;  // innermost last
};

// Whether an X display can be opened (without opening it for FLTK).
bool display_available();

}  // namespace ui::fltk
