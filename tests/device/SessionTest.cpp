// The typed calls under both front ends: settings in, results out, and a stop that holds.
#include <functional>

#include "WorkbenchFixture.h"
#include "common/HexText.h"

namespace tandra::test {
namespace {

class SessionTest : public WorkbenchFixture {
 protected:
  SessionTest() {
    startUp();
    session.select(typeNamed("27C256"), 3);
    for (std::int32_t a = 0; a < 0x8000; ++a)
      bench.session.image()[a] = static_cast<std::uint8_t>(a * 7);
  }
  Session& session = bench.session;
};

TEST_F(SessionTest, SettingsAreTakenAsValuesAndRefusedWhenTheProgrammerCannotTakeThem) {
  EXPECT_EQ(bench.session.image().deviceEndAddress, 0x7FFF);
  EXPECT_EQ(bench.session.settings().socketCount, 3);
  EXPECT_EQ(bench.session.settings().pulseWidth, 5);  // the type's own
  EXPECT_EQ(programmer.vppSelectCode(), 0xBF);        // its 12.5 V sent
  session.setVpp(2);
  EXPECT_EQ(programmer.vppSelectCode(), 0x1F);
  EXPECT_THROW(session.setPulseWidth(0), SettingError);
  EXPECT_THROW(session.setPulseWidth(256), SettingError);
  session.setPulseWidth(255);
  session.chooseSocketCount(9);
  EXPECT_EQ(bench.session.settings().socketCount, 5);

  const OperationResult& programmed = session.run(Operation::Program);
  EXPECT_TRUE(programmed.allPassed());
  EXPECT_EQ(programmer.pulseWidth(), 255);
  EXPECT_EQ(programmed.sockets.size(), 5u);
  EXPECT_TRUE(session.run(Operation::Verify).allPassed());
}

TEST_F(SessionTest, AStopOutlastsTheIdleCommandUntilResumed) {
  session.socketImages().set(2, ImageBuffer{}, "u2.bin", 41);
  session.stop();
  bench.BusyState();  // the idle command a Quit would not survive
  EXPECT_TRUE(session.stopped());
  programmer.clearPackets();
  const OperationResult& refused = session.run(Operation::Program);
  EXPECT_TRUE(programmer.packets().empty()) << "a stopped session sends nothing";
  EXPECT_TRUE(refused.stopped);
  for (const SocketResult& socket : refused.sockets) {
    EXPECT_EQ(socket.state, SocketResult::State::Stopped);
  }
  // Each result still names the socket's image and serial number, as a run's results do.
  EXPECT_EQ(refused.sockets.at(1).image, "u2.bin");
  EXPECT_EQ(refused.sockets.at(1).serialNumber, 41u);
  EXPECT_TRUE(session.read(1).stopped);
  session.socketImages().clear();

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

// The idle command that begins an operation meets the watchdog, and its reply comes later,
// while the pages go out: taken for the first page's reply, it would shift every reply by one,
// and a socket whose page was refused would be passed on the next socket's good status. Or its
// reply comes whole, but behind bytes of an earlier reply: out of step. Either way the
// operation sends no block or page, and passes no socket.
TEST_F(SessionTest, AnOperationWhoseIdleCommandWentWrongSendsNothingAndPassesNoSocket) {
  const std::function<void()> ways[] = {
      [this] { programmer.replyFaults().delayReplies(1, Clock::Millis(3500)); },
      [this] {
        // A firmware that sent headers alone sends a block behind one: the rest is on the line
        // when the next operation's idle command goes out.
        session.run(Operation::Verify);
        programmer.setFullLengthReplies(true);
        bench.BusyState();  // its idle command's header is read, the block behind it is not
      }};
  for (const auto& goWrong : ways) {
    // Socket 1 refuses the page at 0x2400: a bit of it is stuck the other way.
    programmer.insertChip(1, "27C256")
        .setStuckBit(0x2400, 3, (bench.session.image()[0x2400] & 0x08) == 0);
    programmer.insertChip(2, "27C256");
    goWrong();
    programmer.clearPackets();
    const OperationResult& program = session.run(Operation::Program);
    EXPECT_TRUE(program.stopped);
    for (const SocketResult& socket : program.sockets) {
      EXPECT_EQ(socket.state, SocketResult::State::Stopped) << socket.socket;
    }
    for (const auto& packet : programmer.packets()) EXPECT_NE(packet[0], opcode::ProgramBlock);

    // The late reply is gone by the next operation, which runs as on any clean link.
    const OperationResult& again = session.run(Operation::Program);
    EXPECT_EQ(again.sockets[0].describe(), "Not Programmed at 0x02400");
    EXPECT_EQ(again.sockets[1].state, SocketResult::State::Passed);
  }
}

// A bit flipped on the way is a byte the chip did not give: Verify fails there and names it.
TEST_F(SessionTest, ABitFlippedOnTheWayFailsVerifyWhereItLandedAndNowhereElse) {
  ASSERT_TRUE(session.run(Operation::Program).allPassed());
  programmer.replyFaults().flipReadBit(2, 0x123, 4);  // socket 1's and socket 2's first blocks
  const OperationResult& verify = session.run(Operation::Verify);
  for (int s : {1, 2}) {
    EXPECT_EQ(verify.sockets[static_cast<std::size_t>(s - 1)].describe(),
              "Didn't Verify at 0x00123: expected 0x" + hexByte(bench.session.image()[0x123]) +
                  ", read 0x" + hexByte(bench.session.image()[0x123] ^ 0x10));
  }
  EXPECT_EQ(verify.sockets[2].state, SocketResult::State::Passed);
  const auto& changes = programmer.replyFaults().changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].to.socket, 2);
  EXPECT_EQ(changes[1].to.address + changes[1].byte, 0x123u);

