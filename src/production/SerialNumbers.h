#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "image/ImageBuffer.h"

namespace tandra {

// How a serial number is written into a chip's image.
enum class SerialFormat {
  LittleEndian,  // binary, lowest byte first
  BigEndian,     // binary, highest byte first
  Bcd,           // two decimal digits a byte, highest first
  Ascii,         // decimal digits as characters, with leading zeros
};
std::optional<SerialFormat> parseSerialFormat(std::string_view word);

// The `width` bytes that say `number`; nothing when it has more digits or bytes than that.
std::optional<std::vector<std::uint8_t>> serialBytes(std::uint64_t number, SerialFormat format,
                                                     int width);
// Writes `number` at `address` in `width` bytes; false (and nothing written) when it does not
// fit in that width or past the device's end.
bool writeSerialNumber(ImageBuffer& image, std::int32_t address, std::uint64_t number,
                       SerialFormat format, int width);

// Where serial numbers come from: a run's own count, or a ledger several runs share.
class SerialSource {
 public:
  virtual ~SerialSource() = default;
  // `count` numbers for one set, all of them or none: nothing once they have run out.
  virtual std::optional<std::vector<std::uint64_t>> take(int count) = 0;
  // A number given to a chip that did not pass: given again where numbers are reused, else
  // spent.
  virtual void failed(std::uint64_t number) = 0;
  // The numbers the next take(count) would give, as far as can be known now.
  virtual std::vector<std::uint64_t> upcoming(int count) const = 0;
};

// The serial numbers a run of several sets hands out: from a first one in steps of at least 1,
// each once. A number given to a chip that did not pass is spent, unless such numbers are to be
// used again. The numbers never wrap: past the largest 64-bit number there are none.
class SerialNumbers final : public SerialSource {
 public:
  // Throws std::invalid_argument for a step of 0, which would give every chip one number.
  SerialNumbers(std::uint64_t first, std::uint64_t step, bool reuseFailed);

  std::optional<std::uint64_t> take();
  std::optional<std::vector<std::uint64_t>> take(int count) override;
  // What became of a number handed out: a failed chip's number comes back when reused.
  void failed(std::uint64_t number) override;
  std::vector<std::uint64_t> upcoming(int count) const override;
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
