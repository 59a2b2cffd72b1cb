#pragma once

#include <cstdint>
#include <functional>

#include "link/Commands.h"
#include "link/D2XXUnit.h"

namespace tandra {

class Host;

// Connection state: how far discovery got with the programmer.
enum ConnectionState : int {
  kNoProgrammer = 0,  // nothing reached
  kOpened = 1,        // opened (or tried) and asked, but no good answer
  kIdentified = 2,    // the programmer answered the identify command
};

// What the caller does with a reply: judges its header alone (a status, a version, a check
// value), or uses the data after it too (a read block).
enum class ReplyUse { Header, Data };

// What clears the way for the reply to a command before the command goes out.
enum class BeforeSend {
  // What is left of a reply whose unused end was not waited for is thrown away.
  DropLeftOver,
  // The line must first be quiet for the read time-out (unless every reply is waited out in
  // full): for a reply whose bytes are judged after a run of replies that were not.
  WaitForQuiet,
};

// The command packet protocol: packets are built in place at the start of the transfer
// unit's write buffer, never cleared between commands, and answered into its read buffer.
class Link {
 public:
  static constexpr int kDefaultReplyDataLength = 2048;
  static constexpr int kCommandLength = 8;
  static constexpr std::uint8_t kLostReplyStatus = 0x55;
  // The read time-out discovery sets: how long a read waits for bytes that do not come.
  static constexpr int kReadTimeoutMs = 500;
  // How often a wait looks at the receive queue.
  static constexpr int kPollMs = 1;

  Link(D2XXUnit& usb, Host& host) : usb_(usb), host_(host) {}

  // Values every sender and waiter uses.
  int packetLength = kCommandLength;
  int replyDataLength = kDefaultReplyDataLength;
  int quitFlag = 0;
  std::uint8_t watchdogFlag = 0;
  std::uint8_t controlByte = 0;
  std::uint8_t highAddressByte = 0;
  std::uint16_t latchValue = 0;
  int currentSocket = 1;
  int connectionState = kNoProgrammer;
  // Every reply is read to its full length, waiting out the read time-out where fewer bytes
  // come: for a programmer whose firmware pauses in the middle of a reply.
  bool fullWaits = false;

  // Set by the owner: what the idle command resets (the current address goes back to the
  // device start), and what a lost reply resets (the hex view's cursor row).
  std::function<void()> onCurrentAddressReset;
  std::function<void()> onReplyLost;

  std::uint8_t* packet() { return usb_.writeBuffer().data(); }
  const std::uint8_t* reply() const { return usb_.readBuffer().data(); }
  std::uint8_t replyStatus() const { return reply()[6]; }
  // A reply is usable when the bytes its use needs have arrived; the rest of the read buffer
  // still holds older bytes that must not pass for the programmer's answer.
  // The bytes the last wait read (0 after a lost reply).
  std::uint32_t replyLength() const { return replyLength_; }
  // The 8 header bytes: enough for a status, a version or a check value.
  bool replyHeaderArrived() const { return replyLength_ >= kCommandLength; }
  // The header and the reply data length after it: a read block's data.
  bool replyComplete() const {
    return replyLength_ >= static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  }
  D2XXUnit& usb() { return usb_; }

  // Stores the opcode and the fixed bytes of a command; parameters are the caller's, and
  // bytes the table marks "as left" are not touched.
  void store(std::uint8_t op);

  void SendCommand();
  // Sends the packet in the write buffer as it stands, whatever its opcode and the connection
  // state, with its checksum, and waits for the reply; `writeTimeOutLine` is logged when the
  // packet could not all be written.
  void SendAndWait(ReplyUse use, const char* writeTimeOutLine,
                   BeforeSend before = BeforeSend::DropLeftOver);
  void WaitReply(ReplyUse use = ReplyUse::Data);
  // How long the line must be quiet after a reply's header before the rest of the reply, not
  // used, is taken to be all there is.
  int quietPeriodMs() const;
  void SendReadBlock();
  void LatchLowAddress() { SendLatch(latch::LowAddress); }
  void LatchHighAddress() { SendLatch(latch::HighAddress); }
  void LatchControl() { SendLatch(latch::Control); }
  void SendIdle();
  // The voltage command; sent only to an identified programmer.
  void SendVoltage(std::uint8_t vppSelectCode, std::uint8_t vppLevelCode);

  // Socket selection for the current socket: adjusts bit 7 of the control byte and returns
  // the socket select code.
  std::uint8_t selectSocket();

  void Timer1Timer();  // the reply watchdog fired
  void Quit() { quitFlag = 5; }
  // A stop that the idle command does not clear, as Quit's is cleared: it ends the running work
  // and keeps every later wait and operation short until it is let go.
  void holdStop() {
    stopHeld_ = true;
    quitFlag = 5;
  }
  void releaseStop() { stopHeld_ = false; }
  bool stopHeld() const { return stopHeld_; }

 private:
  void SendLatch(std::uint8_t selector);
  void writePacket(const char* writeTimeOutLine);
  // Before a command that is answered: what is left of a reply whose unused end was not waited
  // for is thrown away, so that it cannot pass for the answer to come.
  void prepareForReply();
  // Throws away whatever comes until the line has been quiet for `quietMs`.
  void drainUntilQuiet(int quietMs);
  void drainReceiveQueue();
  std::uint32_t readHeaderThenQuiet(std::uint32_t full);

  D2XXUnit& usb_;
  Host& host_;
  std::uint32_t replyLength_ = 0;
  bool stopHeld_ = false;
  bool endedEarly_ = false;
};

}  // namespace tandra
