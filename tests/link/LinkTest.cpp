#include <array>
#include <vector>

#include "LinkFixture.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PacketChecksum, SumsHeaderBytesZeroToSixModulo256) {
  const std::uint8_t identify[8] = {0x56, 0, 0, 0, 0, 0, 0, 0xEE};
  const std::uint8_t flashCheck[8] = {0xAA, 0x43, 0, 0, 0, 0, 0, 0x11};
  const std::uint8_t readBlock[8] = {0x20, 0x00, 0x12, 0x80, 0xBE, 0x08, 0x00, 0x99};
  // Byte 6 counts too: the set-up's fixed 0xBF, a program block's socket select code.
  const std::uint8_t setUp[8] = {0x92, 0x00, 0xFF, 0xA0, 0xED, 0x3F, 0xBF, 0x00};
  const std::uint8_t programBlock[8] = {0x43, 0x02, 0x01, 0x14, 0xD8, 0xFD, 0xBB, 0x00};
  EXPECT_EQ(headerChecksum(identify), 0x56);
  EXPECT_EQ(headerChecksum(flashCheck), 0xED);
  EXPECT_EQ(headerChecksum(readBlock), 0x78);
  EXPECT_EQ(headerChecksum(setUp), 0x1C);
  EXPECT_EQ(headerChecksum(programBlock), 0xEA);
}

TEST(CommandTable, FixedBytesAreThoseOfTheCommandsAndAsLeftBytesAreNotStored) {
  EXPECT_EQ(commandLayout(opcode::SetUp).bytes[1], 0xFF);
  EXPECT_EQ(commandLayout(opcode::SetUp).bytes[5], 0xBF);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(commandLayout(opcode::Idle).bytes[i], kAsLeft);
  EXPECT_FALSE(isAnswered(opcode::Voltage));
  EXPECT_TRUE(isAnswered(opcode::Identify));
}

class LinkTest : public LinkFixture {};

TEST_F(LinkTest, ReadBlockCarriesSocketLengthAndChecksum) {
  openIdentified();
  link.highAddressByte = 0x12;
  link.controlByte = 0x00;
  link.currentSocket = 1;
  link.SendReadBlock();
  EXPECT_EQ(lastPacket(), (Bytes{0x20, 0x00, 0x12, 0x80, 0xBE, 0x08, 0x00, 0x78}));
  EXPECT_EQ(usb.readBuffer()[0], 0x20);  // the reply was read
}

TEST_F(LinkTest, SocketThreeClearsControlBitSevenAndItStaysClearedUntilTheNextSocket) {
  openIdentified();
  link.controlByte = 0xED;
  link.currentSocket = 3;
  link.SendReadBlock();
  EXPECT_EQ(lastPacket()[3], 0x6D);
  EXPECT_EQ(lastPacket()[4], 0xBF);
  EXPECT_EQ(link.controlByte, 0x6D);
  link.currentSocket = 4;
  link.SendReadBlock();
  EXPECT_EQ(lastPacket()[3], 0xED);
  EXPECT_EQ(lastPacket()[4], 0xBB);
}

TEST_F(LinkTest, LatchAfterReadBlockKeepsTheReadBlockBytesThreeToSix) {
  openIdentified();
  link.controlByte = 0x6D;
  link.highAddressByte = 0x44;
  link.currentSocket = 2;
  link.SendReadBlock();
  link.latchValue = 0x1234;
  link.LatchHighAddress();
  EXPECT_EQ(lastPacket(),
            (Bytes{0x94, 0x0F, 0x34, 0xED, 0xBD, 0x08, 0x00,
                   static_cast<std::uint8_t>(0x94 + 0x0F + 0x34 + 0xED + 0xBD + 0x08)}));
}

TEST_F(LinkTest, LongPacketsCarryThePayloadLeftInTheWriteBuffer) {
  openIdentified();
  link.packetLength = 264;
  link.replyDataLength = 0;
  for (int i = 0; i < 256; ++i) link.packet()[8 + i] = static_cast<std::uint8_t>(i);
  link.latchValue = 0x05;
  link.LatchLowAddress();
  ASSERT_EQ(lastPacket().size(), 264u);
  EXPECT_EQ(lastPacket()[8], 0x00);
  EXPECT_EQ(lastPacket()[263], 0xFF);
  // The payload takes no part in the checksum.
  EXPECT_EQ(lastPacket()[7], headerChecksum(lastPacket().data()));
}

