#include "link/HardwareBackend.h"
#include "common/Words.h"

#include <cctype>
#include <string>
#include <vector>

#include "link/Ftd2xxLibrary.h"
#if defined(TANDRA_HAVE_LIBFTDI)
#include "link/LibFtdiApi.h"
#endif

namespace tandra {

#if !defined(_WIN32)
namespace {

std::uint32_t deviceCount(FtApi& api) {
  std::uint32_t count = 0;
  return api.ListDevices(&count, nullptr, ft::ListNumberOnly) == ft::Ok ? count : 0;
}

}  // namespace
#endif

std::optional<DriverChoice> parseDriverChoice(std::string_view word) {
  const std::string lower = asciiLower(word);
  if (lower == "d2xx") return DriverChoice::D2xx;
  if (lower == "libftdi") return DriverChoice::LibFtdi;
  if (lower == "virtual") return DriverChoice::Virtual;
  return std::nullopt;
}

DriverFactories hardwareDrivers() {
  DriverFactories drivers;
  drivers.d2xx = []() -> std::unique_ptr<FtApi> { return Ftd2xxLibrary::load(); };
#if defined(TANDRA_HAVE_LIBFTDI)
  drivers.libFtdi = []() -> std::unique_ptr<FtApi> { return std::make_unique<LibFtdiApi>(); };
#else
  drivers.libFtdi = []() -> std::unique_ptr<FtApi> { return nullptr; };
#endif
  return drivers;
}

#if defined(_WIN32)
namespace {

// The vendor's library missing where it is the only way to the chip (Windows, where it comes
// with the driver), said as what to do.
std::unique_ptr<FtApi> withoutTheVendorsDriver() {
  return std::make_unique<NoDriver>(
      std::string(Ftd2xxLibrary::defaultLibraryName()) + " was not found: install the FTDI driver",
      "install the FTDI driver (it brings " + std::string(Ftd2xxLibrary::defaultLibraryName()) +
          ")");
}

}  // namespace
#endif

std::unique_ptr<FtApi> chooseDriver(DriverChoice choice, const DriverFactories& drivers,
                                    std::vector<std::string>* probes) {
  const std::string d2xxName = Ftd2xxLibrary::defaultLibraryName();
  const auto probe = [&](const std::string& line) {
    if (probes != nullptr) probes->push_back(line);
  };
  std::unique_ptr<FtApi> d2xx;
  std::unique_ptr<FtApi> libFtdi;
  switch (choice) {
    case DriverChoice::D2xx:
      probe("asked for the vendor's library");
      if ((d2xx = drivers.d2xx())) return d2xx;
      probe(d2xxName + " could not be loaded");
#if defined(_WIN32)
      return withoutTheVendorsDriver();
#else
      return std::make_unique<NoDriver>("no USB driver: " + d2xxName + " could not be loaded");
#endif
    case DriverChoice::LibFtdi:
      probe("asked for libftdi1");
      if ((libFtdi = drivers.libFtdi())) return libFtdi;
      probe("this build has no libftdi1");
      return std::make_unique<NoDriver>("no USB driver: this build has no libftdi1");
    case DriverChoice::Virtual:
    case DriverChoice::Automatic:
      break;
  }
#if defined(_WIN32)
  // The vendor's driver is how the chip is reached on Windows.
  if ((d2xx = drivers.d2xx())) {
    probe(d2xxName + " loaded: chosen, as on every Windows");
    return d2xx;
  }
  probe(d2xxName + " could not be loaded");
  if ((libFtdi = drivers.libFtdi())) return libFtdi;
  return withoutTheVendorsDriver();
#else
  // A stock Linux system gives the chip to its serial driver, which the vendor's library
  // cannot open past and libftdi1 detaches; the vendor's library serves where libftdi1 is
  // missing or sees no device (a system that has the chip under the vendor's own driver).
  libFtdi = drivers.libFtdi();
  const std::uint32_t libFtdiSees = libFtdi ? deviceCount(*libFtdi) : 0;
  probe(libFtdi ? "libftdi1 sees " + std::to_string(libFtdiSees) + " device(s)"
                : std::string("this build has no libftdi1"));
  if (libFtdi && libFtdiSees > 0) {
    probe("libftdi1 chosen: it sees the programmer");
    return libFtdi;
  }
  d2xx = drivers.d2xx();
  const std::uint32_t d2xxSees = d2xx ? deviceCount(*d2xx) : 0;
  probe(d2xx ? d2xxName + " sees " + std::to_string(d2xxSees) + " device(s)"
             : d2xxName + " could not be loaded");
  if (d2xx && (!libFtdi || d2xxSees > 0)) {
    probe(d2xxName + " chosen: " +
          (libFtdi ? std::string("it sees a device libftdi1 does not") : "libftdi1 is missing"));
    return d2xx;
  }
  if (libFtdi) {
    probe("libftdi1 chosen: neither sees a device, and it is the driver for a stock system");
    return libFtdi;
  }
  return std::make_unique<NoDriver>("no USB driver: " + d2xxName +
                                    " could not be loaded and this build has no libftdi1");
#endif
}

FtStatus NoDriver::ListDevices(void* arg1, void*, std::uint32_t flags) {
  if ((flags & ft::ListNumberOnly) != 0 && arg1 != nullptr) {
    *static_cast<std::uint32_t*>(arg1) = 0;
    return ft::Ok;
  }
  return ft::DeviceNotFound;
}

UnlistedUsb NoDriver::whyNoUsbDevice() const {
  if (toDo_.empty()) return FtApi::whyNoUsbDevice();
  return {why_.substr(0, why_.find(':')), toDo_};
}

}  // namespace tandra
