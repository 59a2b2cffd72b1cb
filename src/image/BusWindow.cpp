#include "image/BusWindow.h"

namespace tandra {

BusWindow::BusWindow(ImageBuffer& image, int lanes)
    : image_(image), chipEndAddress_(image.deviceEndAddress) {
  if (lanes < 2) return;
  const std::int64_t whole = (std::int64_t{chipEndAddress_} + 1) * lanes;
  fits_ = whole <= ImageBuffer::kSize;
  if (fits_) image_.deviceEndAddress = static_cast<std::int32_t>(whole - 1);
}

}  // namespace tandra
