#include "sim/Eprom.h"

#include <algorithm>

namespace tandra {

std::uint8_t Eprom::read(std::uint32_t address) const {
  address = wrap(address);
  std::uint8_t value = cells_[address];
  if (const auto it = stuckOnes_.find(address); it != stuckOnes_.end()) value |= it->second;
  if (const auto it = stuckZeros_.find(address); it != stuckZeros_.end()) {
    value = static_cast<std::uint8_t>(value & ~it->second);
  }
  return value;
}

bool Eprom::program(std::uint32_t address, std::span<const std::uint8_t> data) {
  bool good = true;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::uint32_t cell = wrap(address + static_cast<std::uint32_t>(i));
    cells_[cell] &= data[i];
    if (read(cell) != data[i]) good = false;
  }
  return good;
}

void Eprom::setStuckBit(std::uint32_t address, int bit, bool value) {
  address = wrap(address);
  const auto mask = static_cast<std::uint8_t>(1u << bit);
  (value ? stuckOnes_ : stuckZeros_)[address] |= mask;
  (value ? stuckZeros_ : stuckOnes_)[address] &= static_cast<std::uint8_t>(~mask);
}

}  // namespace tandra
