// Widgets for the dialog's controls, and user input turned into the model's calls.
#include "platform/ui/fltk/dialog_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Menu_Button.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Round_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstring>

#include "platform/ui/fltk/dialog_font.h"
#include "platform/ui/fltk/fltk_dc.h"
#include "platform/ui/fltk/widgets.h"

namespace ui::fltk {

namespace {

// The left button, as a window's mouse message reports it.
constexpr unsigned kLeftButtonFlag = 0x0001;
// Windows' classic progress colour.
const Fl_Color kProgressColour = fl_rgb_color(0, 0, 128);
// The edit field of a drop-down is one text line tall plus its border, whatever height the
// template gives (that height includes the opened list).
constexpr int kComboFramePixels = 8;

void apply_font(Fl_Widget& widget) {
  widget.labelfont(dialog_font());
  widget.labelsize(kDialogFontPixels);
}

void on_button(Fl_Widget*, void* control) {
  auto* button = static_cast<CButton*>(control);
  button->Click();
}

void on_radio(Fl_Widget* widget, void* control) {
  auto* button = static_cast<CButton*>(control);
  if (!button->IsWindowVisible() || !button->IsWindowEnabled()) {
    // The model refuses the click: the check stays where the model has it.
    static_cast<Fl_Button*>(widget)->value(button->GetCheck() == 1 ? 1 : 0);
    return;
  }
  // The model checks it and unchecks its siblings; nothing is touched after the command,
  // which may destroy the buttons.
  button->Click();
}

void on_combo_typed(Fl_Widget* widget, void* control) {
  static_cast<CComboBox*>(control)->SetWindowText(static_cast<Fl_Input*>(widget)->value());
}

void on_combo_picked(Fl_Widget* widget, void* control) {
  static_cast<CComboBox*>(control)->SetCurSel(static_cast<Fl_Menu_Button*>(widget)->value());
}

void set_label(Fl_Widget& widget, const std::string& text) {
  const char* current = widget.label();
  if (current != nullptr && text == current) return;
  widget.copy_label(text.c_str());
}

// A menu reads '/' as a submenu, '&' as a shortcut and '@' as a symbol: items are shown as
// written.
std::string escape_menu_text(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '/' || c == '\\')
      escaped += '\\';
    else if (c == '&' || c == '@')
      escaped += c;
    escaped += c;
  }
  return escaped;
}

void sync_combo(CComboBox& combo, Fl_Input_Choice& widget) {
  Fl_Menu_Button& menu = *widget.menubutton();
  bool same = menu.size() - 1 == combo.GetCount();
  for (int i = 0; same && i < combo.GetCount(); ++i)
    same = menu.text(i) != nullptr && combo.GetLBText(i) == menu.text(i);
  if (!same) {
    widget.clear();
    for (const std::string& item : combo.items()) menu.add(escape_menu_text(item).c_str());
  }
  const std::string text = combo.GetWindowText();
  if (std::strcmp(widget.value(), text.c_str()) != 0) widget.value(text.c_str());
}

}  // namespace

DialogWindow::DialogWindow(CDialog& dialog, BaseUnits base, Fl_Window* owner)
    // X refuses windows without an area; a template without one gets a pixel.
    : Fl_Double_Window(std::max(1, dialog.GetWindowRect().width()),
                       std::max(1, dialog.GetWindowRect().height())),
      m_dialog(dialog),
      m_base(base) {
  end();
  copy_label(dialog.GetWindowText().c_str());
  if (!dialog.dialog_template().hasCaptionBar) border(0);
  set_modal();
  callback([](Fl_Widget* window, void*) {  // the close box
    static_cast<DialogWindow*>(window)->press_cancel();
  });
  for (const auto& control : dialog.controls()) add_control(*control);
  centre_on(owner);
}

DialogWindow::~DialogWindow() = default;

void DialogWindow::centre_on(Fl_Window* owner) {
  int left = Fl::x(), top = Fl::y(), width = Fl::w(), height = Fl::h();
  if (owner != nullptr) {
    left = owner->x();
    top = owner->y();
    width = owner->w();
    height = owner->h();
  }
  position(left + (width - w()) / 2, top + (height - h()) / 2);
}

Fl_Widget* DialogWindow::create_widget(CWnd& control) {
  const Rect at = control.GetWindowRect();
  switch (control.kind()) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* button = new PushButton(at.left, at.top, at.width(), at.height());
      button->set_default(control.kind() == ControlKind::DefPushButton);
      button->callback(on_button, &control);
      return button;
    }
    case ControlKind::RadioButton: {
      auto* radio = new Fl_Round_Button(at.left, at.top, at.width(), at.height());
      radio->type(FL_RADIO_BUTTON);
      radio->clear_visible_focus();
      radio->callback(on_radio, &control);
      return radio;
    }
    case ControlKind::GroupBox:
      return new GroupFrame(at.left, at.top, at.width(), at.height());
    case ControlKind::Static:
      return new TextLabel(at.left, at.top, at.width(), at.height());
    case ControlKind::ComboBoxDropDown: {
      auto* combo = new Fl_Input_Choice(at.left, at.top, at.width(), m_base.y + kComboFramePixels);
      combo->textfont(dialog_font());
      combo->textsize(kDialogFontPixels);
      combo->menubutton()->textfont(dialog_font());
      combo->menubutton()->textsize(kDialogFontPixels);
      combo->input()->when(FL_WHEN_CHANGED);
      combo->input()->callback(on_combo_typed, &control);
      combo->menubutton()->callback(on_combo_picked, &control);
      return combo;
    }
    case ControlKind::ProgressBar: {
      auto* progress = new Fl_Progress(at.left, at.top, at.width(), at.height());
      progress->box(FL_BORDER_BOX);
      progress->color(FL_BACKGROUND2_COLOR);
      progress->selection_color(kProgressColour);
      return progress;
    }
  }
  return nullptr;
}

