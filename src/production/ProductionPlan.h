#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <stdexcept>

#include "device/Operations.h"
#include "device/Verdict.h"
#include "image/ImageBuffer.h"
#include "link/Commands.h"
#include "production/ProductionImages.h"
#include "production/SerialNumbers.h"

namespace tandra {

class Session;
struct ProductionPlanFacts;

// Where and how each chip's serial number is written.
struct SerialStamp {
  std::int32_t address = 0;
  SerialFormat format = SerialFormat::LittleEndian;
  int width = 0;  // bytes; 0 (or less) for the format's own width
  // One number for each board of a split image, at `address` as the board's processor sees its
  // bus: its bytes go into the lanes as every other byte of the bus does.
  bool perBoard = false;

  // Eight digits as characters, which a label or a service menu shows as they are; four bytes
  // for the binary and BCD forms.
  int bytes() const { return width > 0 ? width : format == SerialFormat::Ascii ? 8 : 4; }
};

// Why a set's images could not be made; nothing of the set has been sent when one is found.
struct SetShortfall {
  enum class Kind {
    NoImage,        // a socket in use has no image at all (no file, none of its own)
    NumberTooLong,  // the serial number has more digits or bytes than the stamp holds
    NumbersRunOut,  // the next serial number would pass the largest one there is
    StampPastEnd,   // the stamp runs past the device's end
    StampOverData,  // the stamp would replace bytes the image sets
    ImageNotInUse,  // a socket that is not in use was given an image of its own
  };
  Kind kind;
  int socket = 0;
  // NumberTooLong: the number; NumbersRunOut: the last there was.
  std::uint64_t serialNumber = 0;
  std::int32_t address = 0;  // where the stamp would go (StampPastEnd, StampOverData)

  // In the operator's words, without the option that asked for it: "a 4-byte number at 0x7FE
  // runs past the device end (0x7FF)".
  std::string describe(const ProductionPlanFacts& facts) const;
};

// What the plan was made with, for the words of its shortfalls.
struct ProductionPlanFacts {
  std::int32_t deviceEndAddress = 0;  // of the board's bus, for a number per board
  int stampBytes = 0;
  std::uint8_t fill = 0xFF;
  bool perBoard = false;
  SerialFormat format = SerialFormat::LittleEndian;
};

// What became of a set's serial numbers: on chips that passed, given again (no chip carries
// them), or spent.
struct SerialSettlement {
  std::vector<std::uint64_t> used;
  std::vector<std::uint64_t> back;
  std::vector<std::uint64_t> spent;
};

// A plan's options that cannot stand together, found as they are given.
struct PlanError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the sockets of a production run are programmed with, set after set: the image buffer, or
// an image of the socket's own (its own file, a lane of a split image), and in each chip's copy
// a serial number of its own.
class ProductionPlan {
 public:
  // The image buffer holds the file `name`: the image of every socket without one of its own.
  void shareBuffer(std::string name, ImageStanding standing = {}) {
    bufferName_ = std::move(name);
    bufferStanding_ = std::move(standing);
  }
  // Socket `socket` takes `image`; its results carry `name`. A socket takes one image: a
  // second, or one for a socket of a split image, throws PlanError.
  void giveImage(int socket, ImageBuffer image, std::string name, ImageStanding standing = {});
  // The first `sourceBytes` bytes of `source` are the image of a bus `lanes` chips wide (the
  // file `name`): sockets 1 to `socketCount` take lanes 1 to `lanes` in turn, the pairs or
  // fours of one board each. Throws PlanError where a socket has an image of its own already,
  // or the source sets nothing.
  void splitImage(const ImageBuffer& source, std::int64_t sourceBytes, int lanes, int socketCount,
                  const std::string& name, const ImageStanding& standing = {});
  // Where the image of `socket` came from, for the rule that judges its chip.
  const ImageStanding& standingOf(int socket) const;
  // Every chip (or board) of every set gets the next of `numbers`, written as `stamp` says. The
  // stamp goes only where no image's file sets a byte (where that is not known, where the image
  // holds `fill`), unless `overData` lets the number replace what the image sets there. A
  // number per board wants a split image.
  void numberChips(std::unique_ptr<SerialSource> numbers, SerialStamp stamp, std::uint8_t fill,
                   bool overData = false);
  const std::optional<SerialStamp>& stamp() const { return stamp_; }
  const std::string& bufferName() const { return bufferName_; }
  const SerialSource* numbers() const { return numbers_.get(); }
  // The numbers the next set would get: those held for it, or as far as can be known now.
  std::vector<std::uint64_t> upcomingNumbers(const Session& session) const;
  // The same, by the socket whose chip would get each (the chips of one board share theirs);
  // nothing for a socket not in use, or when the chips are not numbered.
  std::array<std::optional<std::uint64_t>, kSockets> upcomingBySocket(const Session& session) const;
  // The image `socket` has of its own (its file, its lane of a split image); nullptr for a
  // socket that takes the image buffer.
  const ImageBuffer* ownImage(int socket) const;
  // What the results of `socket` call its image: its own image's name, or the buffer's.
  const std::string& imageNameOf(int socket) const;
  bool split() const { return split_; }

