#include "link/HardwareBackend.h"

#include <cctype>

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
  std::string lower;
  for (char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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

std::unique_ptr<FtApi> chooseDriver(DriverChoice choice, const DriverFactories& drivers) {
  const std::string d2xxName = Ftd2xxLibrary::defaultLibraryName();
  std::unique_ptr<FtApi> d2xx;
  std::unique_ptr<FtApi> libFtdi;
  switch (choice) {
    case DriverChoice::D2xx:
      if ((d2xx = drivers.d2xx())) return d2xx;
      return std::make_unique<NoDriver>("no USB driver: " + d2xxName + " could not be loaded");
    case DriverChoice::LibFtdi:
      if ((libFtdi = drivers.libFtdi())) return libFtdi;
      return std::make_unique<NoDriver>("no USB driver: this build has no libftdi1");
    case DriverChoice::Virtual:
    case DriverChoice::Automatic:
      break;
  }
#if defined(_WIN32)
  // The vendor's driver is how the chip is reached on Windows.
  if ((d2xx = drivers.d2xx())) return d2xx;
  if ((libFtdi = drivers.libFtdi())) return libFtdi;
#else
  // A stock Linux system gives the chip to its serial driver, which the vendor's library
  // cannot open past and libftdi1 detaches; the vendor's library serves where libftdi1 is
  // missing or sees no device (a system that has the chip under the vendor's own driver).
  libFtdi = drivers.libFtdi();
  if (libFtdi && deviceCount(*libFtdi) > 0) return libFtdi;
  d2xx = drivers.d2xx();
  if (d2xx && (!libFtdi || deviceCount(*d2xx) > 0)) return d2xx;
  if (libFtdi) return libFtdi;
#endif
  return std::make_unique<NoDriver>("no USB driver: " + d2xxName +
                                    " could not be loaded and this build has no libftdi1");
}

FtStatus NoDriver::ListDevices(void* arg1, void*, std::uint32_t flags) {
  if ((flags & ft::ListNumberOnly) != 0 && arg1 != nullptr) {
    *static_cast<std::uint32_t*>(arg1) = 0;
    return ft::Ok;
  }
  return ft::DeviceNotFound;
}

}  // namespace tandra
