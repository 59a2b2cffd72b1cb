#pragma once

#include <array>
#include <string>

namespace tandra {

// Which sockets are still in play in the running operation, and the engine's working values.
class Engine {
 public:
  static constexpr int kSockets = 5;

  // Bit s-1 set while socket s is in play.
  int activeSocketMask = 0;
  // 1 once socket s has failed in the current operation (index s-1).
  std::array<int, kSockets> socketFailureFlags{};
  // Position within the current block or page.
  int byteIndex = 0;

  // Mask for a socket count of 1 to 5 (0x01, 0x03 ... 0x1F); any other count leaves the mask.
  void setMaskFromCount(int socketCount);
  void clearFailureFlags(int socketCount);
};

}  // namespace tandra