  // Drawn from a seed: one bit of one byte per block, each failing its socket there.
  programmer.replyFaults().clearChanges();
  programmer.replyFaults().flipReadBits(3, 99);
  const OperationResult& drawn = session.run(Operation::Verify);
  ASSERT_EQ(changes.size(), 3u);
  for (const auto& change : changes) {
    const SocketResult& socket = drawn.sockets[static_cast<std::size_t>(change.to.socket - 1)];
    ASSERT_TRUE(socket.failure);
    EXPECT_EQ(socket.failure->address, static_cast<std::int32_t>(change.to.address + change.byte));
  }
}

// The cable pulled in the middle of a Verify and put back: the run stops, and the programmer
// answers nothing until the operator has looked for it again.
TEST_F(SessionTest, APulledCableStopsTheRunAndTheProgrammerIsFoundAgainBeforeTheNext) {
  ASSERT_TRUE(session.run(Operation::Program).allPassed());
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 2000") programmer.setUnplugged(true);
  };
  const OperationResult& pulled = session.run(Operation::Verify);
  host.onPump = nullptr;
  EXPECT_TRUE(pulled.stopped);
  EXPECT_FALSE(pulled.allPassed());
  programmer.setUnplugged(false);

  const OperationResult& unanswered = session.run(Operation::Verify);
  EXPECT_TRUE(unanswered.stopped);
  for (const SocketResult& socket : unanswered.sockets) {
    EXPECT_EQ(socket.state, SocketResult::State::Stopped);
  }
  ASSERT_TRUE(session.connect());
  EXPECT_EQ(programmer.vppSelectCode(), 0xBF);  // the chosen type's voltage, sent again
  EXPECT_TRUE(session.run(Operation::Verify).allPassed());
}

// Program where it can: a Program Compare that did not run to its end has judged no socket, so
// no socket may be programmed on it, whatever ended it (the watchdog, a lost reply, a stop).
TEST_F(SessionTest, AProgramCompareThatStoppedProgramsNothing) {
  programmer.replyFaults().dropReplies(1);  // the compare's opening idle command goes unanswered
  programmer.clearPackets();
  const OperationResult& result = session.programWhereItCan();
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.allPassed());
  for (const std::vector<std::uint8_t>& packet : programmer.packets()) {
    EXPECT_NE(packet.front(), opcode::ProgramBlock) << "a page went out";
  }
  EXPECT_TRUE(session.programWhereItCan().allPassed()) << "and the next run is a whole one";

  // A stop held once, at any message pump of the compare (its opening idle command's among
  // them), as the production panel and a closing window hold it: no page reaches a chip.
  for (const int atPump : {1, 2, 3, 10, 30}) {
    SCOPED_TRACE(atPump);
    for (int socket = 1; socket <= 3; ++socket) programmer.insertChip(socket, "27C256");
    programmer.clearPackets();
    int pumps = 0;
    host.onPump = [&] {
      if (++pumps == atPump) session.stop();
    };
    EXPECT_TRUE(session.programWhereItCan().stopped);
    host.onPump = nullptr;
    session.resume();
    for (const std::vector<std::uint8_t>& packet : programmer.packets()) {
      EXPECT_NE(packet.front(), opcode::ProgramBlock) << "a page went out";
    }
  }
}

}  // namespace
}  // namespace tandra::test
