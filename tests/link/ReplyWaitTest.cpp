// Waits that end when a reply has come, by count: a reply read only for its header is not
// waited out to the read time-out, whatever length the firmware sends; a pause in a reply is
// waited out; and what comes of a reply late is never taken for the next reply.
#include <cstring>
#include <utility>

#include "HeldUpDriver.h"
#include "LinkFixture.h"
#include "link/ForwardingApi.h"

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

TEST_F(ReplyWaitTest, ABlockThatComesAfterAHeaderReadAloneIsTakenByCountNotAsAFault) {
  // The first reply of a connection tells how long this firmware's replies are; a pause right
  // after its header, longer than the quiet period, makes it look like a header alone. The block
  // behind it is owed, and whatever pause comes before it (under the watchdog's three seconds)
  // it is taken by count before a reply that is judged, never read as one.
  for (const int pauseMs : {40, 600, 2900}) {
    SCOPED_TRACE(pauseMs);
    link.newConnection();
    link.beginOperation();
    programmer.setFullLengthReplies(true);
    programmer.pauseReplies(1, 8, Clock::Millis(pauseMs));
    idleTakes();
    EXPECT_EQ(link.replyLength(), 8u);
    EXPECT_EQ(link.replyEnd(), ReplyEnd::Quiet);
    EXPECT_FALSE(link.replyLengthSettled());
    link.currentSocket = 1;
    link.SendReadBlock();  // judged: the owed blocks first
    EXPECT_TRUE(link.replyWhole());
    EXPECT_EQ(link.reply()[0], opcode::ReadBlock);
    EXPECT_TRUE(link.replyLengthSettled());
    EXPECT_EQ(link.headerReplyLength(), 2056u);
    EXPECT_TRUE(link.stepFault().empty()) << link.stepFault();
    EXPECT_EQ(link.quitFlag, 0);
    EXPECT_TRUE(link.confirmInStep());
    EXPECT_EQ(programmer.pendingReplyBytes(), 0u);
  }
  // A firmware that sends headers alone: the first judged reply waits until the line has been
  // quiet for the watchdog's period, once a connection, and nothing is out of step.
  link.newConnection();
  link.beginOperation();
  programmer.setFullLengthReplies(false);
  idleTakes();
  link.SendReadBlock();
  EXPECT_TRUE(link.replyLengthSettled());
  EXPECT_EQ(link.headerReplyLength(), 8u);
  EXPECT_TRUE(link.stepFault().empty()) << link.stepFault();
  EXPECT_LE(idleTakes(), 8 + 3);
}

TEST_F(ReplyWaitTest, AReplyThatTricklesInForLongerThanAnyQuietPeriodIsReadWhole) {
  // Every wait is counted from the last byte that came, never from the first.
  programmer.setFullLengthReplies(true);
  programmer.replyFaults().trickleReplies(1, 100, Clock::Millis(6));
  EXPECT_EQ(identified(), "1.20");
  EXPECT_EQ(link.headerReplyLength(), 2056u);  // 120 ms in all, 6 ms between pieces
  EXPECT_EQ(link.replyLength(), 2056u);
  programmer.replyFaults().trickleReplies(1, 100, Clock::Millis(400));
  link.currentSocket = 1;
  link.SendReadBlock();  // 8 seconds in all, 400 ms between pieces
  EXPECT_TRUE(link.replyWhole());
  EXPECT_EQ(link.replyEnd(), ReplyEnd::Complete);
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);
  EXPECT_TRUE(link.confirmInStep());
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

TEST_F(ReplyWaitTest, ARestIsWaitedForThreeSecondsFromItsLastByteNoLonger) {
  // Each byte is timed when it is seen, not when the read that took it returned.
  for (const auto& [pauseMs, whole] : {std::pair{2900, true}, std::pair{3100, false}}) {
    SCOPED_TRACE(pauseMs);
    link.newConnection();
    link.beginOperation();
    link.currentSocket = 1;
    programmer.pauseReplies(1, 100, Clock::Millis(pauseMs));
    const auto started = host.clock.now();
    link.SendReadBlock();
    EXPECT_EQ(link.replyWhole(), whole);
    if (!whole) {
      EXPECT_LE((host.clock.now() - started).count(), 3000 + 10);
    }
    programmer.clearFaults();
    host.sleepMs(1000);
  }
}

