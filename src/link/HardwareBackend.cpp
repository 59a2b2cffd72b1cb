#include "link/HardwareBackend.h"

#include "link/Ftd2xxLibrary.h"
#if defined(TANDRA_HAVE_LIBFTDI)
#include "link/LibFtdiApi.h"
#endif

namespace tandra {

std::unique_ptr<FtApi> openHardwareBackend(std::string* chosen) {
  std::string reason;
  std::unique_ptr<FtApi> api = Ftd2xxLibrary::load();
  if (api != nullptr) {
    reason = std::string("D2XX library ") + Ftd2xxLibrary::defaultLibraryName();
  } else {
#if defined(TANDRA_HAVE_LIBFTDI)
    // The vendor's library is the better driver where it is installed; libftdi1 reaches the
    // same chips through libusb.
    api = std::make_unique<LibFtdiApi>();
    reason = "libftdi1";
#else
    reason = std::string("no USB driver: ") + Ftd2xxLibrary::defaultLibraryName() +
             " could not be loaded and this build has no libftdi1";
#endif
  }
  if (chosen != nullptr) *chosen = reason;
  return api;
}

}  // namespace tandra
