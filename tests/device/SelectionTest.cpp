#include "WorkbenchFixture.h"
#include "device/Catalogue.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SelectionTest : public WorkbenchFixture {
 protected:
  void typePulse(std::string_view keys) {
    for (char key : keys) bench.selection.P_EditKeyPress(key);
  }
};

TEST_F(SelectionTest, EveryCatalogueRowGivesItsTypeVoltageAndPulse) {
  const struct {
    int row;
    const char* caption;
    std::int32_t end;
    int family;
    const char* vpp;
    const char* pulse;
  } rows[] = {
      {1, "2716", 0x7FF, 1, "Vpp = 25", "40"},        {2, "27C16", 0x7FF, 1, "Vpp = 12.5", "40"},
      {4, "2732", 0xFFF, 2, "Vpp = 25", "10"},        {5, "2732A", 0xFFF, 2, "Vpp = 21", "10"},
      {6, "27C32", 0xFFF, 2, "Vpp = 12.5", "10"},     {8, "2764", 0x1FFF, 3, "Vpp = 21", "5"},
      {9, "2764A", 0x1FFF, 3, "Vpp = 12.5", "5"},     {10, "27C64", 0x1FFF, 3, "Vpp = 12.5", "5"},
      {12, "27128", 0x3FFF, 3, "Vpp = 21", "5"},      {13, "27128A", 0x3FFF, 3, "Vpp = 12.5", "5"},
      {14, "27C128", 0x3FFF, 3, "Vpp = 12.5", "5"},   {16, "27256", 0x7FFF, 4, "Vpp = 12.5", "5"},
      {17, "27C256", 0x7FFF, 4, "Vpp = 12.5", "5"},   {19, "27512", 0xFFFF, 5, "Vpp = 12.5", "5"},
      {20, "27C512", 0xFFFF, 5, "Vpp = 12.5", "5"},   {22, "27010", 0x1FFFF, 6, "Vpp = 12.5", "2"},
      {23, "27C1001", 0x1FFFF, 6, "Vpp = 12.5", "2"}, {25, "27C020", 0x3FFFF, 6, "Vpp = 12.5", "2"},
      {26, "27C2001", 0x3FFFF, 6, "Vpp = 12.5", "2"},
  };
  ASSERT_EQ(std::size(rows), kCatalogue.size());
  for (const auto& r : rows) {
    bench.selection.DeviceClick();
    bench.selection.Device_BoxClick(r.row);
    EXPECT_EQ(host.caption(Control::Device), r.caption) << r.row;
    EXPECT_EQ(bench.image.deviceEndAddress, r.end) << r.row;
    EXPECT_EQ(bench.settings.deviceFamily, r.family) << r.row;
    EXPECT_EQ(host.caption(Control::Vpp_But), r.vpp) << r.row;
    EXPECT_EQ(host.caption(Control::Pulse), std::string("Pulse = ") + r.pulse) << r.row;
    EXPECT_EQ(bench.selection.pulseEntry.text(), r.pulse) << r.row;
    EXPECT_TRUE(host.isVisible(Control::Num_Of_Devices)) << r.row;
    EXPECT_TRUE(host.boxes.empty()) << r.row;
  }
  EXPECT_EQ(kDeviceListRows[22].substr(0, 6), "27C010");  // the list reads 27C010
}

TEST_F(SelectionTest, RowsWithoutATypeSelectNoDeviceAndReturnToIdle) {
  choose(17, 2);  // a 27C256 first: its end address and count stay
  for (int row : {0, 3, 28, 29, 30, 31, 40, -1}) {
    host.boxes.clear();
    bench.selection.DeviceClick();
    bench.selection.Device_BoxClick(row);
    EXPECT_EQ(bench.settings.deviceFamily, 0) << row;
    EXPECT_EQ(host.caption(Control::Device), "No Device") << row;
    EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"No Device Was Selected."}) << row;
    EXPECT_FALSE(host.isVisible(Control::Num_Of_Devices)) << row;
    EXPECT_FALSE(host.buttonsBusy) << row;
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 5") << row;
    EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = 12.5") << row;
    EXPECT_EQ(bench.image.deviceEndAddress, 0x7FFF) << row;
    EXPECT_EQ(bench.settings.socketCount, 2) << row;
  }
}

