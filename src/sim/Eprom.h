#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "sim/ChipTypes.h"

namespace tandra {

// A UV EPROM in a socket. An erased cell reads 0xFF; programming can only clear bits, so a
// page stores old AND data, and the firmware's read-back after the pulse tells whether every
// byte now holds what was asked. Bits can be stuck at 1 or at 0, as on a worn chip.
//
// A chip of a given type has that type's size (address lines it lacks are not connected, so
// addresses wrap) and takes a pulse only with its own algorithm and programming voltage. A chip
// without a type stands for a blank chip of whatever type the operator chooses: 256 KiB, and
// programmed with whichever voltage the chosen type calls for.
class Eprom {
 public:
  static constexpr std::size_t kLargest = 0x40000;

  explicit Eprom(std::size_t size = kLargest) : cells_(size, 0xFF) {}
  explicit Eprom(const sim::Chip& type) : cells_(type.size, 0xFF), type_(&type) {}

  std::size_t size() const { return cells_.size(); }
  // nullptr for a chip that takes the type the host sets the programmer up for.
  const sim::Chip* type() const { return type_; }
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
  const sim::Chip* type_ = nullptr;
  std::map<std::uint32_t, std::uint8_t> stuckOnes_;
  std::map<std::uint32_t, std::uint8_t> stuckZeros_;
};

}  // namespace tandra
