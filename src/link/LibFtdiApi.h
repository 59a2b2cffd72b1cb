#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/FtApi.h"

struct ftdi_context;

namespace tandra {

// What the chip has sent and the program has not read yet. libftdi reads only when asked, so
// this queue stands in for the driver's receive buffer behind GetQueueStatus, and carries the
// D2XX read rule: wait until `count` bytes are there or the read time-out has run out, then
// hand over whatever came.
class ReceiveQueue {
 public:
  // One short read from the chip, appending whatever came (possibly nothing) to `into`.
  // Returns false when the transfer failed.
  using Fetch = std::function<bool(std::vector<std::uint8_t>& into)>;

  // An empty answer from the chip comes back at once under some hosts; this keeps the read
  // loop from spinning on them.
  static constexpr Clock::Millis kIdlePause{1};

  std::size_t size() const { return bytes_.size() - head_; }

  FtStatus poll(const Fetch& fetch) { return fetch(bytes_) ? ft::Ok : ft::IoError; }

  // A time-out of 0 means none: the read waits for the full count, as D2XX does until
  // SetTimeouts is called. `*received` counts the bytes handed over, also on failure.
  FtStatus read(std::uint8_t* out, std::uint32_t count, std::uint32_t* received,
                std::uint32_t timeoutMs, Clock& clock, const Fetch& fetch) {
    const Clock::Millis deadline = clock.now() + Clock::Millis(timeoutMs);
    *received = take(out, count);
    while (*received < count) {
      if (timeoutMs != 0 && clock.now() >= deadline) break;
      const std::size_t before = bytes_.size();
      if (!fetch(bytes_)) return ft::IoError;
      if (bytes_.size() == before) {
        clock.sleepUntil(clock.now() + kIdlePause);
      } else {
        *received += take(out + *received, count - *received);
      }
    }
    return ft::Ok;
  }

 private:
  std::uint32_t take(std::uint8_t* out, std::uint32_t count) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, size()));
    if (n > 0) std::memcpy(out, bytes_.data() + head_, n);
    head_ += n;
    if (head_ == bytes_.size()) {
      bytes_.clear();
      head_ = 0;
    }
    return n;
  }

  std::vector<std::uint8_t> bytes_;
  std::size_t head_ = 0;
};

// One bulk-in transfer from the chip into `buffer` (at most `size` bytes): sets `*actual` to the
// bytes that came and returns libusb's result, which may be a time-out although bytes came.
using BulkTransfer = std::function<int(unsigned char* buffer, int size, int* actual)>;
inline constexpr int kTransferTimedOut = -7;  // LIBUSB_ERROR_TIMEOUT

// The data of one bulk-in transfer: the chip starts every packet of `packetSize` bytes with two
// modem-status bytes, which are dropped.
void appendPayload(const std::uint8_t* transfer, std::size_t actual, std::size_t packetSize,
                   std::vector<std::uint8_t>& into);
// One poll of the chip: every byte that reached the host is kept, whatever status the transfer
// ended with. False when the transfer failed for another reason than a time-out.
bool fetchFromTransfer(const BulkTransfer& transfer, std::size_t transferSize,
                       std::size_t packetSize, std::vector<std::uint8_t>& into);

// What the operator is told when libftdi could not open a chip it listed, from its result and,
// where libftdi only says the device node would not open, libusb's own result for that open;
// nullptr where there is nothing to tell.
const char* openFailureNote(int libftdiResult, int libusbOpenResult = 0);

// The seven D2XX calls on libftdi1, for systems without the vendor's library. libftdi has no
// queue-status call and a different time-out model, so this keeps its own receive buffer and
// read deadline.
class LibFtdiApi final : public FtApi {
 public:
  LibFtdiApi();
  ~LibFtdiApi() override;

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
  std::string driverName() const override { return "libftdi1"; }
  std::vector<std::string> takeNotes() override;
  std::uint32_t latencyTimerMs() const override { return latencyTimerMs_; }
  std::vector<DriverFact> facts() const override;

 private:
  struct Device;

  LibFtdiApi(const LibFtdiApi&) = delete;
  LibFtdiApi& operator=(const LibFtdiApi&) = delete;

  // The open device behind `handle`, or nullptr for a handle this object did not hand out.
  Device* find(FtHandle handle);
  bool isOpen(int bus, int address);

  // Guards the table of open devices and the listing context, not the transfers themselves:
  // like a D2XX handle, each handle is used by one thread at a time.
  std::mutex mutex_;
  ftdi_context* lister_ = nullptr;  // For enumeration and string descriptors only.
  std::map<FtHandle, std::unique_ptr<Device>> devices_;
  std::vector<std::string> notes_;
  std::vector<DriverFact> openFacts_;  // of the last device opened, or tried
  std::uint32_t latencyTimerMs_ = kChipLatencyTimerMs;
};

}  // namespace tandra
