#include "image/Checksum.h"

#include <algorithm>
#include <numeric>

#include "image/ImageBuffer.h"

namespace tandra {

std::uint16_t bufferChecksum(const ImageBuffer& image) {
  const std::int32_t first = std::max(image.deviceStartAddress, 0);
  const std::int32_t last = std::min(image.deviceEndAddress, ImageBuffer::kSize - 1);
  if (last < first) return 0;
  return byteSum(image.data() + first, static_cast<std::size_t>(last - first + 1));
}

std::uint16_t byteSum(const std::uint8_t* bytes, std::size_t count) {
  const std::uint32_t sum = std::accumulate(bytes, bytes + count, std::uint32_t{0});
  return static_cast<std::uint16_t>(sum & 0xFFFF);
}

void fillBuffer(ImageBuffer& image, std::uint8_t value) {
  std::fill(image.data(), image.data() + ImageBuffer::kSize, value);
}

}  // namespace tandra
