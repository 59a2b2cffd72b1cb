#include <algorithm>
#include <fstream>
#include <sstream>

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

// A click on each type's row shows what the listing of the types says (tests/data/devices.txt,
// which tandra-cli devices is held to as well): the button's caption, the image window, the
// voltage and the pulse the entry starts with.
TEST_F(SelectionTest, EveryTypeOfTheListingGivesItsCaptionVoltageAndPulse) {
  std::ifstream listing(std::string(TANDRA_TEST_DATA) + "/devices.txt");
  ASSERT_TRUE(listing.is_open());
  int types = 0;
  for (std::string line; std::getline(listing, line); ++types) {
    SCOPED_TRACE(line);
    std::istringstream words(line);
    std::string name, size, by, eight, vpp, volts, unit, pulse, width;
    words >> name >> size >> by >> eight >> vpp >> volts >> unit >> pulse >> width;
    const auto row =
        std::find_if(deviceListRows().begin(), deviceListRows().end(),
                     [&](std::string_view text) { return text.starts_with(name + " "); });
    ASSERT_NE(row, deviceListRows().end());
    bench.selection.DeviceClick();
    bench.selection.Device_BoxClick(static_cast<int>(row - deviceListRows().begin()));
    const std::string caption = name == "27C010" ? "27010" : name;  // as the button always had it
    EXPECT_EQ(host.caption(Control::Device), caption);
    EXPECT_EQ(bench.session.image().deviceEndAddress, std::stoi(size) * 1024 - 1);
    EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = " + volts);
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = " + width);
    EXPECT_EQ(bench.selection.pulseEntry.text(), width);
    EXPECT_TRUE(host.isVisible(Control::Num_Of_Devices));
    EXPECT_TRUE(host.boxes.empty());
  }
  EXPECT_EQ(types, 19);
}

// A row that shows no voltage (a heading, a blank row, an EEPROM) and a row past the list.
TEST_F(SelectionTest, RowsWithoutATypeSelectNoDeviceAndReturnToIdle) {
  choose("27C256", 2);  // first: its end address and count stay
  std::vector<int> rows = {-1, static_cast<int>(deviceListRows().size())};
  for (std::size_t row = 0; row < deviceListRows().size(); ++row) {
    if (deviceListRows()[row].find("V)") == std::string_view::npos) {
      rows.push_back(static_cast<int>(row));
    }
  }
  for (int row : rows) {
    host.boxes.clear();
    bench.selection.DeviceClick();
    bench.selection.Device_BoxClick(row);
    EXPECT_EQ(bench.session.settings().deviceFamily, 0) << row;
    EXPECT_EQ(host.caption(Control::Device), "No Device") << row;
    EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"No Device Was Selected."}) << row;
    EXPECT_FALSE(host.isVisible(Control::Num_Of_Devices)) << row;
    EXPECT_FALSE(host.buttonsBusy) << row;
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 5") << row;
    EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = 12.5") << row;
    EXPECT_EQ(bench.session.image().deviceEndAddress, 0x7FFF) << row;
    EXPECT_EQ(bench.session.settings().socketCount, 2) << row;
  }
}

TEST_F(SelectionTest, SocketCountPrefixesTheCaptionShowsLabelsAndEndAddress) {
  choose("27C512", 3);
  EXPECT_EQ(host.caption(Control::Device), "3 - 27C512");
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=FFFF");
  for (int socket = 1; socket <= 5; ++socket) {
    EXPECT_EQ(host.isVisible(socketLabel(socket)), socket <= 3) << socket;
  }
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_FALSE(host.isVisible(Control::Num_Of_Devices));

  choose("27C512", 5);  // the prefix is rebuilt, never stacked
  EXPECT_EQ(host.caption(Control::Device), "5 - 27C512");
  choose("2716", 0);  // the header row counts as one socket
  EXPECT_EQ(host.caption(Control::Device), "1 - 2716");
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=07FF");
  EXPECT_TRUE(host.isVisible(Control::Device_1));
  EXPECT_FALSE(host.isVisible(Control::Device_2));
  choose("27C1001", 1);
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=1FFFF");
}

TEST_F(SelectionTest, VppButtonCyclesAndSendsEachVoltageToAnIdentifiedProgrammer) {
  startUp();
  choose("27C256", 1);  // 12.5 V
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
  ASSERT_EQ(bench.session.searchOutcome(), Discovery::Outcome::BadStatus);
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
    choose("27C256", 1);  // 5
    EXPECT_EQ(bench.selection.pulseEntry.text(), "5") << stray;
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 5") << stray;
    choose("2716", 1);  // 40
    EXPECT_EQ(host.caption(Control::P_Edit), "40") << stray;
    EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 40") << stray;
  }
}

TEST_F(SelectionTest, AnEmptiedPulseEntryBecomesTwentyForGood) {
  startUp();
  choose("27C256", 1);
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

  choose("27C256", 2);
  bench.selection.DeviceClick();
  bench.selection.Device_BoxEscape();
  EXPECT_FALSE(host.isVisible(Control::Device_Box));
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_TRUE(host.isVisible(Control::Device_2));
  EXPECT_FALSE(host.isVisible(Control::Device_3));
  EXPECT_EQ(host.caption(Control::Device), "2 - 27C256");

  // In the count list the type just picked stays and the count is kept.
  bench.selection.DeviceClick();
  bench.selection.Device_BoxClick(rowOf("2716"));
  bench.selection.Num_Of_DevicesEscape();
  EXPECT_FALSE(host.isVisible(Control::Num_Of_Devices));
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_EQ(bench.session.settings().socketCount, 2);
  EXPECT_EQ(host.caption(Control::Device), "2 - 2716");
  EXPECT_EQ(host.caption(Control::End_Add), "End Of Eprom=07FF");

  bench.selection.PulseClick();
  typePulse("\b7\x1B");
  EXPECT_FALSE(host.isVisible(Control::P_Edit));
  EXPECT_EQ(host.caption(Control::P_Edit), "40");
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 40");
  EXPECT_EQ(bench.session.settings().pulseWidth, 40);
}

TEST_F(SelectionTest, AWidthAndVoltageKeptFromAnEarlierRunComeBackUnlessUnfit) {
  startUp();
  choose("27C256", 1);
  bench.selection.restoreWidthAndVoltage(7, 1);
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 7");
  EXPECT_EQ(host.caption(Control::P_Edit), "7");
  EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = 25");
  bench.Program_EpromClick();
  EXPECT_EQ(programmer.pulseWidth(), 7);

  // A settings file edited by hand: nothing the programmer cannot take goes through.
  bench.selection.restoreWidthAndVoltage(300, 9);
  EXPECT_EQ(bench.session.settings().pulseWidth, 7);
  EXPECT_EQ(bench.session.settings().vppSetting, 1);
  EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
}  // namespace tandra::test