TEST_F(LinkTest, CommandsAtOrAbove0x80AreNotAwaitedAndBelowAre) {
  openIdentified();
  link.SendVoltage(0x0F, 0xB0);
  EXPECT_EQ(host.watchdogStarts, 0);
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);
  link.SendIdle();
  EXPECT_EQ(host.watchdogStarts, 1);
  EXPECT_EQ(programmer.packets().back()[0], opcode::Idle);
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);  // the whole reply was read
}

TEST_F(LinkTest, IdleAndVoltageGoOnlyToAnIdentifiedProgrammer) {
  openIdentified();
  link.connectionState = kOpened;
  int resets = 0;
  link.onCurrentAddressReset = [&] { ++resets; };
  link.quitFlag = 5;
  link.SendIdle();
  link.SendVoltage(0x1F, 0xB0);
  EXPECT_TRUE(programmer.packets().empty());
  EXPECT_EQ(resets, 1);  // the address and quit flag are reset all the same
  EXPECT_EQ(link.quitFlag, 0);
  link.LatchControl();  // other commands do go out
  EXPECT_EQ(programmer.packets().size(), 1u);

  link.connectionState = kNoProgrammer;
  link.LatchControl();
  EXPECT_EQ(programmer.packets().size(), 1u);
}

TEST_F(LinkTest, UnansweredCommandMeetsTheWatchdogAfterThreeSeconds) {
  openIdentified();
  programmer.dropReplies(1);
  const auto started = host.clock.now();
  link.store(opcode::Idle);
  link.SendCommand();
  EXPECT_GE((host.clock.now() - started).count(), 3000);
  EXPECT_LT((host.clock.now() - started).count(), 3010);
  EXPECT_EQ(usb.readBuffer()[6], 0x55);
  ASSERT_FALSE(host.log.empty());
  EXPECT_EQ(host.log.front(), "Device no longer present ... PortStatus-0 USB-5");
  EXPECT_EQ(link.quitFlag, 5);
  EXPECT_EQ(link.watchdogFlag, 5);
  EXPECT_FALSE(host.watchdogRunning);
}

TEST_F(LinkTest, FailingQueueStatusEndsTheWaitAtOnce) {
  openIdentified();
  programmer.setQueueStatusFailure(true);
  int lost = 0;
  link.onReplyLost = [&] { ++lost; };
  link.store(opcode::Idle);
  link.SendCommand();
  EXPECT_EQ(host.log.front(), "Device no longer present ... PortStatus-4 USB-0");
  EXPECT_EQ(usb.readBuffer()[6], 0x55);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(link.quitFlag, 5);  // a programmer that cannot be asked ends the operation
  EXPECT_FALSE(link.replyComplete());
}

TEST_F(LinkTest, QuitDuringAWaitStillReadsWhatComesWithinTheReadTimeout) {
  openIdentified();
  programmer.setReplyDelay(Clock::Millis(200));
  host.onPump = [this] {
    if (host.pumps == 5) link.Quit();
  };
  link.currentSocket = 1;
  link.SendReadBlock();
  EXPECT_EQ(link.quitFlag, 5);
  // The wait stopped looking for the watchdog at Quit and went on to read, taking the reply
  // when it came rather than at the read time-out.
  EXPECT_LT(host.clock.now().count(), 500);
  EXPECT_EQ(usb.readBuffer()[0], opcode::ReadBlock);  // the late reply was still read
  EXPECT_EQ(programmer.pendingReplyBytes(), 0u);
  EXPECT_TRUE(host.log.empty());

  // A reply that never comes: Quit ends the wait at the read time-out, not at the watchdog.
  link.quitFlag = 0;
  programmer.dropReplies(1);
  int pumps = 0;
  host.onPump = [&] {
    if (++pumps == 5) link.Quit();
  };
  const auto started = host.clock.now();
  link.store(opcode::Idle);
  link.SendCommand();
  EXPECT_LT((host.clock.now() - started).count(), 1000);
}

TEST_F(LinkTest, ShortWriteIsLoggedTheWaitStillRunsAndTheRunningWorkEnds) {
  openIdentified();
  programmer.shortenWrites(1, 3);
  link.store(opcode::Idle);
  link.SendCommand();
  EXPECT_EQ(host.log.front(), "USB Device Write TimeOut ...");
  EXPECT_EQ(host.watchdogStarts, 1);
  EXPECT_EQ(usb.readBuffer()[0], opcode::Idle);
  // A write the driver gave up on is a programmer no longer reached.
  EXPECT_EQ(link.quitFlag, 5);
  EXPECT_EQ(link.faultLine(), "USB Device Write TimeOut ...");
}

}  // namespace
}  // namespace tandra::test
