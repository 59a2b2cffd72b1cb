#pragma once

#include "link/FtApi.h"

namespace tandra {

// A driver that passes every call to another one; a driver built on it overrides the calls it
// watches (the trace) or bends (tests).
class ForwardingApi : public FtApi {
 public:
  explicit ForwardingApi(FtApi& inner) : inner_(inner) {}

  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override {
    return inner_.ListDevices(arg1, arg2, flags);
  }
  FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) override {
    return inner_.OpenEx(arg1, flags, handle);
  }
  FtStatus SetTimeouts(FtHandle handle, std::uint32_t readMs, std::uint32_t writeMs) override {
    return inner_.SetTimeouts(handle, readMs, writeMs);
  }
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override {
    return inner_.GetQueueStatus(handle, rxBytes);
  }
  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    return inner_.Write(handle, buffer, count, written);
  }
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                std::uint32_t* received) override {
    return inner_.Read(handle, buffer, count, received);
  }
  FtStatus Close(FtHandle handle) override { return inner_.Close(handle); }
  std::string driverName() const override { return inner_.driverName(); }
  std::vector<std::string> takeNotes() override { return inner_.takeNotes(); }
  std::uint32_t latencyTimerMs() const override { return inner_.latencyTimerMs(); }
  std::vector<DriverFact> facts() const override { return inner_.facts(); }
  std::vector<UsbDevice> usbDevices() const override { return inner_.usbDevices(); }
  UnlistedUsb whyNoUsbDevice() const override { return inner_.whyNoUsbDevice(); }

 private:
  FtApi& inner_;
};

}  // namespace tandra
