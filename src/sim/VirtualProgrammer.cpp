#include "sim/VirtualProgrammer.h"

#include <algorithm>
#include <cstring>

#include "link/Commands.h"

namespace tandra {

namespace {

constexpr std::size_t kReplyHeader = 8;
constexpr std::size_t kStandardReplyData = 2048;
constexpr std::size_t kFirmwareRecordSize = 74;

void copyListString(const std::string& text, void* destination) {
  const std::size_t length = std::min<std::size_t>(text.size(), ft::ListStringCapacity - 1);
  std::memcpy(destination, text.data(), length);
  static_cast<char*>(destination)[length] = '\0';
}

}  // namespace

VirtualProgrammer::VirtualProgrammer(Clock& clock) : clock_(clock) {
  setDeviceCount(1);
  for (auto& socket : sockets_) socket.emplace();
}

void VirtualProgrammer::setDeviceCount(int count) {
  devices_.clear();
  for (int i = 1; i <= count; ++i) {
    std::string serial = std::to_string(i);
    serial.insert(0, 6 - std::min<std::size_t>(serial.size(), 6), '0');
    devices_.push_back({"VP" + serial, "Tandra USB Programmer"});
  }
}

void VirtualProgrammer::setFirmwareVersion(int major, int minor) {
  firmwareMajor_ = major;
  firmwareMinor_ = minor;
}

void VirtualProgrammer::shortenWrites(int count, std::uint32_t missing) {
  shortWrites_ = count;
  shortWriteMissing_ = missing;
}

std::size_t VirtualProgrammer::pendingReplyBytes() const {
  std::size_t total = 0;
  for (const Reply& reply : replies_) total += reply.bytes.size() - reply.consumed;
  return total;
}

// --- FtApi ---

FtStatus VirtualProgrammer::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  if ((flags & ft::ListNumberOnly) != 0) {
    if (arg1 == nullptr) return ft::InvalidParameter;
    *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(devices_.size());
    return ft::Ok;
  }
  if ((flags & ft::ListByIndex) != 0) {
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (arg2 == nullptr) return ft::InvalidParameter;
    if (index >= devices_.size()) return ft::DeviceNotFound;
    const AttachedDevice& device = devices_[index];
    copyListString((flags & ft::OpenByDescription) != 0 ? device.description : device.serialNumber,
                   arg2);
    return ft::Ok;
  }
  return ft::InvalidParameter;
}

FtStatus VirtualProgrammer::OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) {
  if (handle == nullptr || arg1 == nullptr) return ft::InvalidParameter;
  const std::string wanted(static_cast<const char*>(arg1));
  const auto matches = [&](const AttachedDevice& device) {
    if (wanted.empty()) return true;  // the driver opens the first device it finds
    return (flags & ft::OpenByDescription) != 0 ? device.description == wanted
                                                : device.serialNumber == wanted;
  };
  if (std::none_of(devices_.begin(), devices_.end(), matches)) return ft::DeviceNotFound;
  if (open_) return ft::DeviceNotOpened;  // already claimed
  open_ = true;
  ++openCount_;
  replies_.clear();
  *handle = handleToken();
  return ft::Ok;
}

FtStatus VirtualProgrammer::SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                        std::uint32_t /*writeTimeoutMs*/) {
  if (!validHandle(handle)) return ft::InvalidHandle;
  readTimeoutMs_ = readTimeoutMs;
  return ft::Ok;
}

std::uint32_t VirtualProgrammer::arrivedBytes() {
  const Clock::Millis now = clock_.now();
  std::size_t total = 0;
  for (const Reply& reply : replies_) {
    if (reply.arrivesAt > now) break;
    total += reply.bytes.size() - reply.consumed;
  }
  return static_cast<std::uint32_t>(total);
}

FtStatus VirtualProgrammer::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (rxBytes == nullptr) return ft::InvalidParameter;
  if (queueStatusFails_ || unplugged_) return ft::IoError;
  *rxBytes = arrivedBytes();
  return ft::Ok;
}

FtStatus VirtualProgrammer::Write(FtHandle handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (buffer == nullptr || written == nullptr) return ft::InvalidParameter;
  if (unplugged_) return ft::IoError;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> packet(bytes, bytes + count);
  if (recordPackets_) packets_.push_back(packet);
  bytesWritten_ += count;
  *written = count;
  if (shortWrites_ > 0) {
    --shortWrites_;
    *written = count > shortWriteMissing_ ? count - shortWriteMissing_ : 0;
  }
  onPacket(packet);
  return ft::Ok;
}

