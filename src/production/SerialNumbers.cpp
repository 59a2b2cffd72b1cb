#include "production/SerialNumbers.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace tandra {

std::optional<SerialFormat> parseSerialFormat(std::string_view word) {
  if (word == "le") return SerialFormat::LittleEndian;
  if (word == "be") return SerialFormat::BigEndian;
  if (word == "bcd") return SerialFormat::Bcd;
  if (word == "ascii") return SerialFormat::Ascii;
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> serialBytes(std::uint64_t number, SerialFormat format,
                                                     int width) {
  if (width < 1 || width > 20) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width), 0);
  std::uint64_t rest = number;
  switch (format) {
    case SerialFormat::LittleEndian:
    case SerialFormat::BigEndian:
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(rest & 0xFF);
        rest >>= 8;
      }
      if (format == SerialFormat::BigEndian) std::reverse(bytes.begin(), bytes.end());
      break;
    case SerialFormat::Bcd:
      for (std::size_t i = bytes.size(); i-- > 0;) {
        bytes[i] = static_cast<std::uint8_t>((rest % 10) | ((rest / 10 % 10) << 4));
        rest /= 100;
      }
      break;
    case SerialFormat::Ascii:
      for (std::size_t i = bytes.size(); i-- > 0;) {
        bytes[i] = static_cast<std::uint8_t>('0' + rest % 10);
        rest /= 10;
      }
      break;
  }
  if (rest != 0) return std::nullopt;  // more digits than the width holds
  return bytes;
}

bool writeSerialNumber(ImageBuffer& image, std::int32_t address, std::uint64_t number,
                       SerialFormat format, int width) {
  if (address < 0 || std::int64_t{address} + width - 1 > std::int64_t{image.deviceEndAddress}) {
    return false;
  }
  const std::optional<std::vector<std::uint8_t>> bytes = serialBytes(number, format, width);
  if (!bytes) return false;
  std::copy(bytes->begin(), bytes->end(), image.data() + address);
  return true;
}

SerialNumbers::SerialNumbers(std::uint64_t first, std::uint64_t step, bool reuseFailed)
    : next_(first), step_(step), reuseFailed_(reuseFailed) {
  if (step == 0) throw std::invalid_argument("serial numbers must go up by at least 1");
}

std::optional<std::uint64_t> SerialNumbers::next() const {
  if (!returned_.empty()) return returned_.front();
  if (runOut_) return std::nullopt;
  return next_;
}

std::optional<std::uint64_t> SerialNumbers::take() {
  const std::optional<std::uint64_t> number = next();
  if (!number) return std::nullopt;
  if (!returned_.empty()) {
    returned_.pop_front();
  } else if (next_ > std::numeric_limits<std::uint64_t>::max() - step_) {
    runOut_ = true;  // the next one would wrap round to a number given long ago
  } else {
    next_ += step_;
  }
  return number;
}

std::optional<std::vector<std::uint64_t>> SerialNumbers::take(int count) {
  SerialNumbers trial = *this;
  std::vector<std::uint64_t> numbers;
  for (int i = 0; i < count; ++i) {
    const std::optional<std::uint64_t> number = trial.take();
    if (!number) return std::nullopt;
    numbers.push_back(*number);
  }
  *this = std::move(trial);
  return numbers;
}

std::vector<std::uint64_t> SerialNumbers::upcoming(int count) const {
  SerialNumbers trial = *this;
  std::vector<std::uint64_t> numbers;
  for (int i = 0; i < count; ++i) {
    const std::optional<std::uint64_t> number = trial.take();
    if (!number) break;
    numbers.push_back(*number);
  }
  return numbers;
}

void SerialNumbers::failed(std::uint64_t number) {
  if (reuseFailed_) returned_.push_back(number);
}

}  // namespace tandra
