#pragma once

#include <cstddef>
#include <cstdint>

namespace tandra {

class ImageBuffer;

// The 16-bit sum of every byte of the address window (device start to device end), overflow
// dropped: the figure printed on chip labels and shown by other programmers.
std::uint16_t bufferChecksum(const ImageBuffer& image);
// The same sum over any run of bytes.
std::uint16_t byteSum(const std::uint8_t* bytes, std::size_t count);

// Sets every byte of the image buffer, not just the device range, so that no stale byte is left
// for a larger device to be programmed with.
void fillBuffer(ImageBuffer& image, std::uint8_t value);

}  // namespace tandra