  // Whether the next set can be made, taking no serial number: every socket in use has an image,
  // every stamp lies in its chip and over no byte the image sets, and the numbers are there and
  // fit the stamp.
  std::optional<SetShortfall> checkSet(const Session& session) const;
  // Gives each socket in use its image for the next set (a copy where a number goes into it),
  // the others the image buffer; the serial numbers are taken now (or those held are used).
  // When the set falls short, no socket is given anything and no number is taken.
  std::optional<SetShortfall> composeSet(Session& session);
  // Takes the next set's numbers now, so that what is said of them before the set starts holds
  // whatever another station on the ledger takes meanwhile.
  std::optional<SetShortfall> holdNumbers(const Session& session);
  // Numbers held for a set that will not run go back, to be given first.
  void releaseHeld();
  // What the set came to. A number comes back to be given again (where numbers are reused)
  // only when no chip of it passed and none was sent the page its stamp is on: a chip that was
  // keeps its number spent, whatever came of it.
  SerialSettlement settleSet(const Session& session, const std::vector<OperationResult>& operations,
                             const std::vector<ChipVerdict>& chips);
  // Every socket takes the image buffer again, as operations run outside a production set
  // expect: the images a set was given (and their serial numbers) go.
  static void releaseSockets(Session& session);

  ProductionPlanFacts facts(const Session& session) const;

 private:
  struct Own {
    ImageBuffer image;
    std::string name;
    ImageStanding standing;
  };
  static std::size_t index(int socket) { return static_cast<std::size_t>(socket - 1); }
  // Where each byte of one number goes: the socket, the address in its chip, and which byte.
  struct Place {
    int socket;
    std::int32_t address;
    std::size_t byte;
  };
  // The sockets in use, and the groups of them that take one number each.
  std::vector<std::vector<int>> numberedUnits(const Session& session) const;
  std::vector<Place> placesOf(const std::vector<int>& unit) const;
  std::optional<SetShortfall> checkStamp(const std::vector<Place>& places,
                                         const Session& session) const;
  // Whether the image of `socket` sets the byte at `address` of its chip.
  bool imageSets(const Session& session, int socket, std::int32_t address) const;
  SerialFits fits() const;
  std::optional<SetShortfall> shortfallOf(const SerialTake& taken,
                                          const std::vector<std::vector<int>>& units) const;
  // The numbers of the set about to run: those held for it, or taken now.
  std::optional<SetShortfall> numbersForSet(const std::vector<std::vector<int>>& units,
                                            std::vector<std::uint64_t>& numbers);

  std::array<std::optional<Own>, kSockets> own_;
  std::string bufferName_;
  ImageStanding bufferStanding_;
  bool split_ = false;
  std::unique_ptr<SerialSource> numbers_;
  int lanes_ = 1;
  std::optional<SerialStamp> stamp_;
  std::uint8_t fill_ = 0xFF;
  bool stampOverData_ = false;
  std::optional<std::vector<std::uint64_t>> held_;  // taken for the next set already
};

}  // namespace tandra
