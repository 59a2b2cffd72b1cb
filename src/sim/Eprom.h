#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace tandra {

// A UV EPROM in a socket. An erased cell reads 0xFF; programming can only clear bits, so a
// page stores old AND data, and the firmware's read-back after the pulse tells whether every
// byte now holds what was asked. Bits can be stuck at 1 or at 0, as on a worn chip.
class Eprom {
 public:
  static constexpr std::size_t kLargest = 0x40000;

  explicit Eprom(std::size_t size = kLargest) : cells_(size, 0xFF) {}

  std::size_t size() const { return cells_.size(); }
  std::uint8_t read(std::uint32_t address) const;
  // Programs the bytes from `address` on; false when any byte does not read back as asked.
  bool program(std::uint32_t address, std::span<const std::uint8_t> data);

  // Direct access, as a test or a demo sets a chip up.
  std::vector<std::uint8_t>& cells() { return cells_; }
  const std::vector<std::uint8_t>& cells() const { return cells_; }
  void erase() { std::fill(cells_.begin(), cells_.end(), 0xFF); }
  void setStuckBit(std::uint32_t address, int bit, bool value);

 private:
  std::uint32_t wrap(std::uint32_t address) const {
    return static_cast<std::uint32_t>(address % cells_.size());
  }

  std::vector<std::uint8_t> cells_;
  std::map<std::uint32_t, std::uint8_t> stuckOnes_;
  std::map<std::uint32_t, std::uint8_t> stuckZeros_;
};

}  // namespace tandra
