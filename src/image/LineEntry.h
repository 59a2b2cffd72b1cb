#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tandra {

// A short one-line entry with a key filter, as the fill byte and the pulse width use. A typed
// character that is not among the accepted ones sets the entry's clear-mark; it is not
// suppressed, and the next change of the text empties the whole entry. So a wrong key clears
// the entry instead of being added to it, and Backspace clears it instead of deleting one
// character. Typed letters are shown in upper case; the caret stays at the end.
class LineEntry {
 public:
  static constexpr char kEnter = '\r';
  static constexpr char kBackspace = '\b';
  static constexpr char kEscape = '\x1B';

  LineEntry(std::size_t maxLength, std::string_view accepted, std::string initialText = {})
      : maxLength_(maxLength), accepted_(accepted), text_(std::move(initialText)) {}

  const std::string& text() const { return text_; }
  bool clearMark() const { return clearMark_; }
  void setClearMark(bool marked) { clearMark_ = marked; }

  // Sets the text as the program does; a change runs the change handler like typing would.
  void setText(std::string text);
  // A typed character other than Enter (the owner handles Enter): the key filter, then the
  // entry's own editing, then the change handler when the text changed.
  void type(char character);

 private:
  void FillEditChange();

  std::size_t maxLength_;
  std::string_view accepted_;
  std::string text_;
  bool clearMark_ = false;
};

}  // namespace tandra
