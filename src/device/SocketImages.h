#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "image/ImageBuffer.h"
#include "link/Commands.h"

namespace tandra {

// What each socket is to hold: the image buffer, unless a socket has been given an image of its
// own (a set of different ROMs for one board, one lane of a split image, a copy with its own
// serial number). Program writes each socket's own image, and Verify and Program Compare
// judge each socket against it; the address window is the image buffer's.
class SocketImages {
 public:
  explicit SocketImages(const ImageBuffer& shared) : shared_(shared) {}

  const ImageBuffer& of(int socket) const {
    const std::unique_ptr<Own>& own = own_[index(socket)];
    return own ? own->image : shared_;
  }
  // What a result calls the socket's image ("" for the image buffer), and its serial number.
  const std::string& nameOf(int socket) const;
  std::optional<std::uint64_t> serialNumberOf(int socket) const;

  void set(int socket, ImageBuffer image, std::string name,
           std::optional<std::uint64_t> serialNumber = std::nullopt);
  // Every socket back to the image buffer.
  void clear();
  bool anyOwn() const;

 private:
  struct Own {
    ImageBuffer image;
    std::string name;
    std::optional<std::uint64_t> serialNumber;
  };
  static std::size_t index(int socket) { return static_cast<std::size_t>(socket - 1); }

  const ImageBuffer& shared_;
  std::array<std::unique_ptr<Own>, kSockets> own_;
};

}  // namespace tandra
