#include "link/HardwareBackend.h"

// Placeholder until the backends land.
namespace tandra {
std::unique_ptr<FtApi> openHardwareBackend(std::string* chosen) {
  if (chosen != nullptr) *chosen = "no USB driver available";
  return nullptr;
}
}  // namespace tandra
