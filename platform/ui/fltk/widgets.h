// The FLTK widgets that stand for the template's control kinds where FLTK's own ones draw
// or behave differently from a dialog's: plain text without FLTK's '@' symbols, the group
// box frame with its caption, and push buttons that show which one is the default.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>

#include <string>

namespace ui::fltk {

// FLTK reads "@..." in widget labels as a symbol; a dialog shows it as written.
std::string escape_label(const std::string& text);

// Static text: left aligned, wrapped at its width and clipped to its rectangle. A
// transparent one draws no background, so whatever the window painted shows through.
class TextLabel : public Fl_Box {
 public:
  TextLabel(int x, int y, int width, int height);
  void set_transparent(bool transparent);
  bool transparent() const { return box() == FL_NO_BOX; }
  void draw() override;
};

// A group box: an etched frame whose top edge runs through the middle of the caption.
class GroupFrame : public Fl_Box {
 public:
  GroupFrame(int x, int y, int width, int height);
  void draw() override;
};

// A push button; the default one (pressed by Enter) carries a dark outer frame.
class PushButton : public Fl_Button {
 public:
  PushButton(int x, int y, int width, int height);
  void set_default(bool isDefault);
  bool is_default() const { return m_default; }
  void draw() override;

 private:
  bool m_default = false;
};

}  // namespace ui::fltk
