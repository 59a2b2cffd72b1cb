#include "production/ProductionImages.h"

#include <algorithm>

#include "image/Checksum.h"

namespace tandra {

ImageBuffer splitLane(const ImageBuffer& source, std::int64_t sourceBytes, int lanes, int lane,
                      std::int32_t deviceEndAddress) {
  ImageBuffer chip;
  chip.deviceEndAddress = deviceEndAddress;
  fillBuffer(chip, 0xFF);
  sourceBytes = std::min<std::int64_t>(sourceBytes, ImageBuffer::kSize);
  for (std::int64_t address = 0; address <= deviceEndAddress; ++address) {
    const std::int64_t from = address * lanes + lane;
    if (from >= sourceBytes) break;
    chip[static_cast<std::int32_t>(address)] = source[static_cast<std::int32_t>(from)];
  }
  return chip;
}

}  // namespace tandra
