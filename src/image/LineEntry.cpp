#include "image/LineEntry.h"

#include <cctype>

namespace tandra {

void LineEntry::setText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  FillEditChange();
}

void LineEntry::type(char character) {
  if (accepted_.find(character) == std::string_view::npos) clearMark_ = true;

  const std::string before = text_;
  const auto code = static_cast<unsigned char>(character);
  const bool printable = code >= 0x20 && code != 0x7F;
  if (selected_ && (printable || character == kBackspace)) {
    // A typed key replaces the selected text, as in any entry.
    text_.clear();
    selected_ = false;
    if (printable) text_.push_back(static_cast<char>(std::toupper(code)));
  } else if (character == kBackspace) {
    if (!text_.empty()) text_.pop_back();
  } else if (printable && text_.size() < maxLength_) {
    text_.push_back(static_cast<char>(std::toupper(code)));
  }
  if (text_ != before) FillEditChange();
}

std::optional<int> LineEntry::decimalValue() const {
  if (text_.empty() || text_.size() > maxLength_) return std::nullopt;
  int value = 0;
  for (char c : text_) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The change handler both entries share: a marked entry is emptied and unmarked.
void LineEntry::FillEditChange() {
  if (!clearMark_) return;
  text_.clear();
  clearMark_ = false;
}

}  // namespace tandra
