#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
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

// How a serial number is written into a chip's image.
enum class SerialFormat {
  LittleEndian,  // binary, lowest byte first
  BigEndian,     // binary, highest byte first
  Bcd,           // two decimal digits a byte, highest first
  Ascii,         // decimal digits as characters, with leading zeros
};
std::optional<SerialFormat> parseSerialFormat(std::string_view word);

// Writes `number` at `address` in `width` bytes; false (and nothing written) when it does not
// fit in that width or past the device's end.
bool writeSerialNumber(ImageBuffer& image, std::int32_t address, std::uint64_t number,
                       SerialFormat format, int width);

// The serial numbers a run of several sets hands out: from a first one in steps of at least 1,
// each once. A number given to a chip that did not pass is spent, unless such numbers are to be
// used again. The numbers never wrap: past the largest 64-bit number there are none.
class SerialNumbers {
 public:
  // Throws std::invalid_argument for a step of 0, which would give every chip one number.
  SerialNumbers(std::uint64_t first, std::uint64_t step, bool reuseFailed);

  std::optional<std::uint64_t> take();
  // What became of a number handed out: a failed chip's number comes back when reused.
  void failed(std::uint64_t number);
  // The number the next take() gives, if any.
  std::optional<std::uint64_t> next() const;
  std::uint64_t step() const { return step_; }

 private:
  std::uint64_t next_;
  std::uint64_t step_;
  bool reuseFailed_;
  bool runOut_ = false;
  std::deque<std::uint64_t> returned_;
};

}  // namespace tandra
