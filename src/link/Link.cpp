#include "link/Link.h"

#include <algorithm>
#include <string>

#include "link/Host.h"

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
  if (isAnswered(op)) {
    SendAndWait(op == opcode::ReadBlock ? ReplyUse::Data : ReplyUse::Header, kWriteTimeOutLine);
  } else {
    writePacket(kWriteTimeOutLine);
  }
}

void Link::SendAndWait(ReplyUse use, const char* writeTimeOutLine, BeforeSend before) {
  if (before == BeforeSend::DropLeftOver) {
    prepareForReply();
  } else if (!fullWaits) {
    drainUntilQuiet(kReadTimeoutMs);
  }
  writePacket(writeTimeOutLine);
  WaitReply(use);
}

void Link::writePacket(const char* writeTimeOutLine) {
  std::uint8_t* p = packet();
  p[7] = headerChecksum(p);
  const auto length = static_cast<std::uint32_t>(packetLength);
  if (usb_.WriteFTBuffer(length) < length) host_.insertLogLine(writeTimeOutLine);
}

void Link::WaitReply(ReplyUse use) {
  host_.startWatchdog();
  watchdogFlag = 0;
  replyLength_ = 0;
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
      host_.insertLogLine("Device no longer present ... PortStatus-" + std::to_string(status) +
                          " USB-" + std::to_string(watchdogFlag));
      if (onReplyLost) onReplyLost();
      return;
    }
    if (usb_.queueCount() >= 1) break;
    if (quitFlag > 0) break;
  }
  host_.stopWatchdog();
  const auto full = static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  const bool headerWillDo = use == ReplyUse::Header && !fullWaits && full > kCommandLength;
  replyLength_ = headerWillDo ? readHeaderThenQuiet(full) : usb_.ReadFTBuffer(full);
}

int Link::quietPeriodMs() const {
  // While the firmware goes on writing a reply, the USB chip sends what it holds at least once
  // per latency timer period (2 ms as the drivers set it, 16 ms where the chip refused), and
  // the host takes it within a 1 ms USB frame or two. Two periods and 4 ms without a byte mean
  // the firmware has stopped writing: 8 ms, or 36 ms with the chip's own timer.
  return static_cast<int>(2 * usb_.latencyTimerMs()) + 4;
}

// A reply whose data is not used (idle, identify, a firmware record, the flash check) is read
// as far as its header, as a reply always is, and then only as long as bytes keep coming: the
// firmware may send the header alone or the full 2,056 bytes, and waiting out the read
// time-out for the rest would cost half a second a command.
//
// What is left at risk: a firmware that stops in the middle of such a reply for longer than the
// quiet period and sends the rest after the next command has gone out. Those late bytes would
// be taken for the next reply; prepareForReply only removes what has come by then. Such a
// programmer is run with full waits (--full-waits), which read every reply as the protocol was
// first written, to its full length or the read time-out.
std::uint32_t Link::readHeaderThenQuiet(std::uint32_t full) {
  std::uint32_t got = usb_.ReadFTBuffer(kCommandLength);
  if (got < kCommandLength) return got;
  const int quietMs = quietPeriodMs();
  std::int64_t lastByteAt = host_.monotonicMs();
  while (got < full) {
    if (usb_.GetFTQueueStatus() != ft::Ok) break;
    if (usb_.queueCount() > 0) {
      got += usb_.ReadFTBuffer(std::min(usb_.queueCount(), full - got), got);
      lastByteAt = host_.monotonicMs();
    } else if (host_.monotonicMs() - lastByteAt >= quietMs) {
      endedEarly_ = true;
      break;
    } else {
      host_.waitForEvents(kPollMs);
    }
  }
  return got;
}

void Link::prepareForReply() {
  if (!endedEarly_) return;
  endedEarly_ = false;
  drainReceiveQueue();
}

void Link::drainUntilQuiet(int quietMs) {
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
  endedEarly_ = false;
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

// A reply the host gave up on can still arrive after its wait ended. It is thrown away here, so
// that it is never taken for the answer to a later command: every operation starts and ends
// with the idle command, and so on a clean link.
void Link::drainReceiveQueue() {
  for (int round = 0; round < 8; ++round) {
    if (usb_.GetFTQueueStatus() != ft::Ok || usb_.queueCount() == 0) return;
    usb_.ReadFTBuffer(std::min<std::uint32_t>(usb_.queueCount(), D2XXUnit::kTransferBufferSize));
  }
}

void Link::SendIdle() {
  if (connectionState == kIdentified) {
    drainReceiveQueue();
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
