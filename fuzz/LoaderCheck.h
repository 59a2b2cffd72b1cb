#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tandra::fuzz {

enum class Loader { Text, Binary };

// Loads one input (its first byte picks the device and the fill, see LoaderCheck.cpp) and checks
// what the load did; the first finding, or empty when the load behaved.
std::string checkLoad(Loader loader, const std::uint8_t* data, std::size_t size);

}  // namespace tandra::fuzz
