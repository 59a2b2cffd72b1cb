#include "device/SocketImages.h"

#include <algorithm>

namespace tandra {

const std::string& SocketImages::nameOf(int socket) const {
  static const std::string kShared;
  const std::unique_ptr<Own>& own = own_[index(socket)];
  return own ? own->name : kShared;
}

std::optional<std::uint64_t> SocketImages::serialNumberOf(int socket) const {
  const std::unique_ptr<Own>& own = own_[index(socket)];
  return own ? own->serialNumber : std::nullopt;
}

void SocketImages::set(int socket, ImageBuffer image, std::string name,
                       std::optional<std::uint64_t> serialNumber) {
  own_[index(socket)] = std::make_unique<Own>(Own{std::move(image), std::move(name), serialNumber});
}

void SocketImages::clear() {
  for (auto& own : own_) own.reset();
}

bool SocketImages::anyOwn() const {
  return std::any_of(own_.begin(), own_.end(), [](const auto& own) { return own != nullptr; });
}

}  // namespace tandra
