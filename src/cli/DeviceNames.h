#pragma once

#include <string>
#include <string_view>

#include "device/Catalogue.h"

namespace tandra::cli {

// The names nearest to a mistyped one, "27C256, 27256 or 27C512".
std::string nearestDeviceNames(std::string_view name);

}  // namespace tandra::cli
