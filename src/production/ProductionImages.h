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

// While it lives, the image's address window is that of a bus `lanes` chips wide (2 or 4; 0 for
// one chip), as many chips long, so that the file of the whole bus loads into the buffer; then
// the window is one chip's again, the window every socket's lane is judged in.
class BusWindow {
 public:
  BusWindow(ImageBuffer& image, int lanes);
  ~BusWindow() { image_.deviceEndAddress = chipEndAddress_; }
  BusWindow(const BusWindow&) = delete;
  BusWindow& operator=(const BusWindow&) = delete;

  // False when the bus's image is larger than the buffer: the window is left one chip's.
  bool fits() const { return fits_; }
  // The window's bytes: the whole bus's, or one chip's.
  std::int64_t size() const { return std::int64_t{image_.deviceEndAddress} + 1; }

 private:
  ImageBuffer& image_;
  std::int32_t chipEndAddress_;
  bool fits_ = true;
};

}  // namespace tandra
