#pragma once

#include <string>
#include <string_view>

#include "device/Catalogue.h"

namespace tandra::cli {

// The type named as the list shows it or as the Device button does ("27C010" or "27010"), in
// any case; nullptr for none.
const DeviceType* findDeviceType(std::string_view name);

// The names nearest to a mistyped one, "27C256, 27256 or 27C512".
std::string nearestDeviceNames(std::string_view name);

}  // namespace tandra::cli
