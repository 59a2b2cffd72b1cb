#include "sim/VirtualProgrammer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tandra {

namespace {

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

std::unique_ptr<VirtualProgrammer> VirtualProgrammer::standIn(
    std::optional<std::pair<int, int>> firmware) {
  auto programmer = std::make_unique<VirtualProgrammer>();
  programmer->setRealisticTiming(true);
  programmer->setRestartTakes(Clock::Millis(kRestartTakesMs));
  if (firmware) programmer->setFirmwareVersion(firmware->first, firmware->second);
  return programmer;
}

std::optional<std::pair<int, int>> VirtualProgrammer::parseFirmwareVersion(std::string_view text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto number = [](std::string_view digits) -> std::optional<int> {
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    int value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value <= 255 ? std::optional<int>(value) : std::nullopt;
  };
  const std::optional<int> major = number(text.substr(0, dot));
  const std::optional<int> minor = number(text.substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return std::make_pair(*major, *minor);
}

Eprom& VirtualProgrammer::insertChip(int number, std::string_view typeName) {
  return socket(number).emplace(sim::chipNamed(typeName));
}

void VirtualProgrammer::shortenWrites(int count, std::uint32_t missing) {
  shortWrites_ = count;
  shortWriteMissing_ = missing;
}

void VirtualProgrammer::setUnplugged(bool on) {
  if (on == unplugged_) return;
  unplugged_ = on;
  if (on) {
    handleLost_ = open_;
    replies_.clear();  // what the USB chip held is gone with it
  } else {
    powerUp();
  }
}

void VirtualProgrammer::powerUp() {
  replies_.clear();
  firmware_ = {};
}

std::vector<std::string> VirtualProgrammer::takeNotes() {
  return std::exchange(notes_, {});
}

std::vector<DriverFact> VirtualProgrammer::facts() const {
  // What a programmer behind an FT232R tells at full speed.
  if (highSpeed_) {
    return {{"vid:pid", "0403:6014"},
            {"bcdDevice", "0900"},
            {"chip", "FT232H (virtual)"},
            {"max-packet-size", "512"},
            {"speed", "high speed (480 Mb/s)"},
            {"latency-timer", latencyTimerRefused_ ? "refused: the chip's own 16 ms" : "2 ms"}};
  }
  return {{"vid:pid", "0403:6001"},
          {"bcdDevice", "0600"},
          {"chip", "FT232R (virtual)"},
          {"max-packet-size", "64"},
          {"speed", "full speed (12 Mb/s)"},
          {"latency-timer", latencyTimerRefused_ ? "refused: the chip's own 16 ms" : "2 ms"}};
}

std::vector<UsbDevice> VirtualProgrammer::usbDevices() const {
  std::vector<UsbDevice> listed;
  if (unplugged_) return listed;
  for (const AttachedDevice& device : devices_) {
    UsbDevice usb;
    usb.vendorId = kFtdiVendorId;
    usb.productId = highSpeed_ ? "6014" : "6001";
    usb.bcdDevice = highSpeed_ ? "0900" : "0600";
    usb.serial = device.serialNumber;
    usb.product = device.description;
    usb.speed = highSpeed_ ? "480" : "12";
    usb.node = "virtual";
    usb.mayOpen = !openRefused_;
    usb.maxPacketSize = highSpeed_ ? 512 : 64;
    listed.push_back(usb);
  }
  return listed;
}

void VirtualProgrammer::clearFaults() {
  replyFaults_.clear();
  talking_ = false;
  talkAfterPackets_ = 0;
  shortWrites_ = 0;
  queueStatusFails_ = false;
}

std::size_t VirtualProgrammer::pendingReplyBytes() const {
  std::size_t total = 0;
  for (const Reply& reply : replies_) total += reply.bytes.size() - reply.consumed;
  return total;
}

Clock::Millis VirtualProgrammer::repliesInBy() const {
  Clock::Millis last{0};
  for (const Reply& reply : replies_) last = std::max(last, reply.arrivesAt);
  return last;
}

// --- FtApi ---

FtStatus VirtualProgrammer::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  // A programmer whose cable is out is not on the bus.
  const std::size_t attached = unplugged_ ? 0 : devices_.size();
  if ((flags & ft::ListNumberOnly) != 0) {
    if (arg1 == nullptr) return ft::InvalidParameter;
    *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(attached);
    return ft::Ok;
  }
  if ((flags & ft::ListByIndex) != 0) {
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (arg2 == nullptr) return ft::InvalidParameter;
    if (index >= attached) return ft::DeviceNotFound;
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
  if (unplugged_ || std::none_of(devices_.begin(), devices_.end(), matches)) {
    return ft::DeviceNotFound;
  }
  // Already claimed, unless the claim was on the device as it was before the cable was pulled.
  if (open_ && !handleLost_) return ft::DeviceNotOpened;
  if (openRefused_) {
    notes_.push_back(opennote::kNoPermission);
    return ft::DeviceNotOpened;
  }
  if (latencyTimerRefused_) notes_.push_back(opennote::kNoLatencyTimer);
  open_ = true;
  handleLost_ = false;
  ++openCount_;
  replies_.clear();
  *handle = handleToken();
  return ft::Ok;
}

FtStatus VirtualProgrammer::SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                        std::uint32_t /*writeTimeoutMs*/) {
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (!reachable()) return ft::IoError;
  readTimeoutMs_ = readTimeoutMs;
  return ft::Ok;
}

std::uint32_t VirtualProgrammer::arrivedBytes() {
  const Clock::Millis now = clock_.now();
  std::size_t total = 0;
  for (const Reply& reply : replies_) {
    if (reply.arrivesAt > now || reply.unseen) break;
    total += reply.bytes.size() - reply.consumed;
  }
  for (Reply& reply : replies_) reply.unseen = false;  // there at the next look
  return static_cast<std::uint32_t>(total);
}

FtStatus VirtualProgrammer::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (rxBytes == nullptr) return ft::InvalidParameter;
  if (queueStatusFails_ || !reachable()) return ft::IoError;
  *rxBytes = arrivedBytes() + (talking_ ? kTalkBytes : 0);
  return ft::Ok;
}

