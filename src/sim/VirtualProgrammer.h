#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/FtApi.h"

namespace tandra {

// A programmer that lives in memory: it receives the bytes the USB chip would, decodes them as
// the programmer's firmware does and answers with the same replies. It stands in for the
// hardware in the program (--virtual), the tests and the benchmarks, and can be told to
// misbehave.
class VirtualProgrammer final : public FtApi {
 public:
  struct AttachedDevice {
    std::string serialNumber;
    std::string description;
  };

  explicit VirtualProgrammer(Clock& clock = SteadyClock::instance());

  // --- What is attached ---
  // Attaches `count` devices named "VP000001", "VP000002", ... (serial) and
  // "Tandra USB Programmer" (description).
  void setDeviceCount(int count);
  std::vector<AttachedDevice>& devices() { return devices_; }
  void setFirmwareVersion(int major, int minor);
  int firmwareMajor() const { return firmwareMajor_; }
  int firmwareMinor() const { return firmwareMinor_; }
  // Status byte of the identify reply (0x00 when all is well).
  void setIdentifyStatus(std::uint8_t status) { identifyStatus_ = status; }

  // --- Faults on demand ---
  // The next `count` commands that would be answered get no reply at all.
  void dropReplies(int count) { repliesToDrop_ = count; }
  // Every reply starts this long after its command was written.
  void setReplyDelay(Clock::Millis delay) { replyDelay_ = delay; }
  // The next `count` writes each report `missing` bytes fewer than asked (the bytes still
  // reach the firmware, as when a write times out after the chip took them).
  void shortenWrites(int count, std::uint32_t missing);
  // The queue-status call fails with an I/O error while this is on.
  void setQueueStatusFailure(bool on) { queueStatusFails_ = on; }

  // --- What the host sent ---
  const std::vector<std::vector<std::uint8_t>>& packets() const { return packets_; }
  void clearPackets() { packets_.clear(); }
  bool isOpen() const { return open_; }
  int openCount() const { return openCount_; }
  int closeCount() const { return closeCount_; }
  std::uint32_t readTimeoutMs() const { return readTimeoutMs_; }
  // Bytes of replies waiting to be read (arrived or still on their way).
  std::size_t pendingReplyBytes() const;

  // --- FtApi ---
  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
  FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) override;
  FtStatus SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                       std::uint32_t writeTimeoutMs) override;
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override;
  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override;
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                std::uint32_t* received) override;
  FtStatus Close(FtHandle handle) override;

 private:
  struct Reply {
    Clock::Millis arrivesAt;
    std::vector<std::uint8_t> bytes;
    std::size_t consumed = 0;
  };

  bool validHandle(FtHandle handle) const { return open_ && handle == handleToken(); }
  FtHandle handleToken() const { return const_cast<VirtualProgrammer*>(this); }
  std::uint32_t arrivedBytes();

  // The firmware: one packet per write.
  void onPacket(const std::vector<std::uint8_t>& packet);
  void answer(std::uint8_t op, std::size_t dataLength, std::uint8_t status,
              std::uint8_t byte1 = 0, std::uint8_t byte2 = 0);

  Clock& clock_;
  std::vector<AttachedDevice> devices_;
  int firmwareMajor_ = 1;
  int firmwareMinor_ = 20;
  std::uint8_t identifyStatus_ = 0x00;

  int repliesToDrop_ = 0;
  Clock::Millis replyDelay_{0};
  int shortWrites_ = 0;
  std::uint32_t shortWriteMissing_ = 0;
  bool queueStatusFails_ = false;

  bool open_ = false;
  int openCount_ = 0;
  int closeCount_ = 0;
  std::uint32_t readTimeoutMs_ = 0;
  std::deque<Reply> replies_;
  std::vector<std::vector<std::uint8_t>> packets_;
};

}  // namespace tandra
