#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/FtApi.h"

namespace tandra {

class Host;

// The thin layer between the program and the USB chip's driver: the one device handle, the two
// transfer buffers and the serial-number buffer. Each operation makes exactly one driver call
// and, with error reporting on, turns a failing status into an error box naming the operation.
class D2XXUnit {
 public:
  static constexpr std::size_t kTransferBufferSize = 32768;
  // Texts kept from the serial-number buffer are cut at 49 characters (position 50 is the
  // terminator). The buffer itself is larger because the driver may write a 64-byte description.
  static constexpr std::size_t kSerialTextLimit = 49;

  using TransferBuffer = std::array<std::uint8_t, kTransferBufferSize>;

  D2XXUnit(FtApi& api, Host& host) : api_(api), host_(host) {}

  FtStatus GetFTDeviceCount();
  FtStatus GetFTDeviceSerialNo(std::uint32_t index);
  FtStatus GetFTDeviceDescription(std::uint32_t index);
  FtStatus Open_USB_Device_By_Serial_Number(std::string_view serialNumber);
  FtStatus CloseFTDevice();
  FtStatus SetFTTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs);
  FtStatus GetFTQueueStatus();
  // Both return the count the driver reports as transferred (0 when the call fails). A read
  // stores from the read buffer's first byte, or from `offset` to go on with a reply.
  std::uint32_t WriteFTBuffer(std::uint32_t count);
  std::uint32_t ReadFTBuffer(std::uint32_t count, std::uint32_t offset = 0);

  TransferBuffer& writeBuffer() { return writeBuffer_; }
  TransferBuffer& readBuffer() { return readBuffer_; }
  const TransferBuffer& readBuffer() const { return readBuffer_; }

  std::uint32_t queueCount() const { return queueCount_; }
  std::uint32_t deviceCount() const { return deviceCount_; }
  const std::string& deviceString() const { return deviceString_; }
  FtHandle handle() const { return handle_; }
  // True between a successful open and the close; the handle itself is kept after a close.
  bool isOpen() const { return open_; }

  // The driver behind the unit, and what it has to tell the operator.
  std::string driverName() const { return api_.driverName(); }
  std::vector<std::string> takeDriverNotes() { return api_.takeNotes(); }
  std::uint32_t latencyTimerMs() const { return api_.latencyTimerMs(); }

  bool errorReporting() const { return errorReporting_; }
  void setErrorReporting(bool on) { errorReporting_ = on; }

  // The error box text for a failing status: the operation's name and the status's suffix;
  // empty for statuses the unit has no words for.
  static std::string errorText(std::string_view operation, FtStatus status);

 private:
  FtStatus listByIndex(std::uint32_t index, std::uint32_t openFlag, std::string_view name);
  void report(std::string_view operation, FtStatus status);

  FtApi& api_;
  Host& host_;
  FtHandle handle_ = nullptr;
  bool open_ = false;
  TransferBuffer writeBuffer_{};
  TransferBuffer readBuffer_{};
  std::uint32_t queueCount_ = 0;
  std::uint32_t deviceCount_ = 0;
  // Positions 1 to 50 of the serial-number text are the first 50 bytes; the rest is room for
  // whatever the driver writes.
  std::array<char, 256> serialNumberBuffer_{};
  std::string deviceString_;
  bool errorReporting_ = true;
};

}  // namespace tandra
