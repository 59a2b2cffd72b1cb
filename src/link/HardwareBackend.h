#pragma once

#include <memory>
#include <string>

#include "link/FtApi.h"

namespace tandra {

// The driver for a real programmer: the vendor's D2XX library when it can be loaded, else
// libftdi1 when the program was built with it. Returns nullptr when neither is available;
// `chosen` then says why.
std::unique_ptr<FtApi> openHardwareBackend(std::string* chosen);

}  // namespace tandra
