// The soak under injected faults: a short run, and the checks it holds every operation to,
// each shown to catch what it is there for.
#include <gtest/gtest.h>

#include "DeviceTypes.h"
#include "HonestSoak.h"
#include "Soak.h"
#include "SoakChecks.h"
#include "SoakRig.h"
#include "common/HexText.h"

namespace tandra::test {
namespace {

using State = SocketResult::State;
using Kind = sim::ReplyFaults::Kind;
using Standing = ChipStanding::Kind;

// A socket's result and an operation's, set by name: what the checks read of them.
SocketResult socketResult(int socket, State state, std::optional<SocketFailure> failure = {}) {
  SocketResult result;
  result.socket = socket;
  result.state = state;
  result.failure = failure;
  return result;
}
OperationResult operationResult(bool stopped) {
  OperationResult result;
  result.stopped = stopped;
  return result;
}

TEST(SoakRun, AShortRunFindsNoFalsePassNoHangAndALinkThatAlwaysRecovers) {
  Soak soak(20240611);
  soak.run(300);
  const Soak::Figures& figures = soak.figures();
  for (const std::string& finding : soak.findings()) ADD_FAILURE() << finding;
  EXPECT_TRUE(figures.clean());
  EXPECT_EQ(figures.operations, 300u);
  EXPECT_EQ(figures.cleanChecks, 600u);
  // The run asked for every fault and every verdict.
  for (std::size_t k = 0; k < Soak::kFaultKinds; ++k) {
    EXPECT_GT(figures.injected[k], 0u) << Soak::faultName(static_cast<Soak::Fault>(k));
  }
  EXPECT_GT(figures.repliesChanged, 100u);
  EXPECT_GT(figures.socketsPassed, 100u);
  EXPECT_GT(figures.socketsFailed, 50u);
  EXPECT_GT(figures.socketsStopped, 50u);
}

TEST(SoakRun, AnHonestProgrammerOnAnUnsteadyHostEndsEveryOperationAsItsChipsStand) {
  HonestSoak soak(20261209);
  soak.run(200);
  const HonestSoak::Figures& figures = soak.figures();
  for (const std::string& finding : soak.findings()) ADD_FAILURE() << finding;
  EXPECT_TRUE(figures.clean());
  // The run met every condition it is there for, and both verdicts.
  EXPECT_GT(figures.heldUpMs, 10000u);
  EXPECT_GT(figures.pausedReplies, 50u);
  EXPECT_GT(figures.trickledReplies, 10u);
  EXPECT_GT(figures.socketsPassed, 100u);
  EXPECT_GT(figures.socketsFailed, 50u);
}

TEST(SoakRun, TheSameSeedRunsTheSameOperations) {
  Soak first(7), second(7), other(8);
  for (Soak* soak : {&first, &second, &other}) soak->run(20);
  EXPECT_EQ(first.figures().injected, second.figures().injected);
  EXPECT_EQ(first.figures().socketsPassed, second.figures().socketsPassed);
  EXPECT_EQ(first.figures().repliesChanged, second.figures().repliesChanged);
  EXPECT_EQ(first.findings(), second.findings());
  EXPECT_NE(first.figures().injected, other.figures().injected);
}

TEST(SoakRig, AnOperationPastItsBoundIsAHang) {
  SoakRig rig;
  ASSERT_TRUE(rig.session.connect());
  rig.session.select(typeNamed("27C256"), 2);
  rig.programmer.dropReplies(1000);  // the watchdog ends it after 3 s: longer than allowed here
  EXPECT_THROW(rig.run(Operation::Verify, 1000), Hang);
  EXPECT_FALSE(rig.host.onPump);
}

TEST(SoakChecks, WhatAPassPromisesOfEachByte) {
  struct Case {
    Operation operation;
    std::uint8_t chip, wanted;
    bool kept;
  } const cases[] = {
      {Operation::Program, 0x3C, 0x3C, true},         {Operation::Program, 0x3D, 0x3C, false},
      {Operation::Verify, 0x00, 0x00, true},          {Operation::Verify, 0xFF, 0x7F, false},
      {Operation::BlankCheck, 0xFF, 0x12, true},      {Operation::BlankCheck, 0xFE, 0xFE, false},
      {Operation::ProgramCompare, 0xFF, 0x12, true},  {Operation::ProgramCompare, 0x3F, 0x0F, true},
      {Operation::ProgramCompare, 0x0F, 0x10, false}, {Operation::Move, 0x00, 0xFF, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(passPromise(c.operation, c.chip, c.wanted), c.kept)
        << static_cast<int>(c.operation) << " " << int{c.chip} << " " << int{c.wanted};
  }
}

class SoakChecksOnChips : public ::testing::Test {
 protected:
  SoakChecksOnChips() {
    for (std::int32_t a = 0; a <= kEnd; ++a) {
      image[a] = static_cast<std::uint8_t>(a * 13);
      chip.cells()[static_cast<std::size_t>(a)] = image[a];
    }
  }
  // A read block reply to `socket` from `block` on, with bit `bit` of data byte `byte` flipped.
  static sim::ReplyFaults::Change flip(int socket, std::uint32_t block, std::size_t byte, int bit) {
    return {Kind::FlippedBit, {0x20, socket, block, true}, byte, bit};
  }
  static constexpr std::int32_t kEnd = 0x1FFF;
  ImageBuffer image;
  Eprom chip{sim::chipNamed("27C64")};
};

TEST_F(SoakChecksOnChips, APassedSocketsChipIsReadBackAndABadByteIsFound) {
  EXPECT_EQ(passedSocketStanding(Operation::Verify, chip, 2, image, kEnd, {}).kind, Standing::Kept);
  chip.setStuckBit(0x1234, 0, (image[0x1234] & 1) == 0);
  const ChipStanding broken = passedSocketStanding(Operation::Verify, chip, 2, image, kEnd, {});
  EXPECT_EQ(broken.kind, Standing::Broken);
  EXPECT_EQ(broken.firstBroken, 0x1234);
  EXPECT_EQ(broken.describe(), "differs at 0x01234 (chip 0x" + hexByte(chip.read(0x1234)) + ")");
  // The same byte sent with that bit flipped looked right: no host could have told.
  EXPECT_EQ(
      passedSocketStanding(Operation::Verify, chip, 2, image, kEnd, {flip(2, 0x1000, 0x234, 0)})
          .kind,
      Standing::OnlyFlippedOnTheWay);
  // Flipped for another socket, at another byte or bit: the pass was false.
  for (const auto& other : {flip(1, 0x1000, 0x234, 0), flip(2, 0x1000, 0x235, 0),
                            flip(2, 0x1000, 0x234, 1), flip(2, 0x0800, 0x234, 0)}) {
    EXPECT_EQ(passedSocketStanding(Operation::Verify, chip, 2, image, kEnd, {other}).kind,
              Standing::Broken);
  }
  EXPECT_EQ(passedSocketStanding(Operation::ProgramCompare, chip, 2, image, kEnd, {}).kind,
            chip.read(0x1234) > image[0x1234] ? Standing::Kept : Standing::Broken);
  EXPECT_EQ(passedSocketStanding(Operation::BlankCheck, chip, 2, image, kEnd, {}).firstBroken, 0);
}

TEST_F(SoakChecksOnChips, AMoveMustLeaveSocketOnesBytesInTheBuffer) {
  EXPECT_EQ(movedBufferStanding(chip, image, kEnd, {}).kind, Standing::Kept);
  image[0x0ABC] ^= 0x40;
  EXPECT_EQ(movedBufferStanding(chip, image, kEnd, {}).firstBroken, 0x0ABC);
  EXPECT_EQ(movedBufferStanding(chip, image, kEnd, {flip(1, 0x0800, 0x2BC, 6)}).kind,
            Standing::OnlyFlippedOnTheWay);
}

TEST_F(SoakChecksOnChips, AFailureMustNameTheFirstBadByteAsTheHostWasGivenIt) {
  chip.cells()[0x0100] = 0x00;
  image[0x0100] = 0x01;
  const SocketResult told = socketResult(3, State::Failed, SocketFailure{0x0100, 0x01, 0x00});
  EXPECT_EQ(failureProblem(Operation::Verify, told, chip, image, kEnd, {}), std::nullopt);

  SocketResult wrongByte = told;
  wrongByte.failure->actual = 0x20;  // a byte of some other reply
  EXPECT_TRUE(failureProblem(Operation::Verify, wrongByte, chip, image, kEnd, {}));
  // ... unless that is what a flipped bit made of it.
  EXPECT_EQ(
      failureProblem(Operation::Verify, wrongByte, chip, image, kEnd, {flip(3, 0x0000, 0x100, 5)}),
      std::nullopt);

  chip.cells()[0x0080] ^= 0x01;  // an earlier bad byte the host did not see
  EXPECT_TRUE(failureProblem(Operation::Verify, told, chip, image, kEnd, {}));

  const SocketResult outside = socketResult(3, State::Failed, SocketFailure{0x2000, 0xFF, 0x00});
  EXPECT_TRUE(failureProblem(Operation::BlankCheck, outside, chip, image, kEnd, {}));
}

TEST_F(SoakChecksOnChips, ARefusedPageMustBeOneTheChipDoesNotHold) {
  const SocketResult refused = socketResult(1, State::Failed, SocketFailure{0x0400, {}, {}});
  EXPECT_TRUE(failureProblem(Operation::Program, refused, chip, image, kEnd, {}));
  chip.cells()[0x04FF] ^= 0x80;
  EXPECT_EQ(failureProblem(Operation::Program, refused, chip, image, kEnd, {}), std::nullopt);
  const SocketResult midPage = socketResult(1, State::Failed, SocketFailure{0x0410, {}, {}});
  EXPECT_TRUE(failureProblem(Operation::Program, midPage, chip, image, kEnd, {}));
}

TEST(SoakChecks, EverySocketInUseHasOneResultAndNonePassesAStoppedOperation) {
  const auto result = [](bool stopped, std::vector<std::pair<int, State>> sockets) {
    OperationResult made = operationResult(stopped);
    for (const auto& [socket, state] : sockets) {
      made.sockets.push_back(socketResult(
          socket, state, state == State::Failed ? std::optional(SocketFailure{}) : std::nullopt));
    }
    return made;
  };
  struct Case {
    OperationResult result;
    int sockets;
    std::size_t problems;
  } const cases[] = {
      {result(false, {{1, State::Passed}, {2, State::Failed}}), 2, 0},
      {result(true, {{1, State::Stopped}, {2, State::Failed}}), 2, 0},
      {result(true, {{1, State::Passed}, {2, State::Stopped}}), 2, 1},  // passed though stopped
      {result(false, {{1, State::Passed}}), 2, 1},                      // one missing
      {result(false, {{1, State::Passed}, {1, State::Passed}}), 2, 2},  // twice, out of place
      {result(false, {{2, State::Passed}, {1, State::Passed}}), 2, 2},  // out of order
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resultProblems(Operation::Verify, c.result, c.sockets).size(), c.problems)
        << &c - cases;
  }
  EXPECT_EQ(resultProblems(Operation::Move, result(false, {}), 3).size(), 0u);
  EXPECT_EQ(resultProblems(Operation::Move, result(false, {{1, State::Passed}}), 1).size(), 1u);
  OperationResult silent = result(false, {{1, State::Failed}});
  silent.sockets[0].failure.reset();
  EXPECT_EQ(resultProblems(Operation::Verify, silent, 1).size(), 1u);
}

TEST(SoakChecks, ASocketWhoseBlockGotNoWholeReplyIsNeverPassed) {
  OperationResult result = operationResult(false);
  for (int s = 1; s <= 3; ++s) result.sockets.push_back(socketResult(s, State::Passed));
  const ReplyChanges changes = {{Kind::Lost, {0x43, 2, 0x300, false}},
                                {Kind::Cut, {0x20, 3, 0x800, true}},
                                {Kind::Late, {0x43, 1, 0x300, false}},  // late is not lost
                                {Kind::Lost, {0x24, 0, 0, false}}};     // the idle command's
  EXPECT_EQ(
      unansweredButPassed(result, changes),
      (std::vector<std::string>{"socket 2 passed although a reply to it was lost or cut short",
                                "socket 3 passed although a reply to it was lost or cut short"}));
  result.sockets[1].state = State::Stopped;
  result.sockets[2].state = State::Failed;
  EXPECT_TRUE(unansweredButPassed(result, changes).empty());
}

}  // namespace
}  // namespace tandra::test
