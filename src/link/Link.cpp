#include "link/Link.h"

#include <algorithm>
#include <string>

#include "link/Host.h"
#include "link/Trace.h"

namespace tandra {

void Link::store(std::uint8_t op) {
  std::uint8_t* p = packet();
  p[0] = op;
  const CommandLayout& layout = commandLayout(op);
  for (int i = 0; i < 6; ++i) {
    if (layout.bytes[i] >= 0) p[i + 1] = static_cast<std::uint8_t>(layout.bytes[i]);
  }
}

namespace {
constexpr const char* kWriteTimeOutLine = "USB Device Write TimeOut ...";
}

void Link::SendCommand() {
  if (connectionState <= kNoProgrammer) return;
  const std::uint8_t op = packet()[0];
  if (!isAnswered(op)) {
    writePacket(kWriteTimeOutLine);
    return;
  }
  // Whether a page reached its chip is not read from how soon its reply came (a host held up,
  // a trace written to a slow disk, a firmware that answers a blank page at once all make an
  // honest reply look early): it is judged by its status, and Verify reads the chip back.
  if (op == opcode::ProgramBlock || op == opcode::ReadBlock) {
    // No block or page goes out on a link whose replies are out of step: its reply could not be
    // told from another's, and a page would pulse a chip for nothing.
    if (!prepareForReply(true)) return unsent(op == opcode::ReadBlock ? ReplyUse::Data
                                                                       : ReplyUse::Header);
    writePacket(kWriteTimeOutLine);
    WaitReply(op == opcode::ReadBlock ? ReplyUse::Data : ReplyUse::Header);
    return;
  }
  SendAndWait(ReplyUse::Header, kWriteTimeOutLine);
}

void Link::unsent(ReplyUse use) {
  replyLength_ = 0;
  expected_ = expectedLength(use);
  end_ = ReplyEnd::Stopped;
  traceReply();
}

bool Link::SendAndWait(ReplyUse use, const char* writeTimeOutLine, BeforeSend before) {
  if (before == BeforeSend::WaitForQuiet) {
    takeOwedBlocks(true);
    if (inDoubt_ && !drainUntilQuiet(kReadTimeoutMs)) return false;
  }
  prepareForReply(use == ReplyUse::Data || before == BeforeSend::WaitForQuiet);
  writePacket(writeTimeOutLine);
  WaitReply(use);
  return true;
}

void Link::writePacket(const char* writeTimeOutLine) {
  std::uint8_t* p = packet();
  p[7] = headerChecksum(p);
  const auto length = static_cast<std::uint32_t>(packetLength);
  if (usb_.WriteFTBuffer(length) >= length) return;
  host_.insertLogLine(writeTimeOutLine);
  // The driver gave up on the write (its time-out ran out: the firmware takes no more data) or
  // failed it: the programmer is not reached, and the running work ends as when the watchdog
  // fires. The reply wait still runs and takes whatever comes.
  recordFault(writeTimeOutLine);
  quitFlag = std::max(quitFlag, kStop);
}

void Link::WaitReply(ReplyUse use) {
  host_.startWatchdog();
  watchdogFlag = 0;
  replyLength_ = 0;
  expected_ = expectedLength(use);
  for (bool first = true;; first = false) {
    // The first look is at once; between the later ones the processor is left to others.
    if (first) {
      host_.processMessages();
    } else {
      host_.waitForEvents(kPollMs);
    }
    const FtStatus status = usb_.GetFTQueueStatus();
    if (status == ft::Ok && usb_.queueCount() >= 1) {
      // The reply is there: a watchdog that fired while the host was held up (a loaded
      // computer, a slow trace) lost nothing, and stops nothing.
      if (watchdogFlag > 0) {
        watchdogFlag = 0;
        quitFlag = quitBeforeWatchdog_;
      }
      break;
    }
    if (status != ft::Ok || watchdogFlag > 0) {
      usb_.readBuffer()[6] = kLostReplyStatus;
      // A programmer that can no longer be asked ends the running operation, as the watchdog
      // does; otherwise every later wait would fail the same way while the operation went on.
      if (status != ft::Ok) quitFlag = kStop;
      if (status != ft::Ok && connectionState == kIdentified) programmerLost_ = true;
      host_.stopWatchdog();
      const std::string line = "Device no longer present ... PortStatus-" + std::to_string(status) +
                               " USB-" + std::to_string(watchdogFlag);
      if (!lookingAgain) host_.insertLogLine(line);
      recordFault(line);
      end_ = ReplyEnd::Lost;
      inDoubt_ = true;  // a reply given up on may still come
      clearDoubtAfterReply_ = false;
      traceReply();
      if (onReplyLost) onReplyLost();
      return;
    }
    if (stopAsked()) break;
  }
  host_.stopWatchdog();
  readReply(use);
}

int Link::quietPeriodMs() const {
  // While the firmware goes on writing a reply, the USB chip sends what it holds at least once
  // per latency timer period (2 ms as the drivers set it, 16 ms where the chip refused), and
  // the host takes it within a 1 ms USB frame or two. Two periods and 4 ms without a byte mean
  // the firmware has stopped writing: 8 ms, or 36 ms with the chip's own timer.
  return static_cast<int>(2 * usb_.latencyTimerMs()) + 4;
}

void Link::newConnection() {
  programmerLost_ = false;
  headerReplyLength_ = 0;
  lengthSettled_ = true;
  owedBytes_ = 0;
  lastReplyHeaderOnly_ = false;
  inDoubt_ = true;
  clearDoubtAfterReply_ = false;
  stepFault_.clear();
  faultLine_.clear();
}

void Link::beginOperation() {
  stepFault_.clear();
  faultLine_.clear();
  // The rest of a reply given up on in an earlier operation may have come since: the opening
  // idle command throws it away, and from its reply on this operation's replies are its own.
  clearDoubtAfterReply_ = inDoubt_;
}

void Link::outOfStep(const std::string& what) {
  const std::string line = what +
                           ": its replies are out of step with the commands, so the run stopped "
                           "and no socket of it passes. If this happens again, run tandra-cli "
                           "doctor and send its trace with a report.";
  if (stepFault_.empty()) {
    stepFault_ = line;
    host_.insertLogLine(line);
    recordFault(line);
  }
  quitFlag = std::max(quitFlag, kStop);
  // More of the shifted replies may follow: they are thrown away, not read as answers.
  inDoubt_ = true;
  clearDoubtAfterReply_ = false;
}

bool Link::prepareForReply(bool judged) {
  // Asked to wait everything out, the link settles the length before any reply.
  takeOwedBlocks(judged || fullWaits);
  if (usb_.GetFTQueueStatus() != ft::Ok || usb_.queueCount() == 0) return stepFault_.empty();
  if (!inDoubt_) {
    const std::uint32_t waiting = usb_.queueCount();
    // A firmware known to send headers alone has sent more after one: it sends the full
    // block, and from now on such replies are read to their full length.
    if (lastReplyHeaderOnly_) {
      headerReplyLength_ = static_cast<std::uint32_t>(kCommandLength + kDefaultReplyDataLength);
    }
    outOfStep(std::to_string(waiting) + " bytes of an earlier reply were still on the line " +
              "when the next command went out");
  }
  drainReceiveQueue();
  return stepFault_.empty();
}

bool Link::confirmInStep() {
  if (!stepFault_.empty()) return false;
  // Blocks still owed by replies read for their header alone are taken before the next command.
  if (inDoubt_ || connectionState != kIdentified || (!lengthSettled_ && owedBytes_ > 0)) {
    return true;
  }
  // A reply read in full leaves nothing behind: bytes that come now belong to a reply that was
  // taken for another's.
  const int quietMs = quietPeriodMs();
  for (;;) {
    const std::int64_t now = host_.monotonicMs();  // before the look: a host held up after it
                                                   // must not pass for a quiet line
    if (usb_.GetFTQueueStatus() != ft::Ok) return true;  // the next wait tells of it
    if (usb_.queueCount() > 0) {
      outOfStep(std::to_string(usb_.queueCount()) + " bytes came after the last reply");
      drainReceiveQueue();
      return false;
    }
    if (now - lastByteAtMs_ >= quietMs) return true;
    host_.waitForEvents(kPollMs);
  }
}

bool Link::drainUntilQuiet(int quietMs) {
  const Trace::Draining draining(trace);
  const int quitAtStart = quitFlag;
  const std::int64_t started = host_.monotonicMs();
  std::int64_t lastByteAt = started;
  for (;;) {
    const std::int64_t now = host_.monotonicMs();
    if (usb_.GetFTQueueStatus() != ft::Ok) return true;  // the next wait tells of it
    if (usb_.queueCount() > 0) {
      usb_.ReadFTBuffer(std::min<std::uint32_t>(usb_.queueCount(), D2XXUnit::kTransferBufferSize));
      lastByteAt = host_.monotonicMs();
      if (lastByteAt - started >= kTalkLimitMs) {
        talking(kTalkingLine);
        return false;
      }
      host_.processMessages();  // Quit, the close button and the signals are heard meanwhile
    } else if (now - lastByteAt >= quietMs) {
      break;
    } else {
      host_.waitForEvents(kPollMs);
    }
    if (stopAskedSince(quitAtStart)) return false;
  }
  inDoubt_ = false;
  return true;
}

std::uint8_t Link::selectSocket() {
  const SocketSelect select = socketSelect(currentSocket);
  controlByte = select.controlBit7 ? static_cast<std::uint8_t>(controlByte | 0x80)
                                   : static_cast<std::uint8_t>(controlByte & 0x7F);
  return select.code;
}

void Link::SendReadBlock() {
  const std::uint8_t selectCode = selectSocket();
  store(opcode::ReadBlock);
  std::uint8_t* p = packet();
  p[2] = highAddressByte;
  p[3] = controlByte;
  p[4] = selectCode;
  p[5] = static_cast<std::uint8_t>((replyDataLength / 256) & 0xFF);
  p[6] = static_cast<std::uint8_t>(replyDataLength % 256);
  SendCommand();
}

void Link::SendLatch(std::uint8_t selector) {
  store(opcode::Latch);
  packet()[1] = selector;
  packet()[2] = static_cast<std::uint8_t>(latchValue & 0xFF);
  SendCommand();
}

// Bytes that are no answer to the command about to go out (the rest of a reply given up on, or
// of one that fell out of step) are thrown away, so that they are never taken for it.
void Link::drainReceiveQueue() {
  const Trace::Draining draining(trace);
  for (int round = 0; round < 8; ++round) {
    if (usb_.GetFTQueueStatus() != ft::Ok || usb_.queueCount() == 0) return;
    usb_.ReadFTBuffer(std::min<std::uint32_t>(usb_.queueCount(), D2XXUnit::kTransferBufferSize));
  }
}

void Link::SendIdle() {
  if (connectionState == kIdentified && !programmerLost_) {
    store(opcode::Idle);
    SendCommand();
  }
  if (onCurrentAddressReset) onCurrentAddressReset();
  quitFlag = stopHeld_ ? kStop : 0;
}

void Link::SendVoltage(std::uint8_t vppSelectCode, std::uint8_t vppLevelCode) {
  if (connectionState != kIdentified) return;
  store(opcode::Voltage);
  packet()[1] = vppSelectCode;
  packet()[2] = vppLevelCode;
  SendCommand();
}

void Link::Timer1Timer() {
  quitBeforeWatchdog_ = quitFlag;
  quitFlag = kStop;
  watchdogFlag = kStop;
}

void Link::talking(const std::string& line) {
  host_.insertLogLine(line);
  recordFault(line);
  if (trace != nullptr) trace->event("talking", line);
}

}  // namespace tandra
