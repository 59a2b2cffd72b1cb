#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/Operations.h"
#include "device/ProductionImages.h"
#include "image/ImageBuffer.h"

namespace tandra {

class Session;

// What became of one socket over the operations of a set (Program Compare, Program, Verify):
// its first result that is not a pass, else its last one; nullptr when no operation had it.
const SocketResult* socketVerdict(const std::vector<OperationResult>& operations, int socket);

// The chips the operations judged: a chip passes when it passed every operation. A socket left
// out held no chip of the run, so it is neither passed nor failed.
struct ChipCount {
  int passed = 0;
  int failed = 0;
};
ChipCount countChips(const std::vector<OperationResult>& operations);

// Where and how each chip's serial number is written.
struct SerialStamp {
  std::int32_t address = 0;
  SerialFormat format = SerialFormat::LittleEndian;
  int width = 0;  // bytes; 0 (or less) for the format's own width

  // Eight digits as characters, which a label or a service menu shows as they are; four bytes
  // for the binary and BCD forms.
  int bytes() const { return width > 0 ? width : format == SerialFormat::Ascii ? 8 : 4; }
};

// Why a set's images could not be made: a socket in use with no image at all (no file in the
// image buffer, none of its own), or a serial number longer than its stamp.
struct SetShortfall {
  enum class Kind { NoImage, NumberTooLong };
  Kind kind;
  int socket;
  std::uint64_t serialNumber = 0;
};

// What the sockets of a production run are programmed with, set after set: the image buffer, or
// an image of the socket's own (its own file, a lane of a split image), and in each chip's copy
// a serial number of its own.
class ProductionPlan {
 public:
  static constexpr int kSockets = 5;

  // The image buffer holds the file `name`: the image of every socket without one of its own.
  void shareBuffer(std::string name) { bufferName_ = std::move(name); }
  // Socket `socket` takes `image`; its results carry `name`.
  void giveImage(int socket, ImageBuffer image, std::string name);
  // The first `sourceBytes` bytes of `source` are the image of a bus `lanes` chips wide (the
  // file `name`): sockets 1 to `socketCount` take lanes 1 to `lanes` in turn, the pairs or
  // fours of one board each.
  void splitImage(const ImageBuffer& source, std::int64_t sourceBytes, int lanes, int socketCount,
                  const std::string& name);
  // Every chip of every set gets the next of `numbers`, written as `stamp` says.
  void numberChips(SerialNumbers numbers, SerialStamp stamp);
  const std::optional<SerialStamp>& stamp() const { return stamp_; }

  // Gives each socket in use its image for the next set (a copy where a number goes into it),
  // the others the image buffer. Nothing more is given once a socket falls short.
  std::optional<SetShortfall> composeSet(Session& session);
  // What the set's operations made of its chips; a failed chip's number comes back to be given
  // again, where numbers are reused.
  ChipCount settleSet(const Session& session, const std::vector<OperationResult>& operations);

 private:
  struct Own {
    ImageBuffer image;
    std::string name;
  };
  static std::size_t index(int socket) { return static_cast<std::size_t>(socket - 1); }

  std::array<std::optional<Own>, kSockets> own_;
  std::string bufferName_;
  std::optional<SerialNumbers> numbers_;
  std::optional<SerialStamp> stamp_;
};

}  // namespace tandra
