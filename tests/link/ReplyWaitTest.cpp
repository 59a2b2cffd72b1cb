// Waits that end when a reply has come: a reply read only for its header is not waited out to
// the read time-out, whatever length the firmware sends, and what comes of it late is never
// taken for the next reply.
#include "LinkFixture.h"

namespace tandra::test {
namespace {

class ReplyWaitTest : public LinkFixture {
 protected:
  ReplyWaitTest() { openIdentified(); }

  // The idle command, and how long it held the host.
  std::int64_t idleTakes() {
    const auto started = host.clock.now();
    link.store(opcode::Idle);
    link.SendCommand();
    return (host.clock.now() - started).count();
  }
  // The identify command's reply as the link read it: "1.20" for the programmer's firmware.
  std::string identified() {
    link.store(opcode::Identify);
    link.SendCommand();
    if (!link.replyHeaderArrived() || link.reply()[0] != opcode::Identify) return "no reply";
    return std::to_string(link.reply()[1]) + "." + std::to_string(link.reply()[2]);
  }
};

TEST_F(ReplyWaitTest, AHeaderOnlyReplyEndsTheWaitAfterTheQuietPeriodNotTheReadTimeout) {
  EXPECT_EQ(link.quietPeriodMs(), 8);  // the drivers' 2 ms latency timer, twice, and 4 ms
  EXPECT_LE(idleTakes(), 8 + 3);
  EXPECT_EQ(link.replyLength(), 8u);
  EXPECT_EQ(identified(), "1.20");
  // Full waits read every reply to its full length, as the protocol was first written.
  link.fullWaits = true;
  EXPECT_GE(idleTakes(), 500);
}

TEST_F(ReplyWaitTest, AFullLengthReplyIsReadWholeAndLeavesNothingBehind) {
  programmer.setFullLengthReplies(true);
  idleTakes();
  EXPECT_EQ(link.replyLength(), 2056u);
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);
  EXPECT_EQ(identified(), "1.20");
}

TEST_F(ReplyWaitTest, ARestThatComesLateIsThrownAwayBeforeTheNextCommandIsAnswered) {
  programmer.setFullLengthReplies(true);
  programmer.pauseReplies(1, 8, Clock::Millis(40));  // the header, then the data 40 ms on
  idleTakes();
  EXPECT_EQ(link.replyLength(), 8u);  // the wait ended once the line was quiet
  host.sleepMs(50);                   // the rest of the idle reply comes meanwhile
  EXPECT_EQ(identified(), "1.20");    // and is not taken for the identify reply
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);

  // With full waits the pause is waited out: the whole reply, then the next.
  link.fullWaits = true;
  programmer.pauseReplies(1, 8, Clock::Millis(40));
  idleTakes();
  EXPECT_EQ(link.replyLength(), 2056u);
  EXPECT_EQ(identified(), "1.20");
}

TEST_F(ReplyWaitTest, AReplyGivenUpOnIsThrownAwayByTheIdleCommand) {
  programmer.setReplyDelay(Clock::Millis(3500));  // later than the watchdog
  link.currentSocket = 1;
  link.SendReadBlock();
  ASSERT_FALSE(link.replyComplete());
  programmer.setReplyDelay(Clock::Millis(0));
  host.sleepMs(1000);  // the block comes meanwhile, with no wait to take it
  link.SendIdle();
  EXPECT_EQ(link.reply()[0], opcode::Idle);
  EXPECT_EQ(link.replyLength(), 8u);
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);
}

TEST_F(ReplyWaitTest, AReadBlockAlwaysWaitsForItsData) {
  programmer.pauseReplies(1, 1000, Clock::Millis(40));
  link.currentSocket = 1;
  link.SendReadBlock();
  EXPECT_EQ(link.replyLength(), 2056u);
  EXPECT_TRUE(link.replyComplete());
}

}  // namespace
}  // namespace tandra::test
