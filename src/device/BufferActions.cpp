#include "device/BufferActions.h"

#include <algorithm>
#include <string>

#include "common/HexText.h"
#include "device/ControlStates.h"
#include "image/Checksum.h"
#include "image/ImageBuffer.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

void BufferActions::Chk_Sum_ButClick() {
  link_.SendIdle();
  host_.setCaption(Control::Chk_Sum_But, "CheckSum=" + hexText(bufferChecksum(image_), 4));
  states_.IdleState();
}

void BufferActions::FillClick() {
  states_.BusyState();
  host_.setVisible(Control::FillBox, true);
}

void BufferActions::FillBoxClick(int item) {
  switch (item) {
    case 0:
      fillBuffer(image_, 0x00);
      states_.IdleState();
      break;
    case 1:
      fillBuffer(image_, 0xFF);
      states_.IdleState();
      break;
    case 2:
      host_.setVisible(Control::FillEdit, true);
      fillEntry.setText("");
      fillEntry.setClearMark(false);
      host_.setCaption(Control::FillEdit, fillEntry.text());
      host_.setFocus(Control::FillEdit);
      break;
    case 3:
      states_.IdleState();
      break;
    default:
      break;
  }
}

void BufferActions::FillEditKeyPress(char character) {
  if (character == LineEntry::kEnter) {
    // The key filter lets nothing but hexadecimal digits stay in the entry.
    int value = 0;
    for (char c : fillEntry.text()) value = value * 16 + std::max(hexDigitValue(c), 0);
    if (!fillEntry.text().empty()) fillBuffer(image_, static_cast<std::uint8_t>(value));
    states_.IdleState();
    return;
  }
  fillEntry.type(character);
  host_.setCaption(Control::FillEdit, fillEntry.text());
}

}  // namespace tandra
