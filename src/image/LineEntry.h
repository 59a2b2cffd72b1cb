#pragma once

#include <cstddef>
#include <optional>
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
  // The whole text selected, as in an entry given the focus: the next typed key replaces it.
  void selectAll() { selected_ = !text_.empty(); }
  bool selected() const { return selected_; }
  bool clearMark() const { return clearMark_; }
  void setClearMark(bool marked) { clearMark_ = marked; }

  // Sets the text as the program does; a change runs the change handler like typing would.
  void setText(std::string text);
  // Sets a text the program itself chooses (a device's pulse width, the Enter default): the
  // clear-mark a stray key may have left is dropped first, so the text shown is the one set.
  void setOwnText(std::string text) {
    clearMark_ = false;
    setText(std::move(text));
  }
  // The text read as a decimal number of at most `maxLength` digits; nullopt when it is none.
  std::optional<int> decimalValue() const;
  // A typed character other than Enter (the owner handles Enter): the key filter, then the
  // entry's own editing, then the change handler when the text changed.
  void type(char character);

 private:
  void FillEditChange();

  std::size_t maxLength_;
  std::string_view accepted_;
  std::string text_;
  bool clearMark_ = false;
  bool selected_ = false;
};

}  // namespace tandra
