#include "device/Engine.h"

#include <algorithm>

namespace tandra {

void Engine::setMaskFromCount(int socketCount) {
  if (socketCount >= 1 && socketCount <= kSockets) activeSocketMask = (1 << socketCount) - 1;
}

void Engine::clearFailureFlags(int socketCount) {
  for (int s = 1; s <= std::min(socketCount, kSockets); ++s) socketFailureFlags[s - 1] = 0;
}

}  // namespace tandra
