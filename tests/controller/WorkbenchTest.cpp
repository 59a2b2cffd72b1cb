#include "WorkbenchFixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/Trace.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class WorkbenchTest : public WorkbenchFixture {};

TEST_F(WorkbenchTest, StartUpIdentifiesSendsTheVoltageAndOpensTheDeviceList) {
  startUp();
  EXPECT_TRUE(bench.session.connected());
  EXPECT_EQ(host.caption(Control::Vpp_But), "Vpp = 25");
  EXPECT_EQ(host.caption(Control::Device), "No Device");
  ASSERT_EQ(programmer.packets().size(), 3u);
  EXPECT_EQ(programmer.packets()[1], (Bytes{0x90, 0x0F, 0xB0, 0, 0, 0, 0, 0x4F}));
  EXPECT_EQ(programmer.packets()[2][0], opcode::Idle);  // entering the busy state
  EXPECT_TRUE(host.buttonsBusy);
  EXPECT_FALSE(host.isVisible(Control::Memo1));
  EXPECT_TRUE(host.isVisible(Control::Device_Box));
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 0000");
}

TEST_F(WorkbenchTest, IdleStateShowsTheReachedAddressThenResetsIt) {
  startUp();
  host.visible.insert(Control::FillBox);
  host.visible.insert(Control::StaticText2);
  bench.session.image().currentAddress = 0x800;
  bench.IdleState();
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 0800");
  EXPECT_EQ(bench.session.image().currentAddress, 0);
  EXPECT_FALSE(host.isVisible(Control::FillBox));
  EXPECT_FALSE(host.isVisible(Control::StaticText2));
  EXPECT_TRUE(host.operationButtonsEnabled);
  EXPECT_EQ(packet()[0], opcode::Idle);
}

TEST_F(WorkbenchTest, WithoutAProgrammerTheIdleStateLeavesOperationButtonsDisabled) {
  programmer.setDeviceCount(0);
  startUp();
  bench.IdleState();
  EXPECT_FALSE(host.buttonsBusy);
  EXPECT_FALSE(host.operationButtonsEnabled);
  EXPECT_TRUE(programmer.packets().empty());
}

TEST_F(WorkbenchTest, ClosingAnIdentifiedProgrammerSendsIdleAndClosesIt) {
  startUp();
  programmer.clearPackets();
  bench.FormCloseQuery();
  ASSERT_EQ(programmer.packets().size(), 1u);
  EXPECT_EQ(packet()[0], opcode::Idle);
  EXPECT_EQ(programmer.closeCount(), 1);
  EXPECT_FALSE(host.watchdogRunning);
}

TEST_F(WorkbenchTest, ClosingInStateOneSendsNothingAndClosesNothing) {
  programmer.setIdentifyStatus(0xFF);
  startUp();
  ASSERT_EQ(bench.session.searchOutcome(), Discovery::Outcome::BadStatus);
  programmer.clearPackets();
  bench.FormCloseQuery();
  EXPECT_TRUE(programmer.packets().empty());
  EXPECT_EQ(programmer.closeCount(), 0);
}

TEST_F(WorkbenchTest, ALostReplyPutsTheHexViewCursorOnItsFirstRow) {
  startUp();
  bench.view.cursorRow = 9;
  programmer.dropReplies(1);
  bench.BusyState();  // its idle command goes unanswered
  EXPECT_EQ(bench.view.cursorRow, 0);
}

TEST_F(WorkbenchTest, StatusLineClickSearchesAgainAndEndsIdle) {
  programmer.setDeviceCount(0);
  startUp();
  programmer.setDeviceCount(1);
  bench.StaticText3Click();
  EXPECT_TRUE(bench.session.connected());
  EXPECT_EQ(host.caption(Control::StaticText3), "Usb Programmer Found - FirmWare Version 1.20");
  EXPECT_TRUE(host.operationButtonsEnabled);
  EXPECT_FALSE(host.buttonsBusy);
}

TEST_F(WorkbenchTest, MoveSaysWhetherItReadTheChipIntoTheBuffer) {
  startUp();
  EXPECT_FALSE(bench.readIntoBuffer());  // no type: stopped at its box
  choose("27C64", 1);                    // four blocks
  bench.session.stop();
  EXPECT_FALSE(bench.readIntoBuffer());  // a stop held from before the first block
  bench.session.resume();
  EXPECT_TRUE(bench.readIntoBuffer());

  // Stopped part way, the blocks before the stop are in the buffer.
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 0800") bench.Quit_Func_ButClick();
  };
  EXPECT_TRUE(bench.readIntoBuffer());
  host.onPump = nullptr;
  EXPECT_TRUE(bench.session.lastResult().stopped);
}

TEST_F(WorkbenchTest, ATraceTakesTheSearchsFactsAndEveryStatusLogLine) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("workbench-trace-" +
                     std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".trace");
  {
    auto trace = Trace::create(path.string());
    bench.setTrace(trace.get());
    startUp();
    bench.setTrace(nullptr);
    bench.events.insertLogLine("after the trace");
  }
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  file.close();  // Windows removes no open file
  std::filesystem::remove(path);
  EXPECT_NE(text.str().find(" fact firmware 1.20\n"), std::string::npos) << text.str();
  for (const std::string& line : host.log) {
    if (line == "after the trace") continue;
    EXPECT_NE(text.str().find(" log " + line + "\n"), std::string::npos) << line;
  }
  EXPECT_EQ(text.str().find("after the trace"), std::string::npos);
  EXPECT_FALSE(host.log.empty());
}

}  // namespace
}  // namespace tandra::test
