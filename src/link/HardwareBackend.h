#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/FtApi.h"

namespace tandra {

// Which driver reaches the programmer: chosen by the program, or named by the operator.
enum class DriverChoice { Automatic, D2xx, LibFtdi, Virtual };

// "d2xx", "libftdi", "virtual" (any case); nothing for another word.
std::optional<DriverChoice> parseDriverChoice(std::string_view word);

// The drivers a build can offer; a factory gives nullptr where its driver is not available.
struct DriverFactories {
  std::function<std::unique_ptr<FtApi>()> d2xx;
  std::function<std::unique_ptr<FtApi>()> libFtdi;
};

// The real drivers of this build: the vendor's library when it loads, libftdi1 when built in.
DriverFactories hardwareDrivers();

// The driver for a real programmer. Automatic: on Windows the vendor's library; elsewhere
// libftdi1, which takes the chip from the kernel's serial driver, unless it is missing or finds
// no device while the vendor's library finds one. Never nullptr: without a driver the result is
// one that finds no device and says why in its name. `probes`, when given, gets what each
// driver tried was found to offer, and what was chosen why, one line each.
std::unique_ptr<FtApi> chooseDriver(DriverChoice choice, const DriverFactories& drivers,
                                    std::vector<std::string>* probes = nullptr);

// A driver that finds nothing, for a build or a system without a USB driver: its name says why,
// and `toDo`, when given, what the operator is to do where no device can be listed without it.
class NoDriver final : public FtApi {
 public:
  explicit NoDriver(std::string why, std::string toDo = {})
      : why_(std::move(why)), toDo_(std::move(toDo)) {}
  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
  FtStatus OpenEx(void*, std::uint32_t, FtHandle*) override { return ft::DeviceNotFound; }
  FtStatus SetTimeouts(FtHandle, std::uint32_t, std::uint32_t) override {
    return ft::InvalidHandle;
  }
  FtStatus GetQueueStatus(FtHandle, std::uint32_t*) override { return ft::InvalidHandle; }
  FtStatus Write(FtHandle, const void*, std::uint32_t, std::uint32_t*) override {
    return ft::InvalidHandle;
  }
  FtStatus Read(FtHandle, void*, std::uint32_t, std::uint32_t*) override {
    return ft::InvalidHandle;
  }
  FtStatus Close(FtHandle) override { return ft::InvalidHandle; }
  std::string driverName() const override { return why_; }
  UnlistedUsb whyNoUsbDevice() const override;

 private:
  std::string why_;
  std::string toDo_;
};

}  // namespace tandra
