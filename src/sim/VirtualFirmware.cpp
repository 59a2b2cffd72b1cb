// The programmer's firmware in memory: what it does with each command packet, and what it
// checks before it drives the sockets.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/FirmwareWire.h"
#include "sim/VirtualProgrammer.h"

namespace tandra {

using namespace firmware;  // NOLINT(google-build-using-namespace): the firmware's own words
using sim::PinoutRules;

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
  sim::LinkTiming::Writing writing;
  writing.pauseAfter = pauseAfter;
  writing.pauseMs = static_cast<double>(pause.count());
  writing.pieceBytes = sending.pieceBytes;
  writing.everyMs = static_cast<double>(sending.every.count());
  timing_.setLatencyTimerMs(static_cast<double>(latencyTimerMs()));
  timing_.setPacketPayload(highSpeed_ ? sim::LinkTiming::kHighSpeedPayload
                                      : sim::LinkTiming::kPacketPayload);
  std::size_t from = 0;
  for (const sim::LinkTiming::Chunk& chunk : timing_.reply(bytes.size(), chipMs, writing)) {
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

}  // namespace tandra
