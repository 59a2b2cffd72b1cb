// The programmer's firmware in memory: what it does with each command packet, and what it
// checks before it drives the sockets.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/VirtualProgrammer.h"

namespace tandra {

namespace {

using sim::PinoutRules;

// The wire format as the firmware reads it.
namespace op {
constexpr std::uint8_t ReadBlock = 0x20;
constexpr std::uint8_t Idle = 0x24;
constexpr std::uint8_t ProgramBlock = 0x43;
constexpr std::uint8_t Restart = 0x52;
constexpr std::uint8_t Identify = 0x56;
constexpr std::uint8_t Voltage = 0x90;
constexpr std::uint8_t SetUp = 0x92;
constexpr std::uint8_t Latch = 0x94;
constexpr std::uint8_t FlashCheck = 0xAA;
}  // namespace op

constexpr std::uint8_t kLowLatch = 0x2F;
constexpr std::uint8_t kHighLatch = 0x0F;
constexpr std::uint8_t kControlLatch = 0x3F;

constexpr std::size_t kHeader = sim::kReplyHeader;
// The data a reply carries unless a read block asked for another length.
constexpr std::size_t kDefaultReplyData = 2048;
constexpr std::size_t kPage = 256;
constexpr std::size_t kFirmwareRecordSize = 74;
constexpr std::size_t kLargestReplyData = 32768 - kHeader;
constexpr std::uint8_t kFailed = 0xFF;

std::uint8_t sumOfHeader(const std::uint8_t* bytes) {
  unsigned sum = 0;
  for (int i = 0; i < 7; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum);
}

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

bool isVoltage(std::uint8_t selectCode) {
  return selectCode == sim::vpp::V25 || selectCode == sim::vpp::V21 ||
         selectCode == sim::vpp::V12_5;
}

}  // namespace

void VirtualProgrammer::violation(const std::string& what) {
  violations_.push_back("packet " + std::to_string(packetNumber_) + ": " + what);
}

void VirtualProgrammer::answer(std::uint8_t opcode, std::vector<std::uint8_t> data,
                               std::uint8_t status, HeaderBytes bytes1to3, Clock::Millis takes) {
  // Only the commands with data to send (a read block) send more than the 8 header bytes.
  std::vector<std::uint8_t> bytes(kHeader + data.size(), 0);
  bytes[0] = opcode;
  std::copy(bytes1to3.begin(), bytes1to3.end(), bytes.begin() + 1);
  bytes[6] = status;
  bytes[7] = sumOfHeader(bytes.data());
  std::copy(data.begin(), data.end(), bytes.begin() + kHeader);
  addressee_.command = opcode;
  const std::optional<sim::ReplyFaults::Sending> sending = replyFaults_.shape(bytes, addressee_);
  if (!sending) return;
  queueReply(std::move(bytes), takes, *sending);
}

void VirtualProgrammer::answerHeader(std::uint8_t opcode, std::uint8_t status,
                                     HeaderBytes bytes1to3, Clock::Millis takes) {
  answer(opcode, std::vector<std::uint8_t>(fullLengthReplies_ ? kDefaultReplyData : 0, 0x00),
         status, bytes1to3, takes);
}

void VirtualProgrammer::queueReply(std::vector<std::uint8_t> bytes, Clock::Millis takes,
                                   const sim::ReplyFaults::Sending& sending) {
  answered_ = true;
  const std::size_t pauseAfter = sending.pauseAfter;
  const Clock::Millis pause = sending.pause;
  if (!realisticTiming_) {
    // At once (or after the delay asked for), whole, but for a pause in the middle. Work on the
    // chips (a page, a block, a record) is never done by the host's first look at the line
    // after the write: no programmer answers a page in that moment.
    const Clock::Millis at = clock_.now() + sending.delay;
    const std::size_t firstNew = replies_.size();
    struct Unseen {
      VirtualProgrammer& programmer;
      std::size_t from;
      bool chipWork;
      ~Unseen() {
        for (std::size_t i = from; chipWork && i < programmer.replies_.size(); ++i)
          programmer.replies_[i].unseen = true;
      }
    } unseen{*this, firstNew, takes.count() > 0};
    if (sending.pieceBytes > 0) {
      Clock::Millis pieceAt = at;
      for (std::size_t from = 0; from < bytes.size(); from += sending.pieceBytes) {
        const std::size_t to = std::min(bytes.size(), from + sending.pieceBytes);
        replies_.push_back({pieceAt,
                            {bytes.begin() + static_cast<std::ptrdiff_t>(from),
                             bytes.begin() + static_cast<std::ptrdiff_t>(to)}});
        pieceAt += sending.every;
      }
      return;
    }
    // A part without bytes (a reply cut to nothing, a pause before the first byte) puts nothing
    // on the wire, and holds back nothing behind it.
    const std::size_t first = pause.count() > 0 ? std::min(pauseAfter, bytes.size()) : bytes.size();
    if (first > 0) {
      replies_.push_back({at, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(first)}});
    }
    if (first < bytes.size()) {
      replies_.push_back(
          {at + pause, {bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.end()}});
    }
    return;
  }
  const double chipMs = static_cast<double>((takes + sending.delay).count());
  std::size_t from = 0;
  for (const sim::LinkTiming::Chunk& chunk :
       timing_.reply(bytes.size(), chipMs, pauseAfter, static_cast<double>(pause.count()))) {
    const auto arrives = Clock::Millis(static_cast<std::int64_t>(std::llround(chunk.arrivesAtMs)));
    replies_.push_back({arrives,
                        {bytes.begin() + static_cast<std::ptrdiff_t>(from),
                         bytes.begin() + static_cast<std::ptrdiff_t>(from + chunk.bytes)}});
    from += chunk.bytes;
  }
}

