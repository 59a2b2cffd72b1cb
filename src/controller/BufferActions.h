#pragma once

#include <string>
#include <string_view>

#include "image/LineEntry.h"

namespace tandra {

class Panel;
class Session;

// The window's handlers for the buffer checksum and the fill, with their button, list and byte
// entry.
class BufferActions {
 public:
  static constexpr std::string_view kHexDigits = "1234567890ABCDEFabcdef";

  BufferActions(Panel& panel, Session& session) : panel_(panel), session_(session) {}

  // Recomputes the checksum of the address window, shows it and ends in the idle state.
  void Chk_Sum_ButClick();
  void FillClick();
  // `item` is the clicked row of the fill list, -1 when none is selected. True when the buffer
  // was filled, and so no longer holds the file last loaded.
  bool FillBoxClick(int item);
  // Escape in the fill list or the fill byte entry: as the list's Cancel row, nothing filled.
  void FillBoxEscape();
  // True when the key filled the buffer: Enter with a byte in the entry.
  bool FillEditKeyPress(char character);

  // The fill byte entry: two hexadecimal digits.
  LineEntry fillEntry{2, kHexDigits};
  // The byte last filled with from the entry: the entry opens with it, selected, so that Enter
  // fills with it again and a typed digit replaces it. Empty until one was typed.
  std::string lastFillText;

 private:
  Panel& panel_;
  Session& session_;
};

}  // namespace tandra