FtStatus VirtualProgrammer::Read(FtHandle handle, void* buffer, std::uint32_t count,
                                 std::uint32_t* received) {
  if (received != nullptr) *received = 0;
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (buffer == nullptr || received == nullptr) return ft::InvalidParameter;
  if (unplugged_) return ft::IoError;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const Clock::Millis deadline = clock_.now() + Clock::Millis(readTimeoutMs_);
  std::uint32_t got = 0;
  while (got < count) {
    // Take what has arrived.
    while (got < count && !replies_.empty() && replies_.front().arrivesAt <= clock_.now()) {
      Reply& reply = replies_.front();
      const std::size_t take =
          std::min<std::size_t>(count - got, reply.bytes.size() - reply.consumed);
      std::memcpy(out + got, reply.bytes.data() + reply.consumed, take);
      got += static_cast<std::uint32_t>(take);
      reply.consumed += take;
      if (reply.consumed == reply.bytes.size()) replies_.pop_front();
    }
    if (got == count) break;
    // Wait for the next reply if it comes within the time-out. A time-out of 0 means no limit;
    // with nothing on its way such a read would hang, so it returns what it has.
    const bool limited = readTimeoutMs_ != 0;
    if (replies_.empty() || (limited && replies_.front().arrivesAt > deadline)) {
      if (limited) clock_.sleepUntil(deadline);
      break;
    }
    clock_.sleepUntil(replies_.front().arrivesAt);
  }
  *received = got;
  bytesRead_ += got;
  return ft::Ok;
}

FtStatus VirtualProgrammer::Close(FtHandle handle) {
  if (!validHandle(handle)) return ft::InvalidHandle;
  open_ = false;
  ++closeCount_;
  replies_.clear();
  return ft::Ok;
}

// --- The firmware ---

void VirtualProgrammer::answer(std::uint8_t op, std::vector<std::uint8_t> data, std::uint8_t status,
                               HeaderBytes bytes1to3, Clock::Millis takes) {
  if (repliesToDrop_ > 0) {
    --repliesToDrop_;
    return;
  }
  std::vector<std::uint8_t> bytes(kReplyHeader, 0);
  bytes[0] = op;
  std::copy(bytes1to3.begin(), bytes1to3.end(), bytes.begin() + 1);
  bytes[6] = status;
  bytes[7] = headerChecksum(bytes.data());
  bytes.insert(bytes.end(), data.begin(), data.end());
  if (!realisticTiming_) takes = {};
  replies_.push_back({clock_.now() + replyDelay_ + takes, std::move(bytes)});
}

void VirtualProgrammer::onPacket(const std::vector<std::uint8_t>& packet) {
  if (packet.size() < kReplyHeader) return;
  if (packet.size() == kFirmwareRecordSize) {
    firmwareRecord(packet);
    return;
  }
  const std::uint8_t op = packet[0];
  switch (op) {
    case opcode::FlashCheck:
      // Answered although its opcode is above 0x80: the update waits for it.
      answer(op, std::vector<std::uint8_t>(kStandardReplyData, 0), 0x00,
             {0x00, static_cast<std::uint8_t>(firmwareCheck_ >> 8),
              static_cast<std::uint8_t>(firmwareCheck_ & 0xFF)});
      return;
    case opcode::Restart:
      ++restarts_;
      if (firmwareRecords_ > 0) setFirmwareVersion(1, 20);
      firmwareCheck_ = 0;
      firmwareRecords_ = 0;
      replies_.clear();
      return;
    case opcode::Identify:
      answer(
          op, std::vector<std::uint8_t>(kStandardReplyData, 0), identifyStatus_,
          {static_cast<std::uint8_t>(firmwareMajor_), static_cast<std::uint8_t>(firmwareMinor_)});
      return;
    case opcode::Voltage:
      vppSelectCode_ = packet[1];
      vppLevelCode_ = packet[2];
      return;
    case opcode::SetUp:
      setUp(packet);
      return;
    case opcode::Latch:
      if (packet[1] == latch::LowAddress) lowAddressLatch_ = packet[2];
      if (packet[1] == latch::HighAddress) highAddressLatch_ = packet[2];
      if (packet[1] == latch::Control) controlLatch_ = packet[2];
      return;
    case opcode::ReadBlock:
      readBlock(packet);
      return;
    case opcode::ProgramBlock:
      programBlock(packet);
      return;
    default:
      if (isAnswered(op)) answer(op, std::vector<std::uint8_t>(kStandardReplyData, 0), 0x00);
      return;
  }
}

