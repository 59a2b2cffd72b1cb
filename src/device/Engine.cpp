#include "device/Engine.h"

#include <algorithm>

#include "device/DeviceSettings.h"
#include "device/FamilyRules.h"
#include "image/ImageBuffer.h"
#include "device/SocketView.h"
#include "link/Link.h"

namespace tandra {

namespace {

std::uint8_t highAddressByte(HighAddressRule rule, std::int32_t address, std::uint8_t addressBits,
                             std::uint8_t previous) {
  const auto h = static_cast<std::uint8_t>((address >> 8) & 0xFF);
  switch (rule) {
    case HighAddressRule::OrAddressBits:
      return static_cast<std::uint8_t>(h | addressBits);
    case HighAddressRule::Plain:
      return h;
    case HighAddressRule::FlipA13SetA14A15:
      return static_cast<std::uint8_t>((h ^ 0x20) | 0xC0);
    case HighAddressRule::FlipA13SetA15:
      return static_cast<std::uint8_t>((h ^ 0x20) | 0x80);
    case HighAddressRule::FlipA13:
      return static_cast<std::uint8_t>(h ^ 0x20);
    case HighAddressRule::Masked: {
      auto byte = static_cast<std::uint8_t>(((h & 0x3F) ^ 0x20) | 0x40);
      if ((address & 0x4000) != 0) byte |= 0x80;
      return byte;
    }
    case HighAddressRule::Unchanged:
      break;
  }
  return previous;
}

}  // namespace

int Engine::socketsInUse() const {
  return ((1 << settings_.socketCount) - 1) & ~settings_.skippedSockets;
}

void Engine::setMaskFromCount(int socketCount) {
  if (socketCount >= 1 && socketCount <= kSockets) activeSocketMask = socketsInUse();
}

bool Engine::socketSkipped(int socket) const {
  return ((settings_.skippedSockets >> (socket - 1)) & 1) != 0;
}

void Engine::clearFailureFlags(int socketCount) {
  for (int s = 1; s <= std::min(socketCount, kSockets); ++s) {
    socketFailureFlags[s - 1] = 0;
    firstFailures[s - 1].reset();
  }
}

void Engine::latch(void (Link::*latchCommand)(), std::uint16_t value) {
  link_.latchValue = value;
  (link_.*latchCommand)();
}

void Engine::VppStep() {
  const VppLevel level = vppLevel(settings_.vppSetting);
  if (level.volts != nullptr) host_.showVpp(level.volts);
  settings_.vppSelectCode = level.selectCode;
  settings_.vppLevelCode = level.levelCode;
  link_.SendVoltage(level.selectCode, level.levelCode);
}

void Engine::ReadSetUp() {
  VppStep();
  const FamilyRules& rules = familyRules(settings_.deviceFamily);
  baseControlByte = 0xED;
  powerByte = static_cast<std::uint8_t>(settings_.vppSelectCode & rules.readPowerMask);
  if (rules.familyAddressBits) familyAddressBits = *rules.familyAddressBits;
  CommonSetUp();
}

void Engine::ProgramSetUp() {
  latch(&Link::LatchLowAddress, 0x05);
  const FamilyRules& rules = familyRules(settings_.deviceFamily);
  baseControlByte = rules.programBaseControl;
  powerByte = static_cast<std::uint8_t>(settings_.vppSelectCode & rules.programPowerMask);
  if (rules.familyAddressBits) familyAddressBits = *rules.familyAddressBits;
  CommonSetUp();
}

void Engine::CommonSetUp() {
  if (familyRules(settings_.deviceFamily).lowLatchAllOnes) latch(&Link::LatchLowAddress, 0xFF);
  clearFailureFlags(settings_.socketCount);
  setMaskFromCount(settings_.socketCount);
  link_.store(opcode::SetUp);
  std::uint8_t* packet = link_.packet();
  packet[3] = familyAddressBits;
  packet[4] = baseControlByte;
  packet[5] = powerByte;
  link_.SendCommand();
  host_.sleepMs(10);
}

void Engine::BlockAddressStep() {
  const std::int32_t address = image_.currentAddress;
  latch(&Link::LatchLowAddress, static_cast<std::uint16_t>(address & 0xFF));
  host_.showAddress(static_cast<std::uint32_t>(address));
  host_.processMessages();

  const FamilyRules& rules = familyRules(settings_.deviceFamily);
  std::uint8_t control = baseControlByte;
  link_.highAddressByte =
      highAddressByte(rules.highAddress, address, familyAddressBits, link_.highAddressByte);
  if (rules.controlFromUpperAddress) {
    control = static_cast<std::uint8_t>(((control ^ 0x02) | ((address >> 16) & 0x0F)) ^ 0x02);
  }
  if (rules.controlFromA15A16) {
    if ((address & 0x8000) != 0) control |= 0x04;
    if ((address & 0x10000) != 0) control |= 0x01;
  }
  link_.controlByte = control;
  latch(&Link::LatchHighAddress, link_.highAddressByte);
  latch(&Link::LatchControl, link_.controlByte);
}

void Engine::ReadBlock() {
  link_.SendReadBlock();
  byteIndex = 0;
}

void Engine::FailureStep() {
  const int socket = link_.currentSocket;
  if (socket < 1 || socket > kSockets) return;
  socketFailureFlags[socket - 1] = 1;
  if (!firstFailures[socket - 1] && failureDetail) firstFailures[socket - 1] = failureDetail;
  activeSocketMask &= ~(1 << (socket - 1));
  host_.showSocket(socket, resultMessage, SocketLook::Failed);
}

}  // namespace tandra
