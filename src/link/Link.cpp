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
  if (op != opcode::ProgramBlock) {
    SendAndWait(op == opcode::ReadBlock ? ReplyUse::Data : ReplyUse::Header, kWriteTimeOutLine);
    return;
  }
  prepareForReply();
  writePacket(kWriteTimeOutLine);
  // No chip takes a page in the moment between the write and a look at the line: a reply
  // already there then is another command's.
  const bool answeredAtOnce = usb_.GetFTQueueStatus() == ft::Ok && usb_.queueCount() > 0;
  WaitReply(ReplyUse::Header);
  if (answeredAtOnce && stepFault_.empty()) {
    outOfStep(
        "The programmer's reply to a page came at once, sooner than a chip can be "
        "programmed");
  }
}

void Link::SendAndWait(ReplyUse use, const char* writeTimeOutLine, BeforeSend before) {
  if (before == BeforeSend::WaitForQuiet && inDoubt_) {
    drainUntilQuiet(kReadTimeoutMs);
  } else {
    prepareForReply();
  }
  writePacket(writeTimeOutLine);
  WaitReply(use);
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
  quitFlag = std::max(quitFlag, 5);
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
    if (status != ft::Ok || watchdogFlag > 0) {
      usb_.readBuffer()[6] = kLostReplyStatus;
      // A programmer that can no longer be asked ends the running operation, as the watchdog
      // does; otherwise every later wait would fail the same way while the operation went on.
      if (status != ft::Ok) quitFlag = 5;
      host_.stopWatchdog();
      const std::string line = "Device no longer present ... PortStatus-" + std::to_string(status) +
                               " USB-" + std::to_string(watchdogFlag);
      host_.insertLogLine(line);
      recordFault(line);
      end_ = ReplyEnd::Lost;
      inDoubt_ = true;  // a reply given up on may still come
      clearDoubtAfterReply_ = false;
      traceReply();
      if (onReplyLost) onReplyLost();
      return;
    }
    if (usb_.queueCount() >= 1) break;
    if (quitFlag > 0) break;
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
  headerReplyLength_ = 0;
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
                           "and no socket of it passes. If this happens again, run with "
                           "--full-waits.";
  if (stepFault_.empty()) {
    stepFault_ = line;
    host_.insertLogLine(line);
    recordFault(line);
  }
  quitFlag = std::max(quitFlag, 5);
  // More of the shifted replies may follow: they are thrown away, not read as answers.
  inDoubt_ = true;
  clearDoubtAfterReply_ = false;
}

void Link::prepareForReply() {
  if (usb_.GetFTQueueStatus() != ft::Ok || usb_.queueCount() == 0) return;
  if (!inDoubt_) {
    const std::uint32_t waiting = usb_.queueCount();
    // A firmware thought to send headers alone has sent more after one: it sends the full
    // block, and from now on such replies are read to their full length.
    if (lastReplyHeaderOnly_) {
      headerReplyLength_ = static_cast<std::uint32_t>(kCommandLength + kDefaultReplyDataLength);
    }
    outOfStep(std::to_string(waiting) + " bytes of an earlier reply were still on the line " +
              "when the next command went out");
  }
  drainReceiveQueue();
}

bool Link::confirmInStep() {
  if (!stepFault_.empty()) return false;
  if (inDoubt_ || connectionState != kIdentified) return true;
  // A reply read in full leaves nothing behind: bytes that come now belong to a reply that was
  // taken for another's.
  const int quietMs = quietPeriodMs();
  for (;;) {
    if (usb_.GetFTQueueStatus() != ft::Ok) return true;  // the next wait tells of it
    if (usb_.queueCount() > 0) {
      outOfStep(std::to_string(usb_.queueCount()) + " bytes came after the last reply");
      drainReceiveQueue();
      return false;
    }
    if (host_.monotonicMs() - lastByteAtMs_ >= quietMs) return true;
    host_.waitForEvents(kPollMs);
  }
}

void Link::drainUntilQuiet(int quietMs) {
  const Trace::Draining draining(trace);
  std::int64_t lastByteAt = host_.monotonicMs();
  while (host_.monotonicMs() - lastByteAt < quietMs) {
    if (usb_.GetFTQueueStatus() != ft::Ok) return;
    if (usb_.queueCount() > 0) {
      usb_.ReadFTBuffer(std::min<std::uint32_t>(usb_.queueCount(), D2XXUnit::kTransferBufferSize));
      lastByteAt = host_.monotonicMs();
    } else {
      host_.waitForEvents(kPollMs);
    }
  }
  inDoubt_ = false;
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
  if (connectionState == kIdentified) {
    store(opcode::Idle);
    SendCommand();
  }
  if (onCurrentAddressReset) onCurrentAddressReset();
  quitFlag = stopHeld_ ? 5 : 0;
}

void Link::SendVoltage(std::uint8_t vppSelectCode, std::uint8_t vppLevelCode) {
  if (connectionState != kIdentified) return;
  store(opcode::Voltage);
  packet()[1] = vppSelectCode;
  packet()[2] = vppLevelCode;
  SendCommand();
}

void Link::Timer1Timer() {
  quitFlag = 5;
  watchdogFlag = 5;
}

}  // namespace tandra
