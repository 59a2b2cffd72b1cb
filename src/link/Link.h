#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/Commands.h"
#include "link/D2XXUnit.h"

namespace tandra {

class Host;
class Trace;

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
  // Nothing may be waiting: bytes that are, are what is left of an earlier reply. After a reply
  // the host gave up on they are thrown away; after one it read in full they mean the replies
  // fell out of step with the commands.
  DropLeftOver,
  // After a reply the host gave up on, the line must first be quiet for the read time-out: for
  // a reply whose bytes are judged after a run of replies that were not (the flash check).
  WaitForQuiet,
};

// Why the last reply wait ended.
enum class ReplyEnd {
  Complete,  // every byte the reply has came
  Quiet,     // the line went quiet after the header, and the reply's length was not yet known
  TimeOut,   // the rest did not come in time
  Stopped,   // Quit, or a stop, ended the wait
  Lost,      // the watchdog fired, or the programmer could no longer be asked
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
  // The write time-out: a write that has not gone out by then never will.
  static constexpr int kWriteTimeoutMs = 5000;
  // How often a wait looks at the receive queue.
  static constexpr int kPollMs = 1;

  Link(D2XXUnit& usb, Host& host) : usb_(usb), host_(host) {}

  // The value of the quit and watchdog flags that ends the operation in progress: a Quit click,
  // the watchdog, a lost device. It stays until the next idle command clears it.
  static constexpr int kStop = 5;

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
  // The programmer is looked for while it restarts: a reply that does not come is no news.
  bool lookingAgain = false;

  // Set by the owner: what the idle command resets (the current address goes back to the
  // device start), and what a lost reply resets (the hex view's cursor row).
  std::function<void()> onCurrentAddressReset;
  std::function<void()> onReplyLost;

  std::uint8_t* packet() { return usb_.writeBuffer().data(); }
  const std::uint8_t* reply() const { return usb_.readBuffer().data(); }
  std::uint8_t replyStatus() const { return reply()[6]; }
  // A reply is usable when the bytes its use needs have arrived; the rest of the read buffer
  // still holds older bytes that must not pass for the programmer's answer.
  // The bytes the last wait read (0 after a lost reply), and how many the reply has.
  std::uint32_t replyLength() const { return replyLength_; }
  std::uint32_t replyExpected() const { return expected_; }
  // Every byte of the last reply came: it is whole by count, and so is the answer to its command.
  bool replyWhole() const { return expected_ > 0 && replyLength_ >= expected_; }
  ReplyEnd replyEnd() const { return end_; }
  // How long a reply whose data is not used (idle, identify, a firmware record, the flash check)
  // is: the 8-byte header alone, or the header and 2,048 bytes, as this firmware sends them;
  // 0 until the identify reply of this connection has told.
  std::uint32_t headerReplyLength() const { return headerReplyLength_; }
  // Whether the length of the replies read for their header alone is known for certain. A
  // connection whose identify reply looked like a header alone does not yet know it: a firmware
  // that pauses after a header may still send the block behind it (see ReplyReading.cpp).
  bool replyLengthSettled() const { return lengthSettled_; }
  // What the first-contact check found, with the reply watchdog's period for every pause: the
  // identify reply's whole length settles the question for this connection.
  void settleReplyLength(std::uint32_t identifyReplyLength);
  // The 8 header bytes: enough for a status, a version or a check value.
  bool replyHeaderArrived() const { return replyLength_ >= kCommandLength; }
  // The header and the reply data length after it: a read block's data.
  bool replyComplete() const {
    return replyLength_ >= static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  }
  D2XXUnit& usb() { return usb_; }
  Host& host() { return host_; }

  // Stores the opcode and the fixed bytes of a command; parameters are the caller's, and
  // bytes the table marks "as left" are not touched.
  void store(std::uint8_t op);

