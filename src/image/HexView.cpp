#include "image/HexView.h"

#include <algorithm>

#include "common/HexText.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

char shownCharacter(std::uint8_t value) {
  return value < 0x20 || value > 0x7F ? '.' : static_cast<char>(value);
}

// Where each line starts when a line break takes `breakLength` characters.
int lineStart(int line, int breakLength) {
  return line == 0 ? 0
                   : HexView::kHeaderLength + breakLength +
                         (line - 1) * (HexView::kDataLineLength + breakLength);
}

}  // namespace

std::uint8_t HexView::byteAt(std::int32_t address) const {
  return ImageBuffer::contains(address) ? image_[address] : 0x00;
}

std::uint8_t& HexView::cursorByte() {
  // Page moves keep the page inside the device range, which lies inside the buffer.
  const std::int32_t address = std::clamp(cursorAddress(), 0, ImageBuffer::kSize - 1);
  return image_[address];
}

std::string HexView::headerLine() const {
  const std::uint8_t value = byteAt(cursorAddress());
  return "Address = " + hexText(static_cast<std::uint32_t>(cursorAddress()), 5) +
         std::string(14, ' ') + "Hex Data = " + hexByte(value) + std::string(16, ' ') +
         "Ascii Data = " + shownCharacter(value);
}

std::string HexView::dataLine(int row) const {
  const std::int32_t start = pageStart + 16 * row;
  std::string line = hexText(static_cast<std::uint32_t>(start), 5) + "  ";
  std::string characters;
  for (int c = 0; c < 16; ++c) {
    const std::uint8_t value = byteAt(start + c);
    line += hexByte(value) + " ";
    characters += shownCharacter(value);
  }
  return line + "  " + characters;
}

std::string HexView::pageText() const {
  std::string text = headerLine();
  for (int row = 0; row < kRows; ++row) text += "\r\n" + dataLine(row);
  return text;
}

int HexView::caretPosition() const {
  if (areaFlag == 1) return 75 * (cursorRow + 1) + cursorColumn + 56;
  return 75 * (cursorRow + 1) + 3 * cursorColumn + 6 + nibbleFlag;
}

int HexView::toSingleBreakPosition(int position) {
  int line = 0;
  while (line < kRows && position >= lineStart(line + 1, 2)) ++line;
  const int length = line == 0 ? kHeaderLength : kDataLineLength;
  return lineStart(line, 1) + std::min(position - lineStart(line, 2), length);
}

int HexView::fromSingleBreakPosition(int position) {
  int line = 0;
  while (line < kRows && position >= lineStart(line + 1, 1)) ++line;
  return lineStart(line, 2) + (position - lineStart(line, 1));
}

HexView::Effect HexView::render() {
  nibbleFlag = 0;
  return Effect{.renderPage = true, .writeHeader = true};
}

HexView::Effect HexView::open() {
  pageStart = 0;
  cursorRow = 0;
  cursorColumn = 0;
  return render();
}

void HexView::clampPageAtDeviceEnd() {
  pageStart = std::max(image_.deviceEndAddress - (kPageSize - 1), 0);
}

HexView::Effect HexView::KeyDown(Key key) {
  Effect effect;
  switch (key) {
    case Key::PageUp:
      if (pageStart > 0) pageStart -= kPageSize;
      if (pageStart < 0) {
        pageStart = 0;
        cursorRow = 0;
        cursorColumn = 0;
      }
      effect = render();
      break;
    case Key::PageDown:
      pageStart += kPageSize;
      if (pageStart + kPageSize - 1 > image_.deviceEndAddress) {
        clampPageAtDeviceEnd();
        cursorRow = 0;
        cursorColumn = 0;
      }
      effect = render();
      break;
    case Key::End:
      cursorColumn = 15;
      break;
    case Key::Home:
      cursorColumn = 0;
      break;
    case Key::Left:
      if (nibbleFlag == 1) {
        nibbleFlag = 0;
      } else {
        --cursorColumn;
      }
      break;
    case Key::Up:
      --cursorRow;
      break;
    case Key::Right:
      ++cursorColumn;
      nibbleFlag = 0;
      break;
    case Key::Down:
      ++cursorRow;
      break;
    case Key::Other:
      break;
  }

  // Wrap off the ends of a line, then off the ends of the page.
  if (cursorColumn == -1) {
    cursorColumn = 15;
    --cursorRow;
  }
  if (cursorColumn == 16) {
    cursorColumn = 0;
    ++cursorRow;
  }
  if (cursorRow < 0) {
    cursorRow = 15;
    cursorColumn = 15;
    pageStart -= kPageSize;
    if (pageStart < 0) {
      pageStart = 0;
      cursorRow = 0;
      cursorColumn = 0;
    }
    effect = render();
  }
  if (cursorRow == 16) {
    cursorRow = 0;
    cursorColumn = 0;
    if (pageStart + kPageSize + kPageSize - 1 <= image_.deviceEndAddress) pageStart += kPageSize;
    effect = render();
  }
  effect.writeHeader = true;
  return effect;
}

HexView::Effect HexView::KeyPress(char character) {
  std::uint8_t& value = cursorByte();
  if (areaFlag == 1) {
    value = static_cast<std::uint8_t>(character);
  } else {
    const int digit = hexDigitValue(character);
    if (digit < 0) return {};
    if (nibbleFlag == 0) {
      value = static_cast<std::uint8_t>(digit * 16 + (value & 0x0F));
      nibbleFlag = 1;
      return Effect{.byteLine = cursorRow};
    }
    value = static_cast<std::uint8_t>((value & 0xF0) + digit);
    nibbleFlag = 0;
  }
  const Effect written{.byteLine = cursorRow};
  if (++cursorColumn < 16) return written;
  // After the last byte of a line the cursor stands on the first byte of the next line, or of
  // the next page (the same page's at the device end); it goes there at once, so that every
  // later key acts from the byte it shows and the header names the byte the next key writes.
  cursorColumn = 0;
  if (++cursorRow < kRows) return written;
  cursorRow = 0;
  if (pageStart + kPageSize + kPageSize - 1 <= image_.deviceEndAddress) pageStart += kPageSize;
  return render();
}

HexView::Effect HexView::MouseDown(int position) {
  Effect effect;
  effect.openAddressEntry = position <= 16;
  position = std::max(position, 80);
  cursorRow = std::min(position / 75 - 1, kRows - 1);
  const int r = std::max(position % 75 - 6, 0);
  if (r >= 48) {
    areaFlag = 1;
    cursorColumn = std::min(std::max(r, 50) - 50, 15);
  } else {
    areaFlag = 0;
    cursorColumn = std::min(r / 3, 15);
    nibbleFlag = r % 3 == 1 || r % 3 == 2 ? 1 : 0;
  }
  effect.writeHeader = true;
  return effect;
}

bool HexView::addressEntryTakes(char character) {
  return hexDigitValue(character) >= 0 || character == '\b';
}

HexView::Effect HexView::addressEntered(std::string_view text) {
  if (text.empty()) return {};
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = hexDigitValue(c);
    if (digit < 0) return {};  // the entry takes nothing else
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  // Only address bits 4 to 19 count: a sixth digit is dropped.
  pageStart = static_cast<std::int32_t>(value & 0xFFFF0);
  if (pageStart + kPageSize >= image_.deviceEndAddress) clampPageAtDeviceEnd();
  return render();
}

}  // namespace tandra
