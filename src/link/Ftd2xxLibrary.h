#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/FtApi.h"

namespace tandra {

// The vendor's D2XX library (ftd2xx.dll, libftd2xx.so), loaded at run time so that the program
// builds and runs without it. The seven calls are resolved by their published C signatures.
class Ftd2xxLibrary final : public FtApi {
 public:
  // Loads the library by the platform's name for it, or from `path` when given. Returns
  // nullptr when the library or one of the seven functions is missing.
  static std::unique_ptr<Ftd2xxLibrary> load(const std::string& path = {});
  static const char* defaultLibraryName();
  ~Ftd2xxLibrary() override;

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
  std::string driverName() const override {
    return std::string("D2XX library ") + defaultLibraryName();
  }
  std::vector<std::string> takeNotes() override;
  std::uint32_t latencyTimerMs() const override { return latencyTimerMs_; }
  std::vector<DriverFact> facts() const override;
  // The system's own list where it has one (Linux's /sys, which also says who may open each);
  // elsewhere (Windows) the library's: FT_CreateDeviceInfoList and FT_GetDeviceInfoDetail.
  std::vector<UsbDevice> usbDevices() const override;

  // Whether the kernel's serial driver is loaded (on Linux, /sys/module/ftdi_sio), and whether
  // this user may open the USB chips' device nodes; tests give their own answers.
  std::function<bool()> serialDriverLoaded;
  std::function<bool()> deviceNodesOpenable;
  // Where the system lists USB devices; where it is not, the library is asked (tests name a
  // folder that is not there).
  std::string systemUsbDevices = "/sys/bus/usb/devices";

 private:
  struct Functions;
  Ftd2xxLibrary(void* module, std::unique_ptr<Functions> functions);
  Ftd2xxLibrary(const Ftd2xxLibrary&) = delete;
  Ftd2xxLibrary& operator=(const Ftd2xxLibrary&) = delete;

  std::vector<UsbDevice> libraryUsbDevices() const;
  void addDetailFacts(FtHandle opened);

  void* module_;
  std::unique_ptr<Functions> functions_;
  std::vector<std::string> notes_;
  std::vector<DriverFact> openFacts_;
  std::uint32_t latencyTimerMs_ = kChipLatencyTimerMs;
};

}  // namespace tandra
