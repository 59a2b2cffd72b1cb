// The typed calls under both front ends: settings in, results out, and a stop that holds.
#include "WorkbenchFixture.h"

namespace tandra::test {
namespace {

class SessionTest : public WorkbenchFixture {
 protected:
  SessionTest() {
    startUp();
    session.select(*catalogueEntry(17), 3);  // 27C256
    for (std::int32_t a = 0; a < 0x8000; ++a) bench.image[a] = static_cast<std::uint8_t>(a * 7);
  }
  Session& session = bench.session;
};

TEST_F(SessionTest, SettingsAreTakenAsValuesAndRefusedWhenTheProgrammerCannotTakeThem) {
  EXPECT_EQ(bench.image.deviceEndAddress, 0x7FFF);
  EXPECT_EQ(bench.settings.socketCount, 3);
  EXPECT_EQ(bench.settings.pulseWidth, 5);  // the type's own
  EXPECT_EQ(programmer.vppSelectCode(), 0xBF);  // its 12.5 V sent
  session.setVpp(2);
  EXPECT_EQ(programmer.vppSelectCode(), 0x1F);
  EXPECT_THROW(session.setPulseWidth(0), SettingError);
  EXPECT_THROW(session.setPulseWidth(256), SettingError);
  session.setPulseWidth(255);
  session.chooseSocketCount(9);
  EXPECT_EQ(bench.settings.socketCount, 5);

  const OperationResult& programmed = session.run(Operation::Program);
  EXPECT_TRUE(programmed.allPassed());
  EXPECT_EQ(programmer.pulseWidth(), 255);
  EXPECT_EQ(programmed.sockets.size(), 5u);
  EXPECT_TRUE(session.run(Operation::Verify).allPassed());
}

TEST_F(SessionTest, AStopOutlastsTheIdleCommandUntilResumed) {
  session.stop();
  bench.states.BusyState();  // the idle command a Quit would not survive
  EXPECT_GT(bench.link.quitFlag, 0);
  programmer.clearPackets();
  const OperationResult& refused = session.run(Operation::Program);
  EXPECT_TRUE(programmer.packets().empty()) << "a stopped session sends nothing";
  EXPECT_TRUE(refused.stopped);
  for (const SocketResult& socket : refused.sockets) {
    EXPECT_EQ(socket.state, SocketResult::State::Stopped);
  }

  // Asked for while an operation runs, from its first page on: no socket passes.
  session.resume();
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 0300") session.stop();
  };
  const OperationResult& stopped = session.run(Operation::Program);
  host.onPump = nullptr;
  EXPECT_TRUE(stopped.stopped);
  EXPECT_FALSE(stopped.allPassed());
  EXPECT_EQ(host.caption(Control::StaticText3), "Stopped at 0300....");
  EXPECT_TRUE(session.run(Operation::Verify).stopped) << "still stopped after the idle state";

  session.resume();
  EXPECT_TRUE(session.run(Operation::Program).allPassed());
}

}  // namespace
}  // namespace tandra::test