TEST_F(SelectionTest, SocketCountPrefixesTheCaptionShowsLabelsAndEndAddress) {
  choose(20, 3);
  EXPECT_EQ(host.caption(Control::Device), "3 - 27C512");
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=FFFF");
  for (int socket = 1; socket <= 5; ++socket) {
    EXPECT_EQ(host.isVisible(socketLabel(socket)), socket <= 3) << socket;
  }
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_FALSE(host.isVisible(Control::Num_Of_Devices));

  choose(20, 5);  // the prefix is rebuilt, never stacked
  EXPECT_EQ(host.caption(Control::Device), "5 - 27C512");
  choose(1, 0);  // the header row counts as one socket
  EXPECT_EQ(host.caption(Control::Device), "1 - 2716");
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=07FF");
  EXPECT_TRUE(host.isVisible(Control::Device_1));
  EXPECT_FALSE(host.isVisible(Control::Device_2));
  choose(23, 1);
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=1FFFF");
}

TEST_F(SelectionTest, VppButtonCyclesAndSendsEachVoltageToAnIdentifiedProgrammer) {
  startUp();
  choose(17, 1);  // 12.5 V
  programmer.clearPackets();
  const struct {
    const char* caption;
    std::uint8_t select;
  } steps[] = {{"Vpp = 25", 0x0F}, {"Vpp = 21", 0x1F}, {"Vpp = 12.5", 0xBF}};
  for (const auto& step : steps) {
    bench.selection.Vpp_ButClick();
    EXPECT_EQ(host.caption(Control::Vpp_But), step.caption);
    const Bytes sent = packet();
    EXPECT_EQ(sent[0], 0x90);
    EXPECT_EQ(sent[1], step.select);
    EXPECT_EQ(sent[2], 0xB0);
    EXPECT_EQ(sent[7], static_cast<std::uint8_t>(0x90 + step.select + 0xB0 + sent[3] + sent[4] +
                                                 sent[5] + sent[6]));
  }
  EXPECT_EQ(programmer.packets().size(), 3u);
}

TEST_F(SelectionTest, VppButtonOnAnUnidentifiedProgrammerOnlyChangesTheCaption) {
  programmer.setIdentifyStatus(0xFF);
  startUp();
  ASSERT_EQ(bench.link.connectionState, kOpened);
  programmer.clearPackets();
  bench.selection.Vpp_ButClick();
  EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = 21");
  EXPECT_TRUE(programmer.packets().empty());
}

TEST_F(SelectionTest, PulseEntryFiltersKeysAndEnterSetsTheCaption) {
  bench.selection.PulseClick();
  EXPECT_TRUE(host.isVisible(Control::P_Edit));
  EXPECT_EQ(host.focused, Control::P_Edit);
  EXPECT_FALSE(host.buttonsBusy);  // the pulse entry opens without the busy state

  typePulse("\b");  // Backspace empties "40"
  typePulse("12X");
  EXPECT_EQ(host.caption(Control::P_Edit), "");
  typePulse("\r");  // Enter on an empty entry gives 20
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 20");
  EXPECT_EQ(host.caption(Control::P_Edit), "20");
  EXPECT_FALSE(host.isVisible(Control::P_Edit));
}

