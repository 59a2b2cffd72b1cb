#include "image/Checksum.h"

#include <algorithm>
#include <numeric>

#include "image/ImageBuffer.h"

namespace tandra {

std::uint16_t bufferChecksum(const ImageBuffer& image) {
  const std::int32_t first = std::max(image.deviceStartAddress, 0);
  const std::int32_t last = std::min(image.deviceEndAddress, ImageBuffer::kSize - 1);
  if (last < first) return 0;
  const std::uint32_t sum =
      std::accumulate(image.data() + first, image.data() + last + 1, std::uint32_t{0});
  return static_cast<std::uint16_t>(sum & 0xFFFF);
}

void fillBuffer(ImageBuffer& image, std::uint8_t value) {
  std::fill(image.data(), image.data() + ImageBuffer::kSize, value);
}

}  // namespace tandra
