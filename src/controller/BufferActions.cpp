#include "controller/BufferActions.h"

#include <algorithm>
#include <string>

#include "common/HexText.h"
#include "controller/Panel.h"
#include "device/Session.h"
#include "image/Checksum.h"

namespace tandra {

void BufferActions::Chk_Sum_ButClick() {
  session_.showChecksum();
}

void BufferActions::FillClick() {
  session_.enterBusyState();
  panel_.setVisible(Control::FillBox, true);
}

bool BufferActions::FillBoxClick(int item) {
  switch (item) {
    case 0:
      session_.fillImage(0x00);
      session_.enterIdleState();
      return true;
    case 1:
      session_.fillImage(0xFF);
      session_.enterIdleState();
      return true;
    case 2:
      panel_.setVisible(Control::FillEdit, true);
      fillEntry.setText(lastFillText);
      fillEntry.setClearMark(false);
      fillEntry.selectAll();
      panel_.setCaption(Control::FillEdit, fillEntry.text());
      panel_.setFocus(Control::FillEdit);
      break;
    case 3:
      FillBoxEscape();
      break;
    default:
      break;
  }
  return false;
}

void BufferActions::FillBoxEscape() {
  session_.enterIdleState();
}

bool BufferActions::FillEditKeyPress(char character) {
  if (character == LineEntry::kEscape) {
    FillBoxEscape();
    return false;
  }
  if (character == LineEntry::kEnter) {
    // The key filter lets nothing but hexadecimal digits stay in the entry.
    int value = 0;
    for (char c : fillEntry.text()) value = value * 16 + std::max(hexDigitValue(c), 0);
    const bool filled = !fillEntry.text().empty();
    if (filled) {
      session_.fillImage(static_cast<std::uint8_t>(value));
      lastFillText = fillEntry.text();
    }
    session_.enterIdleState();
    return filled;
  }
  fillEntry.type(character);
  panel_.setCaption(Control::FillEdit, fillEntry.text());
  return false;
}

}  // namespace tandra