  void SendCommand();
  // Sends the packet in the write buffer as it stands, whatever its opcode and the connection
  // state, with its checksum, and waits for the reply; `writeTimeOutLine` is logged when the
  // packet could not all be written. False, with nothing sent, when the line had to be quiet
  // first and kept talking (or a stop was asked meanwhile).
  bool SendAndWait(ReplyUse use, const char* writeTimeOutLine,
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

  // --- Replies in step with their commands ---
  // A new connection: nothing is known of the firmware's reply lengths, and whatever an earlier
  // session left on the line is thrown away.
  void newConnection();
  // An operation begins: it starts with no fault, and its opening idle command throws away what
  // a reply given up on in an earlier operation still brought.
  void beginOperation();
  // At the end of an operation: waits until the line has been quiet for the quiet period after
  // the last reply; false (the replies out of step) when more bytes came meanwhile.
  bool confirmInStep();
  // The blocks that replies read for their header alone may still owe, taken by count before a
  // command; before a judged command, the line is first given the reply watchdog's period.
  void takeOwedBlocks(bool judged);
  // Throws away whatever comes until the line has been quiet for `quietMs`; false when it kept
  // talking for kTalkLimitMs (said in the status log), or a stop was asked.
  bool drainUntilQuiet(int quietMs);
  // Why the replies fell out of step with the commands, in the status log's words; empty while
  // they are in step.
  const std::string& stepFault() const { return stepFault_; }
  // The first line that told why the running work ended early without the operator asking
  // (the programmer lost, a reply incomplete, the replies out of step); empty when none did.
  const std::string& faultLine() const { return faultLine_; }
  void recordFault(const std::string& line) {
    if (faultLine_.empty()) faultLine_ = line;
  }
  // Where each reply wait and each byte thrown away is written as well; nullptr for none.
  Trace* trace = nullptr;

  // The identified programmer can no longer be reached at all (its cable pulled, its USB chip
  // gone from the bus): every call on its handle fails. Nothing more is sent to it, and it has
  // to be found again, until which this stays.
  bool programmerLost() const { return programmerLost_; }

  void Timer1Timer();  // the reply watchdog fired
  void Quit() { quitFlag = quitBeforeWatchdog_ = kStop; }
  // A stop that the idle command does not clear, as Quit's is cleared: it ends the running work
  // and keeps every later wait and operation short until it is let go.
  void holdStop() {
    stopHeld_ = true;
    quitFlag = quitBeforeWatchdog_ = kStop;
  }
  // Quit, the watchdog, a lost programmer or a stop asked the running work to end. The one that
  // an operation's loop adds when it has reached the device end is no such request: the replies
  // still due (the closing idle command's) are read as any other.
  bool stopAsked() const { return quitFlag >= kStop; }
  // The same, asked since the quit flag stood at `quitAtStart`, or a stop held: what ends a wait
  // of its own (the line falling quiet, owed blocks). A quit flag left raised by a reply lost
  // earlier (the firmware update goes on through them) does not end such a wait before it began.
  bool stopAskedSince(int quitAtStart) const {
    return stopHeld_ || (stopAsked() && quitAtStart < kStop);
  }
  // The longest a reply may stop for, before its first byte or between two, before it is given
  // up on: the reply watchdog's period.
  static constexpr int kReplyGapMs = 3000;
  // The longest a line that keeps talking is listened to before the talk is given up on, and
  // what the status log then says.
  static constexpr int kTalkLimitMs = 3000;
  static constexpr const char* kTalkingLine =
      "the line kept talking for 3 s: this may not be a programmer";
  void releaseStop() { stopHeld_ = false; }
  bool stopHeld() const { return stopHeld_; }

 private:
  void SendLatch(std::uint8_t selector);
  void writePacket(const char* writeTimeOutLine);
  // Before a command that is answered: nothing may be waiting on the line (see BeforeSend).
  // `judged`: the reply's bytes are judged (a block's data, a page's status, the flash check).
  // False when the replies are out of step.
  bool prepareForReply(bool judged);
  // A command not sent: its wait ends at once, with nothing read.
  void unsent(ReplyUse use);
  void drainReceiveQueue();

  // The reply after its first byte, by count where its length is known (ReplyReading.cpp).
  std::uint32_t expectedLength(ReplyUse use) const;
  void readReply(ReplyUse use);
  void learnReplyLength(std::uint32_t full);
  std::uint32_t readWhileComing(std::uint32_t got, std::uint32_t full, int quietMs);
  // What of the reply comes within `withinMs`, up to `count` bytes from `got` on: the protocol's
  // read with its time-out, each byte timed as it is seen.
  std::uint32_t readWithin(std::uint32_t got, std::uint32_t count, int withinMs);
  // Reads what the driver holds, up to `count` bytes from `got` on, and times the last of it.
  std::uint32_t takeQueued(std::uint32_t got, std::uint32_t count);
  void readRest(std::uint32_t got);
  void replyEnded(ReplyUse use);
  void outOfStep(const std::string& line);
  // A line that kept talking when it had to be quiet: said in the status log and the trace.
  void talking(const std::string& line);
  void traceReply() const;

  D2XXUnit& usb_;
  Host& host_;
  std::uint32_t replyLength_ = 0;
  std::uint32_t expected_ = 0;
  ReplyEnd end_ = ReplyEnd::Complete;
  std::uint32_t headerReplyLength_ = 0;
  // The last reply was a header read alone where the firmware might send more.
  bool lastReplyHeaderOnly_ = false;
  // When the last byte of a reply was seen (never sooner than it came).
  std::int64_t lastByteAtMs_ = 0;
  // Whether the replies read for their header alone are known to be just that, and what the
  // ones read so tentatively would still owe if this firmware sends a block behind each.
  bool lengthSettled_ = true;
  std::uint32_t owedBytes_ = 0;
  // The quit flag as it stood when the watchdog fired: given back when the reply was there all
  // the same (the host was held up, not the programmer).
  int quitBeforeWatchdog_ = 0;
  // A reply was given up on (lost, cut short, stopped), and its rest may still come: bytes
  // before the next command are that rest, not a fault.
  bool inDoubt_ = true;
  bool clearDoubtAfterReply_ = false;
  std::string stepFault_;
  std::string faultLine_;
  bool stopHeld_ = false;
  bool programmerLost_ = false;
};

}  // namespace tandra
