#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tandra {

class ImageBuffer;

// The hex view's text and cursor, without a widget: one page of 256 bytes as a 72-character
// header describing the cursor byte and 16 data lines of 73 characters. Positions are counted
// as the view counts them, with every line break taking two characters, so data line r begins
// at 74 + 75r. Typed digits and characters go straight into the image buffer.
class HexView {
 public:
  static constexpr int kHeaderLength = 72;
  static constexpr int kDataLineLength = 73;
  static constexpr int kRows = 16;
  static constexpr int kPageSize = 256;

  enum class Key { PageUp, PageDown, End, Home, Left, Up, Right, Down, Other };

  // What the widget has to redo after an event.
  struct Effect {
    bool renderPage = false;        // rebuild the whole text
    bool writeHeader = false;       // replace line 0
    int byteLine = -1;              // data line (0-15) whose cursor byte changed
    bool openAddressEntry = false;  // the click was on the header's address
  };

  explicit HexView(ImageBuffer& image) : image_(image) {}

  std::int32_t pageStart = 0;
  int cursorRow = 0;
  int cursorColumn = 0;
  int nibbleFlag = 0;  // 0: the next digit replaces the high nibble
  int areaFlag = 0;    // 0: hex area, 1: ASCII area

  // Opening the view: the first page, cursor on its first byte.
  Effect open();
  Effect KeyDown(Key key);
  Effect KeyPress(char character);
  // A click that put the caret at `position`.
  Effect MouseDown(int position);
  // Enter in the address entry with its text; nothing happens for an empty text.
  Effect addressEntered(std::string_view text);
  // Characters the address entry takes: hexadecimal digits and Backspace.
  static bool addressEntryTakes(char character);

  std::string headerLine() const;
  std::string dataLine(int row) const;
  // The whole text, lines ended by CR LF.
  std::string pageText() const;
  // Where the caret stands: before the cursor byte's digit (hex area) or character.
  int caretPosition() const;
  std::int32_t cursorAddress() const { return pageStart + 16 * cursorRow + cursorColumn; }

  // The caret positions of a view that counts a line break as one character.
  static int toSingleBreakPosition(int position);
  static int fromSingleBreakPosition(int position);

 private:
  std::uint8_t byteAt(std::int32_t address) const;
  std::uint8_t& cursorByte();
  Effect render();
  void clampPageAtDeviceEnd();

  ImageBuffer& image_;
};

}  // namespace tandra