TEST_F(SelectionTest, PulseWidthsTheProgrammerCannotTakeAreRefused) {
  for (const char* width : {"0", "300", "256"}) {
    host.boxes.clear();
    bench.selection.PulseClick();
    typePulse("\b");
    typePulse(width);
    typePulse("\r");
    EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Pulse Width Must Be 1 To 255."}) << width;
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(host.isVisible(Control::P_Edit)) << width;  // left open with its text
    EXPECT_EQ(host.caption(Control::P_Edit), width);
    EXPECT_EQ(host.caption(Control::Pulse), "") << "the caption keeps its old value";
  }
  typePulse("\b255\r");
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 255");
}

TEST_F(SelectionTest, AStrayKeyInThePulseEntryNeverOverridesTheDeviceWidth) {
  // A stray key, or a letter in a full entry, marks the entry without changing its text.
  for (const char* stray : {"!", "\b123X"}) {
    bench.selection.PulseClick();
    typePulse(stray);
    typePulse("\r");
    choose(17, 1);  // 27C256: 5
    EXPECT_EQ(bench.selection.pulseEntry.text(), "5") << stray;
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 5") << stray;
    choose(1, 1);  // 2716: 40
    EXPECT_EQ(host.caption(Control::P_Edit), "40") << stray;
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 40") << stray;
  }
}

TEST_F(SelectionTest, AnEmptiedPulseEntryBecomesTwentyForGood) {
  startUp();
  choose(17, 1);
  for (const char* ending : {"\r", ""}) {
    host.boxes.clear();
    bench.selection.PulseClick();
    typePulse("\b\b");  // the second Backspace marks the empty entry
    typePulse(ending);
    if (*ending == '\0') bench.Program_EpromClick();
    EXPECT_TRUE(host.boxes.empty()) << "no box, and surely no library text";
    EXPECT_EQ(bench.selection.pulseEntry.text(), "20");
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 20");
  }
  EXPECT_EQ(programmer.pulseWidth(), 20);
}

TEST_F(SelectionTest, EscapeReturnsTheWindowToWhereItWasBeforeTheListOrEntryOpened) {
  startUp();
  bench.selection.Device_BoxEscape();  // the first choice has nothing to return to
  EXPECT_TRUE(host.isVisible(Control::Device_Box));

  choose(17, 2);
  bench.selection.DeviceClick();
  bench.selection.Device_BoxEscape();
  EXPECT_FALSE(host.isVisible(Control::Device_Box));
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_TRUE(host.isVisible(Control::Device_2));
  EXPECT_FALSE(host.isVisible(Control::Device_3));
  EXPECT_EQ(host.caption(Control::Device), "2 - 27C256");

  // In the count list the type just picked stays and the count is kept.
  bench.selection.DeviceClick();
  bench.selection.Device_BoxClick(1);
  bench.selection.Num_Of_DevicesEscape();
  EXPECT_FALSE(host.isVisible(Control::Num_Of_Devices));
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_EQ(bench.settings.socketCount, 2);
  EXPECT_EQ(host.caption(Control::Device), "2 - 2716");
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=07FF");

  bench.selection.PulseClick();
  typePulse("\b7\x1B");
  EXPECT_FALSE(host.isVisible(Control::P_Edit));
  EXPECT_EQ(host.caption(Control::P_Edit), "40");
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 40");
  EXPECT_EQ(bench.settings.pulseWidth, 40);
}

TEST_F(SelectionTest, AWidthAndVoltageKeptFromAnEarlierRunComeBackUnlessUnfit) {
  startUp();
  choose(17, 1);
  bench.selection.restoreWidthAndVoltage(7, 1);
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 7");
  EXPECT_EQ(host.caption(Control::P_Edit), "7");
  EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = 25");
  bench.Program_EpromClick();
  EXPECT_EQ(programmer.pulseWidth(), 7);

  // A settings file edited by hand: nothing the programmer cannot take goes through.
  bench.selection.restoreWidthAndVoltage(300, 9);
  EXPECT_EQ(bench.settings.pulseWidth, 7);
  EXPECT_EQ(bench.settings.vppSetting, 1);
  EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
}  // namespace tandra::test
