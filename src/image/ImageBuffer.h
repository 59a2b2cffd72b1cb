#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace tandra {

// The one memory image of a device. Byte n is the byte at address n of the device in every
// socket. It holds the largest device range (256K x 8), so every device type is served whole.
class ImageBuffer {
 public:
  static constexpr std::int32_t kSize = 0x40000;
  using Bytes = std::array<std::uint8_t, kSize>;

  ImageBuffer() : bytes_(std::make_unique<Bytes>()) { bytes_->fill(0x00); }
  // A copy has to be asked for: a quarter megabyte is not copied by the way.
  ImageBuffer copy() const {
    ImageBuffer twin;
    *twin.bytes_ = *bytes_;
    twin.deviceStartAddress = deviceStartAddress;
    twin.deviceEndAddress = deviceEndAddress;
    twin.currentAddress = currentAddress;
    return twin;
  }

  // The address window every device operation, load and save works in.
  std::int32_t deviceStartAddress = 0;
  std::int32_t deviceEndAddress = 0;
  std::int32_t currentAddress = 0;

  std::uint8_t* data() { return bytes_->data(); }
  const std::uint8_t* data() const { return bytes_->data(); }
  std::uint8_t& operator[](std::int32_t address) {
    return (*bytes_)[static_cast<std::size_t>(address)];
  }
  std::uint8_t operator[](std::int32_t address) const {
    return (*bytes_)[static_cast<std::size_t>(address)];
  }
  static constexpr bool contains(std::int64_t address) { return address >= 0 && address < kSize; }

 private:
  std::unique_ptr<Bytes> bytes_;
};

}  // namespace tandra
