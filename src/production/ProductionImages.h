#pragma once

#include <cstdint>
#include <vector>

#include "image/ImageBuffer.h"

namespace tandra {

// One lane of an image for a bus wider than a chip: with `lanes` chips side by side (2 for a
// 16-bit bus, 4 for a 32-bit one), chip `lane` (0 first) holds bytes lane, lane + lanes,
// lane + 2 x lanes, ... of `source`, whose first `sourceBytes` bytes are the image. The lane
// fills the device range; what the source does not reach is 0xFF, as an erased chip has it.
ImageBuffer splitLane(const ImageBuffer& source, std::int64_t sourceBytes, int lanes, int lane,
                      std::int32_t deviceEndAddress);

}  // namespace tandra
