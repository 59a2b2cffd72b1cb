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

SerialTake SerialCount::take(int count, const SerialFits& fits) {
  SerialCount trial = *this;
  SerialTake taken;
  for (int i = 0; i < count; ++i) {
    std::uint64_t number = trial.next;
    if (!trial.returned.empty()) {
      number = trial.returned.front();
      trial.returned.pop_front();
    } else if (trial.runOut) {
      return {{}, SerialTake::Fault::RunOut, last(), 0};
    } else if (trial.next > std::numeric_limits<std::uint64_t>::max() - trial.step) {
      trial.runOut = true;  // the next one would wrap round to a number given long ago
    } else {
      trial.next += trial.step;
    }
    if (fits && !fits(number)) {
      return {{}, SerialTake::Fault::TooLong, number, static_cast<std::size_t>(i)};
    }
    taken.numbers.push_back(number);
  }
  *this = std::move(trial);
  return taken;
}

std::uint64_t SerialCount::last() const {
  if (runOut) return next;
  return next + (std::numeric_limits<std::uint64_t>::max() - next) / step * step;
}

SerialNumbers::SerialNumbers(std::uint64_t first, std::uint64_t step, bool reuseFailed)
    : count_{first, step, false, {}}, reuseFailed_(reuseFailed) {
  if (step == 0) throw std::invalid_argument("serial numbers must go up by at least 1");
}

std::optional<std::uint64_t> SerialNumbers::firstNeverGiven() const {
  if (count_.runOut) return std::nullopt;
  return count_.next;
}

std::optional<std::uint64_t> SerialNumbers::take() {
  const SerialTake taken = count_.take(1, {});
  if (!taken) return std::nullopt;
  return taken.numbers.front();
}

SerialTake SerialNumbers::take(int count, const SerialFits& fits) {
  return count_.take(count, fits);
}

SerialTake SerialNumbers::peek(int count, const SerialFits& fits) const {
  SerialCount trial = count_;
  return trial.take(count, fits);
}

std::vector<std::uint64_t> SerialNumbers::upcoming(int count) const {
  SerialCount trial = count_;
  std::vector<std::uint64_t> numbers;
  for (int i = 0; i < count; ++i) {
    const SerialTake one = trial.take(1, {});
    if (!one) break;
    numbers.push_back(one.numbers.front());
  }
  return numbers;
}

bool SerialNumbers::failed(std::uint64_t number) {
  if (reuseFailed_) count_.returned.push_back(number);
  return reuseFailed_;
}

void SerialNumbers::giveBack(const std::vector<std::uint64_t>& numbers) {
  count_.returned.insert(count_.returned.begin(), numbers.begin(), numbers.end());
}

}  // namespace tandra
