// The programmer's firmware at the sockets: the voltage, the latches and the set-up it checks
// before it drives a socket, and the blocks it reads and the pages it programs.
#include <algorithm>
#include <cmath>

#include "sim/FirmwareWire.h"
#include "sim/VirtualProgrammer.h"

namespace tandra {

using namespace firmware;  // NOLINT(google-build-using-namespace): the firmware's own words
using sim::PinoutRules;

void VirtualProgrammer::voltage(const Packet& packet) {
  firmware_.vppSelectCode = packet[1];
  firmware_.vppLevelCode = packet[2];
  firmware_.voltageGiven = true;
  if (!isVoltage(firmware_.vppSelectCode) || firmware_.vppLevelCode != sim::vpp::kLevel) {
    violation("voltage codes " + hex(firmware_.vppSelectCode) + " " + hex(firmware_.vppLevelCode) +
              " name no programming voltage of this programmer");
  }
}

void VirtualProgrammer::latch(const Packet& packet) {
  const std::uint8_t value = packet[2];
  switch (packet[1]) {
    case kLowLatch:
      firmware_.lowAddressLatch = value;
      break;
    case kHighLatch:
      firmware_.highAddressLatch = value;
      break;
    case kControlLatch:
      firmware_.controlLatch = value;
      break;
    default:
      violation("latch selector " + hex(packet[1]) + " names no latch");
      return;
  }
  firmware_.recentLatches.push_back({packet[1], value});
}

void VirtualProgrammer::setUp(const Packet& packet) {
  firmware_.mode = SetUpMode::None;
  firmware_.wiring = nullptr;
  if (packet[1] != 0x00 || packet[2] != 0xFF || packet[6] != 0xBF) {
    violation("set-up bytes 1, 2 and 6 are " + hex(packet[1]) + " " + hex(packet[2]) + " " +
              hex(packet[6]) + ", not 0x00 0xFF 0xBF");
  }
  const std::uint8_t base = packet[4];
  const bool reading = base == sim::kReadControl;
  if (!reading && base != 0xFD && base != 0x7D) {
    violation("set-up control byte " + hex(base) + " is neither a read nor a program set-up");
    return;
  }

  // The address bits pick the socket wiring; the 64K and the 32-pin sockets share theirs and
  // differ in the parked low latch.
  const std::array<std::uint8_t, 2> parked = {kLowLatch, 0xFF};
  const bool lowLatchParked =
      !firmware_.recentLatches.empty() && firmware_.recentLatches.back() == parked;
  const PinoutRules* wiring = nullptr;
  for (const PinoutRules& rules : sim::kPinoutRules) {
    if (rules.setUpAddressBits != packet[3]) continue;
    if (wiring == nullptr || rules.parkLowLatch == lowLatchParked) wiring = &rules;
  }
  if (wiring == nullptr) {
    violation("set-up address bits " + hex(packet[3]) + " fit no socket wiring");
    return;
  }

  std::vector<std::array<std::uint8_t, 2>> expectedLatches;
  if (!reading) expectedLatches.push_back({kLowLatch, 0x05});  // program strobe armed
  if (wiring->parkLowLatch) expectedLatches.push_back(parked);
  if (firmware_.recentLatches != expectedLatches) {
    violation(std::string(reading ? "read" : "program") +
              " set-up without the low-latch values its socket wiring needs first");
  }
  const std::uint8_t control = reading ? sim::kReadControl : wiring->programControl;
  if (base != control) {
    violation("set-up control byte " + hex(base) + " where " + hex(control) + " belongs");
  }
  if (!firmware_.voltageGiven) {
    violation("set-up before any voltage command");
  } else {
    const std::uint8_t keep = reading ? wiring->readPowerKeep : wiring->programPowerKeep;
    const auto power = static_cast<std::uint8_t>(firmware_.vppSelectCode & keep);
    if (packet[5] != power) {
      violation("set-up power byte " + hex(packet[5]) + " where " + hex(power) +
                " belongs for voltage " + hex(firmware_.vppSelectCode));
    }
  }
  firmware_.mode = reading ? SetUpMode::Read : SetUpMode::Program;
  firmware_.wiring = wiring;
  firmware_.baseControl = base;
  firmware_.upperAddress = 0;
  firmware_.previousBlock.reset();
}

std::optional<std::uint32_t> VirtualProgrammer::blockAddress(const char* command, SetUpMode needed,
                                                             std::uint8_t highAddressByte,
                                                             std::uint8_t controlByte) {
  if (firmware_.mode != needed || firmware_.wiring == nullptr) {
    violation(std::string(command) + " without a " +
              (needed == SetUpMode::Read ? "read" : "program") + " set-up");
    return std::nullopt;
  }
  const PinoutRules& rules = *firmware_.wiring;
  if (firmware_.controlLatch != firmware_.baseControl) {
    violation("control latch " + hex(firmware_.controlLatch) + " where the set-up's " +
              hex(firmware_.baseControl) + " belongs");
  }
  // Bit 7 of the command's control byte selects socket 3; the rest is the latch's.
  if ((controlByte & 0x7F) != (firmware_.controlLatch & 0x7F)) {
    violation(std::string(command) + " control byte " + hex(controlByte) +
              " differs from the control latch " + hex(firmware_.controlLatch));
  }
  if (highAddressByte != firmware_.highAddressLatch) {
    violation(std::string(command) + " high-address byte " + hex(highAddressByte) +
              " differs from the high latch " + hex(firmware_.highAddressLatch));
  }
  const std::uint8_t lines = rules.addressLines | rules.invertedLines;
  if ((firmware_.highAddressLatch & rules.heldHigh) != rules.heldHigh ||
      (firmware_.highAddressLatch & ~(lines | rules.heldHigh) & 0xFF) != 0) {
    violation("high latch " + hex(firmware_.highAddressLatch) +
              " drives pins the socket wiring holds fixed");
  }
  const std::uint32_t high = (firmware_.highAddressLatch ^ rules.invertedLines) & lines;
  const std::uint32_t address16 = (high << 8) | firmware_.lowAddressLatch;
  if (rules.countsUpperAddress) {
    if (firmware_.previousBlock && address16 < *firmware_.previousBlock)
      firmware_.upperAddress = (firmware_.upperAddress + 1) & 0x3;
    firmware_.previousBlock = address16;
  }
  return (firmware_.upperAddress << 16) | address16;
}

int VirtualProgrammer::selectedSocket(std::uint8_t selectCode, std::uint8_t controlByte) {
  // Bits 0 to 3 of the select code enable sockets 1, 2, 4 and 5 (active low) while bit 7 of the
  // control byte is high; socket 3 is enabled by that bit low, with no other socket enabled.
  int socketNumber = 0;
  if ((selectCode & 0xF0) == 0xB0) {
    const bool bit7 = (controlByte & 0x80) != 0;
    const int enabledLow = ~selectCode & 0x0F;
    if (!bit7 && enabledLow == 0) socketNumber = 3;
    if (bit7 && enabledLow == 0x1) socketNumber = 1;
    if (bit7 && enabledLow == 0x2) socketNumber = 2;
    if (bit7 && enabledLow == 0x4) socketNumber = 4;
    if (bit7 && enabledLow == 0x8) socketNumber = 5;
  }
  if (socketNumber == 0) {
    violation("socket select code " + hex(selectCode) + " with control byte " + hex(controlByte) +
              " enables no single socket");
  }
  return socketNumber;
}

Eprom* VirtualProgrammer::chipIn(int socketNumber) {
  if (socketNumber == 0) return nullptr;
  std::optional<Eprom>& chip = socket(socketNumber);
  return chip ? &*chip : nullptr;
}

bool VirtualProgrammer::takesPulse(const Eprom& chip, std::uint8_t algorithm) const {
  if (firmware_.wiring == nullptr || firmware_.vppLevelCode != sim::vpp::kLevel) return false;
  const sim::Chip* type = chip.type();
  if (type == nullptr)
    return algorithm == firmware_.wiring->algorithm && isVoltage(firmware_.vppSelectCode);
  // A chip driven as another type, with another algorithm or at another voltage is left as
  // it was (or, on the bench, worse).
  return type->pinout == firmware_.wiring->pinout &&
         algorithm == sim::rulesFor(type->pinout).algorithm &&
         firmware_.vppSelectCode == type->vppSelectCode;
}

void VirtualProgrammer::readBlock(const Packet& packet) {
  if (packet[1] != 0x00) violation("read block byte 1 is " + hex(packet[1]) + ", not 0x00");
  std::size_t length = static_cast<std::size_t>(packet[5]) * 256 + packet[6];
  if (length == 0 || length > kLargestReplyData) {
    violation("read block of " + std::to_string(length) + " bytes");
    length = std::min(length, kLargestReplyData);
  }
  const std::optional<std::uint32_t> address =
      blockAddress("read block", SetUpMode::Read, packet[2], packet[3]);
  const int socketNumber = selectedSocket(packet[4], packet[3]);
  const Eprom* chip = chipIn(socketNumber);
  addressee_ = {op::ReadBlock, socketNumber, address.value_or(0), true};
  std::vector<std::uint8_t> data(length, 0xFF);  // an empty socket's lines float high
  if (chip != nullptr && address) {
    for (std::size_t i = 0; i < length; ++i) {
      data[i] = chip->read(*address + static_cast<std::uint32_t>(i));
    }
  }
  answer(op::ReadBlock, std::move(data), 0x00, {}, Clock::Millis(kReadBlockMs));
}

void VirtualProgrammer::programBlock(const Packet& packet) {
  firmware_.algorithmCode = packet[1];
  firmware_.pulseWidth = packet[3];
  const std::optional<std::uint32_t> address =
      blockAddress("program block", SetUpMode::Program, packet[4], packet[5]);
  if (firmware_.wiring != nullptr && packet[1] != firmware_.wiring->algorithm) {
    violation("algorithm code " + hex(packet[1]) + " where the set-up's socket wiring takes " +
              hex(firmware_.wiring->algorithm));
  }
  if (packet[2] != sim::kAlgorithmFlag) {
    violation("algorithm flag " + hex(packet[2]) + ", not " + hex(sim::kAlgorithmFlag));
  }
  if (packet[3] == 0) violation("program block with a pulse width of 0");
  if (packet.size() != kHeader + kPage) {
    violation("program block of " + std::to_string(packet.size()) + " bytes, not 264");
  }
  const int socketNumber = selectedSocket(packet[6], packet[5]);
  Eprom* chip = chipIn(socketNumber);
  addressee_ = {op::ProgramBlock, socketNumber, address.value_or(0), false};
  bool good = false;
  if (chip != nullptr && address && packet.size() >= kHeader + kPage &&
      takesPulse(*chip, packet[1])) {
    good = chip->program(*address, std::span(packet).subspan(kHeader, kPage));
  }
  // A firmware that skips the bytes a blank chip already holds answers a page of them at once.
  const bool nothingToPulse =
      blankPagesAtOnce_ && packet.size() >= kHeader + kPage &&
      std::all_of(packet.begin() + kHeader, packet.begin() + kHeader + kPage,
                  [](std::uint8_t b) { return b == 0xFF; });
  answer(op::ProgramBlock, {}, good ? 0x00 : kFailed, {},
         Clock::Millis(nothingToPulse ? 0 : kProgramPageMs));
}

}  // namespace tandra
