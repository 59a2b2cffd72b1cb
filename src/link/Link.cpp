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

void Link::SendCommand() {
  if (connectionState <= kNoProgrammer) return;
  std::uint8_t* p = packet();
  p[7] = headerChecksum(p);
  const auto length = static_cast<std::uint32_t>(packetLength);
  if (usb_.WriteFTBuffer(length) < length) host_.insertLogLine("USB Device Write TimeOut ...");
  if (isAnswered(p[0])) WaitReply();
}

void Link::WaitReply() {
  host_.startWatchdog();
  watchdogFlag = 0;
  replyLength_ = 0;
  for (;;) {
    host_.processMessages();
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
  replyLength_ = usb_.ReadFTBuffer(static_cast<std::uint32_t>(kCommandLength + replyDataLength));
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