void VirtualProgrammer::firmwareRecord(const std::vector<std::uint8_t>& packet) {
  for (std::size_t i = 0; i < packet.size(); ++i) {
    if (i != 7) firmwareCheck_ = static_cast<std::uint16_t>(firmwareCheck_ + packet[i]);
  }
  ++firmwareRecords_;
  answer(packet[0], std::vector<std::uint8_t>(kStandardReplyData, 0), 0x00);
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

void VirtualProgrammer::setUp(const std::vector<std::uint8_t>& packet) {
  familyAddressBits_ = packet[3];
  upperAddress_ = 0;
  previousBlock_.reset();
}

std::uint32_t VirtualProgrammer::blockAddress(std::uint8_t highAddressByte) {
  // Undo the way the host spreads address bits 8 to 15 over the high latch for each family.
  std::uint32_t high = highAddressByte;
  switch (familyAddressBits_) {
    case 0x08:
      high &= 0x07;
      break;  // 2K: A8-A10, A11 held high
    case 0x00:
      high &= 0x0F;
      break;  // 4K
    case 0xE0:
      high = (high ^ 0x20) & 0x3F;
      break;  // 8K and 16K
    case 0xA0:
      high = (high ^ 0x20) & 0x7F;
      break;  // 32K
    case 0x20:
      high ^= 0x20;
      break;  // 64K and up
    default:
      break;
  }
  const std::uint32_t address16 = (high << 8) | lowAddressLatch_;
  if (previousBlock_ && address16 < *previousBlock_) upperAddress_ = (upperAddress_ + 1) & 0x3;
  previousBlock_ = address16;
  return (upperAddress_ << 16) | address16;
}

Eprom* VirtualProgrammer::selectedChip(std::uint8_t selectCode, std::uint8_t controlByte) {
  int picked = 0;
  int count = 0;
  const bool bit7 = (controlByte & 0x80) != 0;
  const struct {
    std::uint8_t code;
    int socket;
  } lines[] = {{0xBE, 1}, {0xBD, 2}, {0xBB, 4}, {0xB7, 5}};
  for (const auto& line : lines) {
    if (selectCode == line.code && bit7) {
      picked = line.socket;
      ++count;
    }
  }
  if (!bit7) {  // socket 3 is picked by a cleared bit 7
    picked = 3;
    ++count;
    if (selectCode != 0xBF) ++count;
  }
  if (count != 1) return nullptr;
  std::optional<Eprom>& chip = socket(picked);
  return chip ? &*chip : nullptr;
}

void VirtualProgrammer::readBlock(const std::vector<std::uint8_t>& packet) {
  const std::size_t length = static_cast<std::size_t>(packet[5]) * 256 + packet[6];
  const std::uint32_t address = blockAddress(packet[2]);
  const Eprom* chip = selectedChip(packet[4], packet[3]);
  std::vector<std::uint8_t> data(length, 0xFF);  // an empty socket's lines float high
  if (chip != nullptr) {
    for (std::size_t i = 0; i < length; ++i)
      data[i] = chip->read(address + static_cast<std::uint32_t>(i));
  }
  // 2,056 bytes at full speed, about 1 MB/s.
  answer(opcode::ReadBlock, std::move(data), 0x00, {}, Clock::Millis(2));
}

void VirtualProgrammer::programBlock(const std::vector<std::uint8_t>& packet) {
  algorithmCode_ = packet[1];
  pulseWidth_ = packet[3];
  const std::uint32_t address = blockAddress(packet[4]);
  Eprom* chip = selectedChip(packet[6], packet[5]);
  bool good = false;
  if (chip != nullptr && packet.size() >= kReplyHeader + 256) {
    good = chip->program(address, std::span(packet).subspan(kReplyHeader, 256));
  }
  // A pulse per byte, then the read-back.
  answer(opcode::ProgramBlock, {}, good ? 0x00 : 0xFF, {}, Clock::Millis(20));
}

}  // namespace tandra
