// Faults the virtual programmer injects on demand, as the driver sees them: replies late for a
// count of commands only, and a cable pulled and put back.
#include "LinkFixture.h"

namespace tandra::test {
namespace {

class InjectedFaultsTest : public LinkFixture {
 protected:
  InjectedFaultsTest() { openIdentified(); }

  // Writes the idle command straight to the driver, as the link would, without waiting.
  void writeIdle() {
    link.store(opcode::Idle);
    link.packet()[7] = headerChecksum(link.packet());
    ASSERT_EQ(usb.WriteFTBuffer(8), 8u);
  }
  std::uint32_t arrived() {
    EXPECT_EQ(usb.GetFTQueueStatus(), ft::Ok);
    return usb.queueCount();
  }
};

TEST_F(InjectedFaultsTest, LateRepliesAreLateForTheirCountOnlyAndRecorded) {
  programmer.replyFaults().delayReplies(2, Clock::Millis(3500));
  for (int late = 0; late < 2; ++late) {
    writeIdle();
    host.clock.advance(Clock::Millis(3499));
    EXPECT_EQ(arrived(), 0u) << late;
    host.clock.advance(Clock::Millis(1));
    EXPECT_EQ(arrived(), 8u) << late;
    usb.ReadFTBuffer(8);
  }
  writeIdle();
  EXPECT_EQ(arrived(), 8u);
  const auto& changes = programmer.replyFaults().changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].kind, sim::ReplyFaults::Kind::Late);
  EXPECT_EQ(changes[1].to.command, opcode::Idle);
}

TEST_F(InjectedFaultsTest, ClearedFaultsLeaveRepliesAsTheyCome) {
  programmer.dropReplies(5);
  programmer.cutReplies(5, 3);
  programmer.replyFaults().delayReplies(5, Clock::Millis(4000));
  programmer.pauseReplies(5, 2, Clock::Millis(100));
  programmer.clearFaults();
  writeIdle();
  EXPECT_EQ(arrived(), 8u);
  EXPECT_TRUE(programmer.replyFaults().changes().empty());
}

TEST_F(InjectedFaultsTest, APulledCableLeavesTheHandleDeadUntilTheProgrammerIsOpenedAgain) {
  link.SendVoltage(0xBF, 0xB0);
  EXPECT_EQ(programmer.vppSelectCode(), 0xBF);
  programmer.setUnplugged(true);
  EXPECT_EQ(usb.GetFTQueueStatus(), ft::IoError);
  EXPECT_EQ(usb.GetFTDeviceCount(), ft::Ok);
  EXPECT_EQ(usb.deviceCount(), 0u);  // gone from the bus

  // Back in: a new device to the driver, and a programmer that has started afresh.
  programmer.setUnplugged(false);
  EXPECT_EQ(usb.GetFTDeviceCount(), ft::Ok);
  EXPECT_EQ(usb.deviceCount(), 1u);
  EXPECT_EQ(usb.GetFTQueueStatus(), ft::IoError);
  EXPECT_EQ(usb.WriteFTBuffer(8), 0u);
  EXPECT_EQ(programmer.vppSelectCode(), 0x00);
  EXPECT_EQ(usb.CloseFTDevice(), ft::Ok);
  EXPECT_EQ(usb.Open_USB_Device_By_Serial_Number(""), ft::Ok);
  writeIdle();
  EXPECT_EQ(arrived(), 8u);
}

}  // namespace
}  // namespace tandra::test
