#include <gtest/gtest.h>

#include "common/HexText.h"
#include "image/Checksum.h"
#include "image/HexView.h"
#include "image/ImageBuffer.h"

namespace tandra::test {
namespace {

using Key = HexView::Key;

class HexViewTest : public ::testing::Test {
 protected:
  HexViewTest() { image.deviceEndAddress = 0x1FFFF; }

  void press(char c) {
    view.KeyDown(Key::Other);
    view.KeyPress(c);
  }
  std::string line(int row) const { return view.dataLine(row); }

  ImageBuffer image;
  HexView view{image};
};

TEST_F(HexViewTest, AnAllZeroPageShowsItsHeaderAddressesAndCaret) {
  const HexView::Effect effect = view.open();
  EXPECT_TRUE(effect.renderPage);
  const std::string text = view.pageText();
  EXPECT_EQ(view.headerLine(),
            "Address = 00000              Hex Data = 00                Ascii Data = .");
  EXPECT_EQ(view.headerLine().size(), 72u);
  std::string zeros;
  for (int i = 0; i < 16; ++i) zeros += "00 ";
  EXPECT_EQ(line(0), "00000  " + zeros + "  ................");
  EXPECT_EQ(line(0).size(), 73u);
  EXPECT_EQ(line(15).substr(0, 5), "000F0");
  EXPECT_EQ(text.size(), 72u + 16 * 75);
  EXPECT_EQ(text.substr(74, 5), "00000");  // data line 0 begins at 74
  EXPECT_EQ(text.substr(74 + 75 * 3, 5), "00030");
  EXPECT_EQ(view.caretPosition(), 81);  // before the first digit of byte 0
  EXPECT_EQ(text[81], '0');
}

TEST_F(HexViewTest, CharactersFrom20To7FShowAsThemselves) {
  image[0] = 0x1F;
  image[1] = 0x20;
  image[2] = 0x7F;
  image[3] = 0x80;
  image[4] = 'A';
  view.open();
  EXPECT_EQ(line(0).substr(57, 5), std::string(".") + ' ' + '\x7F' + ".A");
}

TEST_F(HexViewTest, TwoDigitsWriteAByteAndTheHeaderLagsUntilTheNextKey) {
  view.open();
  press('4');
  EXPECT_EQ(view.nibbleFlag, 1);
  press('1');
  EXPECT_EQ(image[0], 0x41);
  EXPECT_EQ(line(0).substr(7, 2), "41");
  EXPECT_EQ(line(0)[57], 'A');
  EXPECT_EQ(view.cursorColumn, 1);
  EXPECT_EQ(view.nibbleFlag, 0);
  EXPECT_EQ(view.headerLine().substr(0, 42), "Address = 00001              Hex Data = 00");
}

TEST_F(HexViewTest, OnlyHexDigitsAreTakenInTheHexArea) {
  view.open();
  for (char c : {'G', ':', '@', 'z'}) {
    const HexView::Effect effect = view.KeyPress(c);
    EXPECT_EQ(effect.byteLine, -1);
  }
  EXPECT_EQ(view.cursorColumn, 0);
  EXPECT_EQ(view.nibbleFlag, 0);
  view.KeyPress('a');
  view.KeyPress('b');
  EXPECT_EQ(image[0], 0xAB);
}

TEST_F(HexViewTest, ArrowKeysMoveAndWrapInTheirOrder) {
  const struct {
    const char* what;
    std::int32_t page;
    int row, column, nibble;
    Key key;
    std::int32_t pageAfter;
    int rowAfter, columnAfter, nibbleAfter;
    bool renders;
  } cases[] = {
      {"Left from the low digit", 0x100, 2, 5, 1, Key::Left, 0x100, 2, 5, 0, false},
      {"Left from the high digit", 0x100, 2, 5, 0, Key::Left, 0x100, 2, 4, 0, false},
      {"Left at column 0", 0x100, 2, 0, 0, Key::Left, 0x100, 1, 15, 0, false},
      {"Right at the end of a line", 0x100, 2, 15, 1, Key::Right, 0x100, 3, 0, 0, false},
      {"Right at the end of the page", 0x100, 15, 15, 0, Key::Right, 0x200, 0, 0, 0, true},
      {"Right on the device's last page", 0x1FF00, 15, 15, 0, Key::Right, 0x1FF00, 0, 0, 0, true},
      {"Up at row 0", 0x200, 0, 7, 0, Key::Up, 0x100, 15, 15, 0, true},
      {"Up at row 0 of the first page", 0x000, 0, 7, 0, Key::Up, 0x000, 0, 0, 0, true},
      {"Down at row 15", 0x100, 15, 9, 0, Key::Down, 0x200, 0, 0, 0, true},
      {"Down keeps the column and nibble", 0x100, 3, 9, 1, Key::Down, 0x100, 4, 9, 1, false},
      {"Home", 0x100, 3, 9, 1, Key::Home, 0x100, 3, 0, 1, false},
      {"End", 0x100, 3, 9, 0, Key::End, 0x100, 3, 15, 0, false},
  };
  for (const auto& c : cases) {
    view.pageStart = c.page;
    view.cursorRow = c.row;
    view.cursorColumn = c.column;
    view.nibbleFlag = c.nibble;
    const HexView::Effect effect = view.KeyDown(c.key);
    EXPECT_EQ(view.pageStart, c.pageAfter) << c.what;
    EXPECT_EQ(view.cursorRow, c.rowAfter) << c.what;
    EXPECT_EQ(view.cursorColumn, c.columnAfter) << c.what;
    EXPECT_EQ(view.nibbleFlag, c.nibbleAfter) << c.what;
    EXPECT_EQ(effect.renderPage, c.renders) << c.what;
    EXPECT_TRUE(effect.writeHeader) << c.what;
  }
}

TEST_F(HexViewTest, ADigitAfterDownReplacesTheLowNibbleOfTheByteBelow) {
  view.open();
  press('7');
  view.KeyDown(Key::Down);
  view.KeyPress('3');
  EXPECT_EQ(image[0x00], 0x70);
  EXPECT_EQ(image[0x10], 0x03);
}

TEST_F(HexViewTest, TypingRunsOnToTheNextLineAndPage) {
  view.pageStart = 0x100;
  view.cursorRow = 15;
  view.cursorColumn = 15;
  view.areaFlag = 1;
  press('x');
  EXPECT_EQ(view.pageStart, 0x200);  // the cursor is on the next page, and so is the view
  press('y');
  EXPECT_EQ(image[0x1FF], 'x');
  EXPECT_EQ(image[0x200], 'y');
  EXPECT_EQ(view.pageStart, 0x200);
}

// Typing the last byte of a line, a page or the device leaves the cursor on the byte the next
// key writes, on the page shown; every key then acts from there.
TEST_F(HexViewTest, AfterTheLastByteOfALinePageOrDeviceEveryKeyActsFromWhereTheCursorIs) {
  image.deviceEndAddress = 0x3FFFF;
  const struct {
    const char* what;
    std::int32_t page;
    int row;
    Key key;
    std::int32_t pageAfter;
    std::int32_t cursorAfter;  // address
  } cases[] = {
      {"Right after a line", 0x100, 3, Key::Right, 0x100, 0x141},
      {"Left after a line", 0x100, 3, Key::Left, 0x100, 0x13F},
      {"Down after a line", 0x100, 3, Key::Down, 0x100, 0x150},
      {"Up after a line", 0x100, 3, Key::Up, 0x100, 0x130},
      {"PageUp after a line", 0x100, 3, Key::PageUp, 0x000, 0x040},
      {"PageDown after a line", 0x100, 3, Key::PageDown, 0x200, 0x240},
      {"Right after a page", 0x100, 15, Key::Right, 0x200, 0x201},
      {"Left after a page", 0x100, 15, Key::Left, 0x100, 0x1FF},
      {"Down after a page", 0x100, 15, Key::Down, 0x200, 0x210},
      {"Up after a page", 0x100, 15, Key::Up, 0x100, 0x1FF},
      {"PageUp after a page", 0x100, 15, Key::PageUp, 0x100, 0x100},
      {"PageDown after a page", 0x100, 15, Key::PageDown, 0x300, 0x300},
      {"Right after the device", 0x3FF00, 15, Key::Right, 0x3FF00, 0x3FF01},
      {"Down after the device", 0x3FF00, 15, Key::Down, 0x3FF00, 0x3FF10},
      {"PageDown after the device", 0x3FF00, 15, Key::PageDown, 0x3FF00, 0x3FF00},
  };
  for (int area : {0, 1}) {
    for (const auto& c : cases) {
      view.areaFlag = area;
      view.pageStart = c.page;
      view.cursorRow = c.row;
      view.cursorColumn = 15;
      view.nibbleFlag = 0;
      if (area == 0) view.KeyPress('A');
      view.KeyPress(area == 0 ? 'B' : 'b');  // the last byte of the line
      view.KeyDown(c.key);
      EXPECT_EQ(view.pageStart, c.pageAfter) << c.what << " area " << area;
      EXPECT_EQ(view.cursorAddress(), c.cursorAfter) << c.what << " area " << area;
      EXPECT_GE(view.cursorColumn, 0);
      EXPECT_LT(view.cursorColumn, 16) << c.what;
      EXPECT_LT(view.cursorRow, 16) << c.what;
      // The header names the byte the next key writes, and the line redrawn is that byte's.
      const std::int32_t target = view.cursorAddress();
      EXPECT_EQ(view.headerLine().substr(10, 5), hexText(static_cast<std::uint32_t>(target), 5));
      if (area == 0) view.KeyPress('7');
      const HexView::Effect typed = view.KeyPress('7');
      EXPECT_EQ(image[target], area == 0 ? 0x77 : '7') << c.what;
      if (!typed.renderPage) {
        EXPECT_EQ(typed.byteLine, (target - view.pageStart) / 16) << c.what;
      }
    }
  }
}

TEST_F(HexViewTest, PageKeysStayInsideTheDevice) {
  image.deviceEndAddress = 0x7FF;  // 2K
  view.pageStart = 0x600;
  view.cursorRow = 4;
  view.KeyDown(Key::PageDown);
  EXPECT_EQ(view.pageStart, 0x700);
  EXPECT_EQ(view.cursorRow, 4);
  view.KeyDown(Key::PageDown);
  EXPECT_EQ(view.pageStart, 0x700);
  EXPECT_EQ(view.cursorAddress(), 0x700);
  view.pageStart = 0x5F0;
  view.KeyDown(Key::PageDown);
  EXPECT_EQ(view.pageStart, 0x6F0);
  view.KeyDown(Key::PageDown);
  EXPECT_EQ(view.pageStart, 0x700);
  view.pageStart = 0x80;
  view.KeyDown(Key::PageUp);
  EXPECT_EQ(view.pageStart, 0);
  EXPECT_EQ(view.cursorAddress(), 0);

  image.deviceEndAddress = 0;  // before any device the first page stays
  view.KeyDown(Key::PageDown);
  EXPECT_EQ(view.pageStart, 0);
}

TEST_F(HexViewTest, AddressEntryKeepsBits4To19AndClampsAtTheDeviceEnd) {
  image.deviceEndAddress = 0x7FF;
  EXPECT_TRUE(view.addressEntered("5F0").renderPage);
  EXPECT_EQ(view.pageStart, 0x5F0);
  view.addressEntered("7f5");
  EXPECT_EQ(view.pageStart, 0x700);
  image.deviceEndAddress = 0x1FFFF;
  view.addressEntered("123456");  // 0x23450 before the clamp
  EXPECT_EQ(view.pageStart, 0x1FF00);
  image.deviceEndAddress = 0x3FFFF;
  view.addressEntered("123456");
  EXPECT_EQ(view.pageStart, 0x23450);
  view.cursorRow = 5;
  EXPECT_FALSE(view.addressEntered("").renderPage);
  EXPECT_EQ(view.pageStart, 0x23450);
  EXPECT_EQ(view.cursorRow, 5);
  EXPECT_TRUE(HexView::addressEntryTakes('f'));
  EXPECT_TRUE(HexView::addressEntryTakes('\b'));
  EXPECT_FALSE(HexView::addressEntryTakes('\x1B'));
  EXPECT_FALSE(HexView::addressEntryTakes('g'));
}

TEST_F(HexViewTest, ClicksPickRowColumnAndNibble) {
  view.open();
  for (int position : {322, 323}) {
    view.MouseDown(position);
    EXPECT_EQ(view.cursorRow, 3) << position;
    EXPECT_EQ(view.cursorColumn, 5) << position;
    EXPECT_EQ(view.nibbleFlag, 1) << position;
    EXPECT_EQ(view.areaFlag, 0) << position;
  }
  view.MouseDown(321);  // the high digit
  EXPECT_EQ(view.nibbleFlag, 0);
  view.MouseDown(40);  // in the header, past the address: row 0, column 0
  EXPECT_EQ(view.cursorAddress(), 0);
  EXPECT_FALSE(view.MouseDown(40).openAddressEntry);
  EXPECT_TRUE(view.MouseDown(12).openAddressEntry);
  EXPECT_TRUE(view.MouseDown(16).openAddressEntry);
}

TEST_F(HexViewTest, AClickInTheAsciiAreaTypesCharacters) {
  view.open();
  const int position = 75 * (2 + 1) + 56 + 4;  // row 2, character of byte 4
  view.MouseDown(position);
  EXPECT_EQ(view.areaFlag, 1);
  EXPECT_EQ(view.cursorColumn, 4);
  EXPECT_EQ(view.caretPosition(), position);
  view.KeyDown(Key::Other);
  EXPECT_EQ(view.KeyPress('Z').byteLine, 2);
  EXPECT_EQ(image[0x24], 0x5A);
  EXPECT_EQ(view.cursorColumn, 5);
  view.MouseDown(75 * 1 + 6 + 49);  // the gap before the characters counts as column 0
  EXPECT_EQ(view.cursorColumn, 0);
  EXPECT_EQ(view.areaFlag, 1);
}

TEST_F(HexViewTest, TheAreaFlagOutlivesReopening) {
  view.MouseDown(75 + 60);
  view.open();
  EXPECT_EQ(view.areaFlag, 1);
  EXPECT_EQ(view.cursorAddress(), 0);
}

TEST(HexViewPositions, ConvertBetweenTwoAndOneCharacterLineBreaks) {
  const struct {
    int twoCharacterBreaks, oneCharacterBreak;
  } cases[] = {{0, 0},
               {71, 71},
               {74, 73},
               {81, 80},
               {74 + 75, 73 + 74},
               {322, 322 - 4},
               {74 + 75 * 15 + 72, 73 + 74 * 15 + 72}};
  for (const auto& c : cases) {
    EXPECT_EQ(HexView::toSingleBreakPosition(c.twoCharacterBreaks), c.oneCharacterBreak);
    EXPECT_EQ(HexView::fromSingleBreakPosition(c.oneCharacterBreak), c.twoCharacterBreaks);
  }
  EXPECT_EQ(HexView::toSingleBreakPosition(73), 72);  // on the line break: the end of the line
}

TEST(HexViewBounds, NoPageEverReachesPastTheBuffer) {
  ImageBuffer image;
  image.deviceEndAddress = 0x3FFFF;
  fillBuffer(image, 0xEE);
  HexView view(image);
  view.addressEntered("FFFFF");
  EXPECT_EQ(view.pageStart, 0x3FF00);
  for (int i = 0; i < 40; ++i) view.KeyDown(HexView::Key::PageDown);
  EXPECT_EQ(view.pageStart, 0x3FF00);
  view.cursorRow = 15;
  view.cursorColumn = 15;
  view.KeyDown(HexView::Key::Down);
  EXPECT_EQ(view.pageStart, 0x3FF00);
  EXPECT_EQ(view.dataLine(15).substr(0, 5), "3FFF0");
}

}  // namespace
}  // namespace tandra::test
