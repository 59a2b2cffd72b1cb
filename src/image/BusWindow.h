#pragma once

#include <cstdint>

#include "image/ImageBuffer.h"

namespace tandra {

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
