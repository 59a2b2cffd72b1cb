#include <gtest/gtest.h>

#include "link/HardwareBackend.h"

namespace tandra {
namespace {

// A driver that sees `devices` programmers and answers to its name.
class CountingDriver final : public FtApi {
 public:
  CountingDriver(std::string name, std::uint32_t devices)
      : name_(std::move(name)), devices_(devices) {}
  FtStatus ListDevices(void* arg1, void*, std::uint32_t) override {
    *static_cast<std::uint32_t*>(arg1) = devices_;
    return ft::Ok;
  }
  FtStatus OpenEx(void*, std::uint32_t, FtHandle*) override { return ft::DeviceNotFound; }
  FtStatus SetTimeouts(FtHandle, std::uint32_t, std::uint32_t) override { return ft::Ok; }
  FtStatus GetQueueStatus(FtHandle, std::uint32_t*) override { return ft::Ok; }
  FtStatus Write(FtHandle, const void*, std::uint32_t, std::uint32_t*) override { return ft::Ok; }
  FtStatus Read(FtHandle, void*, std::uint32_t, std::uint32_t*) override { return ft::Ok; }
  FtStatus Close(FtHandle) override { return ft::Ok; }
  std::string driverName() const override { return name_; }

 private:
  std::string name_;
  std::uint32_t devices_;
};

// -1: the driver is not there; otherwise the devices it sees.
DriverFactories drivers(int d2xxDevices, int libFtdiDevices) {
  const auto factory = [](const char* name, int devices) {
    return [name, devices]() -> std::unique_ptr<FtApi> {
      if (devices < 0) return nullptr;
      return std::make_unique<CountingDriver>(name, static_cast<std::uint32_t>(devices));
    };
  };
  return {factory("d2xx", d2xxDevices), factory("libftdi", libFtdiDevices)};
}

TEST(DriverChoice, LinuxPrefersLibFtdiAndFallsBackToTheVendorLibrary) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows takes the vendor's library first";
#endif
  const struct {
    int d2xx, libFtdi;
    const char* chosen;
  } cases[] = {
      {1, 1, "libftdi"},  // both see it: libftdi1 can take the chip from the serial driver
      {1, 0, "d2xx"},     // only the vendor's library sees it
      {0, 0, "libftdi"},  // nobody does: libftdi1, to find it when it is plugged in
      {1, -1, "d2xx"},    // no libftdi1 in this build
      {-1, 0, "libftdi"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(chooseDriver(DriverChoice::Automatic, drivers(c.d2xx, c.libFtdi))->driverName(),
              c.chosen)
        << c.d2xx << " " << c.libFtdi;
  }
  EXPECT_NE(chooseDriver(DriverChoice::Automatic, drivers(-1, -1))->driverName().find("no USB"),
            std::string::npos);
}

TEST(DriverChoice, WindowsTakesTheVendorsLibraryOrSaysPlainlyThatItIsMissing) {
#if !defined(_WIN32)
  GTEST_SKIP() << "Windows' choice: Linux prefers libftdi1, as the case above shows";
#else
  EXPECT_EQ(chooseDriver(DriverChoice::Automatic, drivers(0, 1))->driverName(), "d2xx");
  for (const DriverChoice choice : {DriverChoice::Automatic, DriverChoice::D2xx}) {
    const std::unique_ptr<FtApi> none = chooseDriver(choice, drivers(-1, -1));
    EXPECT_EQ(none->driverName(), "ftd2xx.dll was not found: install the FTDI driver");
    // Without it no USB device can be listed: the first-contact check says why.
    EXPECT_EQ(none->whyNoUsbDevice().found, "ftd2xx.dll was not found");
    EXPECT_EQ(none->whyNoUsbDevice().toDo, "install the FTDI driver (it brings ftd2xx.dll)");
  }
#endif
}

TEST(DriverChoice, TheOperatorsChoiceIsTakenOrSaysWhyNot) {
  EXPECT_EQ(chooseDriver(DriverChoice::D2xx, drivers(0, 1))->driverName(), "d2xx");
  EXPECT_EQ(chooseDriver(DriverChoice::LibFtdi, drivers(1, 0))->driverName(), "libftdi");
  const std::unique_ptr<FtApi> none = chooseDriver(DriverChoice::LibFtdi, drivers(1, -1));
  EXPECT_EQ(none->driverName(), "no USB driver: this build has no libftdi1");
  std::uint32_t count = 7;
  EXPECT_EQ(none->ListDevices(&count, nullptr, ft::ListNumberOnly), ft::Ok);
  EXPECT_EQ(count, 0u);

  EXPECT_EQ(parseDriverChoice("D2XX"), DriverChoice::D2xx);
  EXPECT_EQ(parseDriverChoice("libftdi"), DriverChoice::LibFtdi);
  EXPECT_EQ(parseDriverChoice("virtual"), DriverChoice::Virtual);
  EXPECT_EQ(parseDriverChoice("ftdi"), std::nullopt);
}

}  // namespace
}  // namespace tandra
