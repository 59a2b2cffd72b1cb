#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tandra {

// The digests a record of an image carries, as other tools print them: SHA-256 and CRC-32 in
// lower-case hexadecimal.
std::string sha256Hex(std::string_view bytes);
std::string crc32Hex(std::string_view bytes);

}  // namespace tandra