void VirtualProgrammer::onPacket(const Packet& packet) {
  ++packetNumber_;
  addressee_ = {};
  if (clock_.now() < startedAt_) return;  // still starting: nothing is taken
  if (packet.size() < kHeader) {
    violation("a packet of " + std::to_string(packet.size()) + " bytes, shorter than a header");
    return;
  }
  if (packet[7] != sumOfHeader(packet.data())) {
    violation("checksum " + hex(packet[7]) + " where " + hex(sumOfHeader(packet.data())) +
              " belongs (command " + hex(packet[0]) + ")");
  }
  if (packet.size() == kFirmwareRecordSize) {
    firmwareRecord(packet);
    return;
  }
  const std::uint8_t opcode = packet[0];
  if (opcode == op::Latch) {
    latch(packet);
    return;
  }
  switch (opcode) {
    case op::FlashCheck:
      // Answered although its opcode is above 0x80: the update waits for it.
      answerHeader(opcode, 0x00,
                   {0x00, static_cast<std::uint8_t>(firmware_.update.check >> 8),
                    static_cast<std::uint8_t>(firmware_.update.check & 0xFF)});
      break;
    case op::Restart:
      ++restarts_;
      startedAt_ = clock_.now() + restartTakes_;
      if (firmware_.update.records > 0) setFirmwareVersion(1, 20);
      firmware_.update = {};
      replies_.clear();
      break;
    case op::Identify:
      answerHeader(
          opcode, identifyStatus_,
          {static_cast<std::uint8_t>(firmwareMajor_), static_cast<std::uint8_t>(firmwareMinor_)});
      break;
    case op::Idle:
      // The idle command ends a set-up: the sockets are let go until the next one.
      firmware_.mode = SetUpMode::None;
      answerHeader(opcode, 0x00);
      break;
    case op::Voltage:
      voltage(packet);
      break;
    case op::SetUp:
      setUp(packet);
      break;
    case op::ReadBlock:
      readBlock(packet);
      break;
    case op::ProgramBlock:
      programBlock(packet);
      break;
    default:
      violation("unknown command " + hex(opcode));
      if (opcode < 0x80) answer(opcode, {}, 0x00);
      break;
  }
  firmware_.recentLatches.clear();
}

void VirtualProgrammer::firmwareRecord(const Packet& packet) {
  for (std::size_t i = 0; i < packet.size(); ++i) {
    if (i != 7) {
      firmware_.update.check = static_cast<std::uint16_t>(firmware_.update.check + packet[i]);
    }
  }
  ++firmware_.update.records;
  answerHeader(packet[0], 0x00, {}, Clock::Millis(kFirmwareRecordMs));
}

std::vector<std::uint8_t> VirtualProgrammer::makeUpdateFile(int records) {
  std::vector<std::uint8_t> file = {0xAA, 0x55, 'U', 'p', 'd', 'a',  't',  'e',
                                    ' ',  'F',  'i', 'l', 'e', 0x06, 0x00, 0x00};
  std::uint16_t check = 0;
  for (int r = 0; r < records; ++r) {
    for (std::size_t i = 0; i < kFirmwareRecordSize; ++i) {
      std::uint8_t byte = static_cast<std::uint8_t>(r * 31 + i * 7);
      if (i == 2) byte = static_cast<std::uint8_t>((r * 64) >> 8);  // where the code goes
      if (i == 3) byte = static_cast<std::uint8_t>((r * 64) & 0xFF);
      if (i != 7) check = static_cast<std::uint16_t>(check + byte);
      file.push_back(byte);
    }
  }
  file[14] = static_cast<std::uint8_t>(check >> 8);
  file[15] = static_cast<std::uint8_t>(check & 0xFF);
  return file;
}

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
  const sim::ChipType* type = chip.type();
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
  answer(op::ProgramBlock, {}, good ? 0x00 : kFailed, {}, Clock::Millis(kProgramPageMs));
}

}  // namespace tandra