FtStatus VirtualProgrammer::Write(FtHandle handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (buffer == nullptr || written == nullptr) return ft::InvalidParameter;
  if (!reachable()) return ft::IoError;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> packet(bytes, bytes + count);
  if (recordPackets_) packets_.push_back(packet);
  bytesWritten_ += count;
  *written = count;
  if (shortWrites_ > 0) {
    --shortWrites_;
    *written = count > shortWriteMissing_ ? count - shortWriteMissing_ : 0;
  }
  if (realisticTiming_) timing_.commandWritten(static_cast<double>(clock_.now().count()), count);
  answered_ = false;
  onPacket(packet);
  if (talkAfterPackets_ > 0 && --talkAfterPackets_ == 0) talking_ = true;
  if (realisticTiming_ && !answered_) timing_.noReply();
  return ft::Ok;
}

FtStatus VirtualProgrammer::Read(FtHandle handle, void* buffer, std::uint32_t count,
                                 std::uint32_t* received) {
  if (received != nullptr) *received = 0;
  if (!validHandle(handle)) return ft::InvalidHandle;
  if (buffer == nullptr || received == nullptr) return ft::InvalidParameter;
  if (!reachable()) return ft::IoError;
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
    if (talking_) {  // a packet of what the talking line sends, in the millisecond it takes
      const std::uint32_t babble = std::min<std::uint32_t>(count - got, kTalkBytes);
      std::memset(out + got, 0x55, babble);
      got += babble;
      clock_.sleepUntil(clock_.now() + Clock::Millis(1));
      break;
    }
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
  handleLost_ = false;
  ++closeCount_;
  replies_.clear();
  return ft::Ok;
}

}  // namespace tandra
