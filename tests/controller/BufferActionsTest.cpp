#include "WorkbenchFixture.h"
#include "image/Checksum.h"

namespace tandra::test {
namespace {

class BufferActionsTest : public WorkbenchFixture {
 protected:
  void typeFill(std::string_view keys) {
    for (char key : keys) bench.buffer.FillEditKeyPress(key);
  }
  bool filledWith(std::uint8_t value) const {
    for (std::int32_t a = 0; a < ImageBuffer::kSize; ++a) {
      if (bench.session.image()[a] != value) return false;
    }
    return true;
  }
};

TEST_F(BufferActionsTest, FillListFillsTheWholeBufferAndEndsIdle) {
  bench.buffer.FillClick();
  EXPECT_TRUE(host.buttonsBusy);
  EXPECT_FALSE(host.quitEnabled);
  EXPECT_TRUE(host.isVisible(Control::FillBox));
  bench.buffer.FillBoxClick(1);
  EXPECT_TRUE(filledWith(0xFF));
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_FALSE(host.isVisible(Control::FillBox));

  bench.buffer.FillClick();
  bench.buffer.FillBoxClick(0);
  EXPECT_TRUE(filledWith(0x00));
}

TEST_F(BufferActionsTest, CancelAndNoSelectionLeaveTheBuffer) {
  bench.session.image()[5] = 0x77;
  bench.buffer.FillClick();
  bench.buffer.FillBoxClick(-1);
  EXPECT_TRUE(host.buttonsBusy);  // nothing happens until a row is clicked
  bench.buffer.FillBoxClick(3);
  EXPECT_EQ(bench.session.image()[5], 0x77);
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_TRUE(host.quitEnabled);

  // Escape in the list, or in the byte entry with a digit typed, is Cancel.
  bench.buffer.FillClick();
  bench.buffer.FillBoxEscape();
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_FALSE(host.isVisible(Control::FillBox));
  bench.buffer.FillClick();
  bench.buffer.FillBoxClick(2);
  typeFill("5\x1B");
  EXPECT_EQ(bench.session.image()[5], 0x77);
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_FALSE(host.isVisible(Control::FillEdit));
}

TEST_F(BufferActionsTest, TypedByteFillsWithItsValue) {
  bench.buffer.FillClick();
  bench.buffer.FillBoxClick(2);
  EXPECT_TRUE(host.isVisible(Control::FillEdit));
  EXPECT_EQ(host.focused, Control::FillEdit);
  EXPECT_TRUE(host.buttonsBusy);
  typeFill("7\r");
  EXPECT_TRUE(filledWith(0x07));
  EXPECT_FALSE(host.isVisible(Control::FillEdit));
  EXPECT_FALSE(host.isVisible(Control::FillBox));
  EXPECT_FALSE(host.buttonsBusy);
}

TEST_F(BufferActionsTest, EntryKeyFilterEmptiesOnWrongKeys) {
  const struct {
    const char* keys;
    const char* shown;
  } cases[] = {{"AG", ""}, {"A\b", ""}, {"AG5", "5"}, {"c3", "C3"}};
  for (const auto& c : cases) {
    bench.buffer.FillClick();
    bench.buffer.FillBoxClick(2);
    typeFill(c.keys);
    EXPECT_EQ(host.caption(Control::FillEdit), c.shown) << c.keys;
    typeFill("\r");
  }
  EXPECT_TRUE(filledWith(0xC3));
}

TEST_F(BufferActionsTest, EnterOnAnEmptyEntryLeavesTheBuffer) {
  bench.session.image()[0x3FFFF] = 0x42;
  bench.buffer.FillClick();
  bench.buffer.FillBoxClick(2);
  typeFill("\r");
  EXPECT_EQ(bench.session.image()[0x3FFFF], 0x42);
  EXPECT_FALSE(host.buttonsBusy);
}

TEST_F(BufferActionsTest, ChecksumRefreshShowsTheSumAndTheStartAddress) {
  startUp();
  bench.selection.Device_BoxClick(rowOf("2716"));
  bench.selection.Num_Of_DevicesClick(1);
  fillBuffer(bench.session.image(), 0xFF);
  bench.session.image().currentAddress = 0x400;
  programmer.clearPackets();
  bench.buffer.Chk_Sum_ButClick();
  EXPECT_EQ(host.caption(Control::Chk_Sum_But), "CheckSum=F800");
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 0000");
  EXPECT_EQ(programmer.packets().size(), 2u);  // idle before the sum, idle in the idle state
  EXPECT_FALSE(host.buttonsBusy);
}

}  // namespace
}  // namespace tandra::test