void DialogWindow::add_control(CWnd& control) {
  begin();
  Fl_Widget* widget = create_widget(control);
  end();
  if (widget == nullptr) return;
  apply_font(*widget);
  m_widgets[&control] = widget;
  update_widget(control, *widget);
}

void DialogWindow::remove_control(CWnd& control) {
  auto found = m_widgets.find(&control);
  if (found == m_widgets.end()) return;
  Fl_Widget* widget = found->second;
  m_widgets.erase(found);
  remove(widget);
  // Deferred: the widget may be the one whose callback is running.
  Fl::delete_widget(widget);
  redraw();
}

Fl_Widget* DialogWindow::widget_for(const CWnd& control) const {
  auto found = m_widgets.find(&control);
  return found == m_widgets.end() ? nullptr : found->second;
}

void DialogWindow::update(CWnd& control) {
  if (&control == &m_dialog) {
    copy_label(m_dialog.GetWindowText().c_str());
    return;
  }
  if (Fl_Widget* widget = widget_for(control)) update_widget(control, *widget);
}

void DialogWindow::update_widget(CWnd& control, Fl_Widget& widget) {
  switch (control.kind()) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
      set_label(widget, escape_label(control.GetWindowText()));
      break;
    case ControlKind::RadioButton:
      set_label(widget, escape_label(control.GetWindowText()));
      static_cast<Fl_Button&>(widget).value(static_cast<CButton&>(control).GetCheck() == 1);
      break;
    case ControlKind::GroupBox:
      set_label(widget, control.GetWindowText());
      break;
    case ControlKind::Static: {
      auto& label = static_cast<TextLabel&>(widget);
      label.set_transparent(m_dialog.IsTransparentStatic(control));
      set_label(widget, control.GetWindowText());
      // Nothing of a transparent label's old text is erased unless the window repaints.
      if (label.transparent()) redraw();
      break;
    }
    case ControlKind::ComboBoxDropDown:
      sync_combo(static_cast<CComboBox&>(control), static_cast<Fl_Input_Choice&>(widget));
      break;
    case ControlKind::ProgressBar: {
      auto& model = static_cast<CProgressCtrl&>(control);
      auto& progress = static_cast<Fl_Progress&>(widget);
      progress.minimum(static_cast<float>(model.low()));
      progress.maximum(static_cast<float>(model.high()));
      progress.value(static_cast<float>(model.GetPos()));
      break;
    }
  }
  if (control.IsWindowVisible() != (widget.visible() != 0)) {
    if (control.IsWindowVisible())
      widget.show();
    else
      widget.hide();
    redraw();  // what the hidden widget covered comes back
  }
  if (control.IsWindowEnabled() != (widget.active() != 0)) {
    if (control.IsWindowEnabled())
      widget.activate();
    else
      widget.deactivate();
  }
  widget.redraw();
}

void DialogWindow::begin_drag(Point point) {
  m_dragging = true;
  m_dragAnchor = point;
}

void DialogWindow::press_default_button() {
  m_dialog.PressEnter();
}

void DialogWindow::press_cancel() {
  m_dialog.PressEscape();
}

int DialogWindow::handle(int event) {
  if (m_dragging && event == FL_DRAG) {
    position(Fl::event_x_root() - m_dragAnchor.x, Fl::event_y_root() - m_dragAnchor.y);
    return 1;
  }
  if (m_dragging && event == FL_RELEASE) {
    m_dragging = false;
    return 1;
  }
  const int handled = Fl_Double_Window::handle(event);
  if (handled || event != FL_PUSH || Fl::event_button() != FL_LEFT_MOUSE) return handled;
  // A press on the window's own background, or on a label, which takes no clicks.
  m_dialog.OnLButtonDown(kLeftButtonFlag, Point{Fl::event_x(), Fl::event_y()});
  return 1;
}

void DialogWindow::draw() {
  if (damage() & ~FL_DAMAGE_CHILD) {
    FltkDC dc;
    if (!m_dialog.OnEraseBkgnd(dc)) {
      fl_color(color());
      fl_rectf(0, 0, w(), h());
    }
    if (!border()) {  // the thin border of a window without a frame
      fl_color(FL_DARK3);
      fl_rect(0, 0, w(), h());
    }
  }
  draw_children();
}

}  // namespace ui::fltk