TEST_F(ReplyWaitTest, AFirmwareThatTricklesIsModelledInRealTimeToo) {
  // About 4 KB/s: 62 bytes every 15 ms, on the wire as a full-speed link carries them.
  programmer.setRealisticTiming(true);
  programmer.replyFaults().trickleReplies(1, 62, Clock::Millis(15));
  link.currentSocket = 1;
  const auto started = host.clock.now();
  link.SendReadBlock();
  EXPECT_TRUE(link.replyWhole());
  EXPECT_GE((host.clock.now() - started).count(), 2056 / 62 * 15);
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

namespace tandra::test {
namespace {

// The virtual programmer, and bytes no command asked for: `count` of them, `delay` after the
// next command with `opcode` went out (a reply of an earlier command that fell behind).
class StrayBytes final : public ForwardingApi {
 public:
  StrayBytes(VirtualProgrammer& inner, Clock& clock) : ForwardingApi(inner), clock_(clock) {}
  void after(std::uint8_t opcode, Clock::Millis delay, std::uint32_t count) {
    opcode_ = opcode;
    delay_ = delay;
    count_ = count;
  }
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override {
    const FtStatus status = ForwardingApi::GetQueueStatus(handle, rxBytes);
    if (status == ft::Ok) *rxBytes += arrived();
    return status;
  }
  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    if (count_ > 0 && static_cast<const std::uint8_t*>(buffer)[0] == opcode_) {
      strayAt_ = clock_.now() + delay_;
      stray_ = std::exchange(count_, 0);
    }
    return ForwardingApi::Write(handle, buffer, count, written);
  }
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                std::uint32_t* received) override {
    const std::uint32_t own = std::min(arrived(), count);
    std::memset(buffer, 0, own);
    stray_ -= own;
    std::uint32_t more = 0;
    const FtStatus status =
        ForwardingApi::Read(handle, static_cast<std::uint8_t*>(buffer) + own, count - own, &more);
    *received = own + more;
    return status;
  }

 private:
  std::uint32_t arrived() const { return clock_.now() >= strayAt_ ? stray_ : 0; }

  Clock& clock_;
  std::uint8_t opcode_ = 0;
  Clock::Millis delay_{0};
  std::uint32_t count_ = 0;
  Clock::Millis strayAt_{0};
  std::uint32_t stray_ = 0;
};

TEST(RepliesOutOfStep, BytesNoCommandAskedForStopTheRunAndSaySo) {
  TestHost host;
  VirtualProgrammer programmer{host.clock};
  StrayBytes stray{programmer, host.clock};
  D2XXUnit usb{stray, host.events};
  Link link{usb, host.events};
  host.onWatchdog = [&link] { link.Timer1Timer(); };
  usb.setErrorReporting(false);
  ASSERT_EQ(usb.Open_USB_Device_By_Serial_Number(""), ft::Ok);
  link.connectionState = kIdentified;
  link.newConnection();
  link.store(opcode::Identify);
  link.SendCommand();
  ASSERT_EQ(link.headerReplyLength(), 8u);

  // A page answered by bytes no command asked for: the count shows it at the next command, as
  // the page's own reply is then left over (how soon a reply comes is no evidence).
  link.beginOperation();
  stray.after(opcode::ProgramBlock, Clock::Millis(0), 8);
  link.packetLength = 264;
  link.replyDataLength = 0;
  link.store(opcode::ProgramBlock);
  link.SendCommand();
  EXPECT_TRUE(link.stepFault().empty());
  host.sleepMs(100);
  programmer.clearPackets();
  link.store(opcode::ProgramBlock);
  link.SendCommand();
  EXPECT_NE(link.stepFault().find("still on the line"), std::string::npos) << link.stepFault();
  EXPECT_TRUE(programmer.packets().empty()) << "no page goes out on a link out of step";
  EXPECT_EQ(link.faultLine(), link.stepFault());
  EXPECT_EQ(link.quitFlag, 5);
  link.packetLength = 8;
  link.replyDataLength = 2048;

  // Bytes that come after an operation's last reply, within the quiet period.
  host.sleepMs(100);
  link.SendIdle();
  link.beginOperation();
  EXPECT_TRUE(link.stepFault().empty());
  stray.after(opcode::Idle, Clock::Millis(3), 8);
  link.store(opcode::Idle);
  link.SendCommand();
  ASSERT_TRUE(link.replyWhole());
  EXPECT_FALSE(link.confirmInStep());
  EXPECT_NE(link.stepFault().find("came after the last reply"), std::string::npos);
}

// A host held up at any point (after a write, as a trace to a slow pipe holds it; before a look
// at the line; while it handles its messages, past the watchdog's period) never turns an honest
// reply into a fault: a page answered before the host looked, a reply that waited for the host.
TEST(RepliesOfAHostHeldUp, AreTakenAsTheyCameWithoutAFault) {
  using Call = HeldUpDriver::Call;
  struct Case {
    const char* where;
    Call call;
    std::int64_t ms;
  } const cases[] = {{"after a write", Call::Write, 23},     {"after a write", Call::Write, 500},
                     {"before a look", Call::QueueStatus, 23}, {"after a read", Call::Read, 500},
                     {"at a message pump", Call::Write, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.where) + " for " + std::to_string(c.ms) + " ms");
    TestHost host;
    VirtualProgrammer programmer{host.clock};
    HeldUpDriver heldUp{programmer, host.clock};
    D2XXUnit usb{heldUp, host.events};
    Link link{usb, host.events};
    host.onWatchdog = [&link] { link.Timer1Timer(); };
    usb.setErrorReporting(false);
    ASSERT_EQ(usb.Open_USB_Device_By_Serial_Number(""), ft::Ok);
    link.connectionState = kIdentified;
    link.newConnection();
    programmer.setRealisticTiming(true);    // a page takes its 20 ms, the wire its time
    programmer.setFullLengthReplies(true);  // its length known at once: no wait before a page
    link.store(opcode::Identify);
    link.SendCommand();
    link.beginOperation();
    bool held = false;
    heldUp.heldUpMs = [&](Call call) { return call == c.call ? c.ms : 0; };
    if (c.ms == 0) {  // one pump that takes longer than the watchdog's period, once
      host.onPump = [&] {
        if (std::exchange(held, true)) return;
        host.clock.advance(Clock::Millis(3100));
        host.processMessages();  // the timer's event comes at the end of the same pump
      };
    }
    for (const std::uint8_t op : {opcode::ProgramBlock, opcode::Idle, opcode::ProgramBlock}) {
      link.packetLength = op == opcode::ProgramBlock ? 264 : 8;
      link.replyDataLength = op == opcode::ProgramBlock ? 0 : 2048;
      link.store(op);
      link.SendCommand();
      EXPECT_TRUE(link.replyWhole()) << int{op};
      EXPECT_EQ(link.quitFlag, 0) << int{op};
    }
    EXPECT_TRUE(link.stepFault().empty()) << link.stepFault();
    EXPECT_TRUE(link.faultLine().empty()) << link.faultLine();
    EXPECT_TRUE(link.confirmInStep());
  }
}

}  // namespace
}  // namespace tandra::test
