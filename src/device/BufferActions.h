#pragma once

#include <string_view>

#include "image/LineEntry.h"

namespace tandra {

class ControlStates;
class Host;
class ImageBuffer;
class Link;

// The buffer checksum and the fill, with their button, list and byte entry.
class BufferActions {
 public:
  static constexpr std::string_view kHexDigits = "1234567890ABCDEFabcdef";

  BufferActions(Host& host, Link& link, ImageBuffer& image, ControlStates& states)
      : host_(host), link_(link), image_(image), states_(states) {}

  // Recomputes the checksum of the address window, shows it and ends in the idle state.
  void Chk_Sum_ButClick();
  void FillClick();
  // `item` is the clicked row of the fill list, -1 when none is selected.
  void FillBoxClick(int item);
  void FillEditKeyPress(char character);

  // The fill byte entry: two hexadecimal digits.
  LineEntry fillEntry{2, kHexDigits};

 private:
  Host& host_;
  Link& link_;
  ImageBuffer& image_;
  ControlStates& states_;
};

}  // namespace tandra
