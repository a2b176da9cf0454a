// Drawing of the dialog-specific widgets.
#include "platform/ui/fltk/widgets.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

namespace ui::fltk {

namespace {

constexpr Fl_Align kTextAlign = FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP;
// The gap between a group box's left edge and its caption, and around the caption.
constexpr int kCaptionIndent = 8;
constexpr int kCaptionPadding = 2;

}  // namespace

std::string escape_label(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    escaped += c;
    if (c == '@') escaped += '@';
  }
  return escaped;
}

TextLabel::TextLabel(int x, int y, int width, int height) : Fl_Box(x, y, width, height) {
  box(FL_FLAT_BOX);
  align(kTextAlign);
}

void TextLabel::set_transparent(bool transparent) {
  box(transparent ? FL_NO_BOX : FL_FLAT_BOX);
}

void TextLabel::draw() {
  draw_box();
  if (!label()) return;
  fl_push_clip(x(), y(), w(), h());
  fl_font(labelfont(), labelsize());
  fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
  fl_draw(label(), x(), y(), w(), h(), align(), nullptr, 0);
  fl_pop_clip();
}

GroupFrame::GroupFrame(int x, int y, int width, int height) : Fl_Box(x, y, width, height) {
  box(FL_NO_BOX);
}

void GroupFrame::draw() {
  fl_font(labelfont(), labelsize());
  const int frameTop = y() + fl_height() / 2;
  fl_draw_box(FL_ENGRAVED_FRAME, x(), frameTop, w(), h() - (frameTop - y()), color());
  if (!label() || !*label()) return;
  int textWidth = 0, textHeight = 0;
  fl_measure(label(), textWidth, textHeight, 0);
  const int textX = x() + kCaptionIndent;
  fl_color(parent() ? parent()->color() : color());
  fl_rectf(textX - kCaptionPadding, y(), textWidth + 2 * kCaptionPadding, fl_height());
  fl_color(labelcolor());
  fl_draw(label(), textX, y(), textWidth, fl_height(), FL_ALIGN_LEFT | FL_ALIGN_INSIDE, nullptr, 0);
}

PushButton::PushButton(int x, int y, int width, int height) : Fl_Button(x, y, width, height) {}

void PushButton::set_default(bool isDefault) {
  m_default = isDefault;
  redraw();
}

void PushButton::draw() {
  if (!m_default) {
    Fl_Button::draw();
    return;
  }
  // The default button's dark frame sits inside its rectangle, around the usual bevel.
  const Fl_Boxtype face = value() ? (down_box() ? down_box() : fl_down(box())) : box();
  const int fx = x() + 1, fy = y() + 1, fw = w() - 2, fh = h() - 2;
  fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
  fl_rect(x(), y(), w(), h());
  draw_box(face, fx, fy, fw, fh, value() ? selection_color() : color());
  draw_label(fx, fy, fw, fh);
  if (Fl::focus() == this) draw_focus(face, fx, fy, fw, fh);
}

}  // namespace ui::fltk
