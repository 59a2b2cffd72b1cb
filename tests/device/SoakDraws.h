#pragma once

#include <cstdint>
#include <random>

#include "image/ImageBuffer.h"

namespace tandra::test {

// The soaks' dice: the same seed draws the same operations.
using Random = std::mt19937;

inline int draw(Random& random, int least, int most) {
  return std::uniform_int_distribution<int>(least, most)(random);
}
inline bool chance(Random& random, double p) {
  return std::bernoulli_distribution(p)(random);
}

// An image as programs are: random code, code with erased gaps, one byte over and over, or a
// pattern of its addresses.
inline void fillImage(ImageBuffer& image, std::int32_t end, Random& random) {
  const int pattern = draw(random, 0, 3);
  const auto constant = static_cast<std::uint8_t>(random());
  for (std::int32_t a = 0; a <= end; ++a) {
    switch (pattern) {
      case 0:
        image[a] = static_cast<std::uint8_t>(random());
        break;
      case 1:  // code with erased gaps, as a file shorter than the device leaves it
        image[a] = (a / 1024) % 3 == 2 ? 0xFF : static_cast<std::uint8_t>(random());
        break;
      case 2:
        image[a] = constant;
        break;
      default:
        image[a] = static_cast<std::uint8_t>(a ^ (a >> 8));
        break;
    }
  }
}

}  // namespace tandra::test
