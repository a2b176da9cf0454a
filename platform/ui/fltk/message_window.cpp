// The message box window: measured text above a centred row of buttons.
#include "platform/ui/fltk/message_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdint>

#include "platform/ui/fltk/dialog_font.h"
#include "platform/ui/fltk/dialog_keys.h"
#include "platform/ui/fltk/modal_loop.h"
#include "platform/ui/fltk/widgets.h"

namespace ui::fltk {

namespace {

// Sizes in dialog units, so that the box grows with the font like the dialogs do.
constexpr Rect kButtonUnits{0, 0, 50, 14};
constexpr Rect kMarginUnits{0, 0, 7, 7};
constexpr Rect kGapUnits{0, 0, 4, 4};
// Longer lines wrap at this width.
constexpr int kMaxTextWidthPixels = 440;

class MessageWindow : public Fl_Double_Window, public DialogKeyTarget {
 public:
  MessageWindow(const std::string& text, const std::string& caption, MessageBoxType type,
                BaseUnits base)
      : Fl_Double_Window(0, 0), m_text(text), m_caption(caption), m_type(type) {
    fl_font(dialog_font(), kDialogFontPixels);
    int textWidth = kMaxTextWidthPixels, textHeight = 0;
    fl_measure(m_text.c_str(), textWidth, textHeight, 0);
    const int buttonCount = m_type == MessageBoxType::OkCancel ? 2 : 1;
    const MessageLayout layout = layout_message(textWidth, textHeight, buttonCount, base);
    size(layout.width, layout.height);
    label(m_caption.c_str());

    begin();
    add_text(layout.text);
    add_button(layout.buttons[0], "OK", IDOK, true);
    if (buttonCount == 2) add_button(layout.buttons[1], "Cancel", IDCANCEL, false);
    end();

    set_modal();
    callback([](Fl_Widget* window, void*) {  // the close box
      static_cast<MessageWindow*>(window)->press_cancel();
    });
  }

  int result() const { return m_result; }
  void press_default_button() override { answer(IDOK); }
  void press_cancel() override { answer(m_type == MessageBoxType::OkCancel ? IDCANCEL : IDOK); }

 private:
  void add_text(const Rect& at) {
    auto* text = new TextLabel(at.left, at.top, at.width(), at.height());
    text->set_transparent(true);
    text->labelfont(dialog_font());
    text->labelsize(kDialogFontPixels);
    text->label(m_text.c_str());
  }

  void add_button(const Rect& at, const char* caption, int id, bool isDefault) {
    auto* button = new PushButton(at.left, at.top, at.width(), at.height());
    button->label(caption);
    button->labelfont(dialog_font());
    button->labelsize(kDialogFontPixels);
    button->set_default(isDefault);
    button->callback(
        [](Fl_Widget* widget, long answer) {
          auto* window = static_cast<MessageWindow*>(widget->window());
          window->answer(static_cast<int>(answer));
        },
        static_cast<long>(id));
  }

  void answer(int result) {
    m_result = result;
    hide();
  }

  std::string m_text;
  std::string m_caption;
  MessageBoxType m_type;
  int m_result = IDCANCEL;
};

// Over the active dialog when there is one, otherwise in the middle of the screen.
void centre_window(Fl_Window& window) {
  int left = Fl::x(), top = Fl::y(), width = Fl::w(), height = Fl::h();
  if (Fl_Window* owner = Fl::modal()) {
    left = owner->x();
    top = owner->y();
    width = owner->w();
    height = owner->h();
  }
  window.position(left + (width - window.w()) / 2, top + (height - window.h()) / 2);
}

}  // namespace

MessageLayout layout_message(int textWidth, int textHeight, int buttonCount, BaseUnits base) {
  const Rect button = dialog_units_to_pixels(kButtonUnits, base);
  const int margin = dialog_units_to_pixels(kMarginUnits, base).width();
  const int gap = dialog_units_to_pixels(kGapUnits, base).width();
  const int rowWidth = buttonCount * button.width() + (buttonCount - 1) * gap;

  MessageLayout layout;
  layout.width = std::max(textWidth, rowWidth) + 2 * margin;
  layout.text = Rect{margin, margin, margin + textWidth, margin + textHeight};
  const int buttonTop = layout.text.bottom + margin;
  layout.height = buttonTop + button.height() + margin;
  int left = (layout.width - rowWidth) / 2;
  for (int i = 0; i < buttonCount; ++i) {
    layout.buttons[i] = Rect{left, buttonTop, left + button.width(), buttonTop + button.height()};
    left += button.width() + gap;
  }
  return layout;
}

int run_message_box(const std::string& text, const std::string& caption, MessageBoxType type,
                    BaseUnits base) {
  MessageWindow window(text, caption, type, base);
  centre_window(window);
  window.show();
  while (window.shown()) pump_once();
  return window.result();
}

}  // namespace ui::fltk
