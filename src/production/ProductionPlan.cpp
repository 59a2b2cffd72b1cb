#include "production/ProductionPlan.h"

#include <algorithm>

#include "common/HexText.h"
#include "device/Session.h"

namespace tandra {

namespace {

std::string hexAddress(std::int64_t address) {
  return "0x" + hexText(static_cast<std::uint32_t>(address), 3);
}

}  // namespace

std::string SetShortfall::describe(const ProductionPlanFacts& facts) const {
  const std::string number = std::to_string(serialNumber);
  const std::string bytes = std::to_string(facts.stampBytes) + "-byte number";
  switch (kind) {
    case Kind::NoImage:
      return "socket " + std::to_string(socket) + " has no image";
    case Kind::NumberTooLong:
      return "serial number " + number + " has more digits than the " + bytes + " holds";
    case Kind::NumbersRunOut:
      return "the serial numbers have run out: the next would pass 18446744073709551615";
    case Kind::StampPastEnd:
      return "a " + bytes + " at " + hexAddress(address) + " runs past the device end (" +
             hexAddress(facts.deviceEndAddress) + ")";
    case Kind::StampOverData:
      return "a " + bytes + " at " + hexAddress(address) + " would replace bytes socket " +
             std::to_string(socket) + "'s image sets there (they are not the fill, 0x" +
             hexByte(facts.fill) + ")";
    case Kind::ImageNotInUse:
      return "socket " + std::to_string(socket) + " has an image but is not in use";
  }
  return "";
}

void ProductionPlan::giveImage(int socket, ImageBuffer image, std::string name,
                               ImageStanding standing) {
  if (socket < 1 || socket > kSockets) {
    throw PlanError("socket " + std::to_string(socket) + ": the sockets are 1 to 5");
  }
  if (own_[index(socket)]) {
    throw PlanError(split_ ? "socket " + std::to_string(socket) +
                                 " takes its lane of the split image: it takes no image of its own"
                           : "socket " + std::to_string(socket) + " is given two images");
  }
  own_[index(socket)] = Own{std::move(image), std::move(name), std::move(standing)};
}

const ImageStanding& ProductionPlan::standingOf(int socket) const {
  const std::optional<Own>& own = own_[index(std::clamp(socket, 1, kSockets))];
  return own ? own->standing : bufferStanding_;
}

void ProductionPlan::splitImage(const ImageBuffer& source, std::int64_t sourceBytes, int lanes,
                                int socketCount, const std::string& name,
                                const ImageStanding& standing) {
  if (sourceBytes <= 0) throw PlanError("the split image sets no byte");
  for (int socket = 1; socket <= socketCount; ++socket) {
    if (own_[index(socket)]) {
      throw PlanError("socket " + std::to_string(socket) +
                      " has an image of its own: a split image gives every socket its lane");
    }
  }
  for (int socket = 1; socket <= socketCount; ++socket) {
    const int lane = (socket - 1) % lanes;
    giveImage(socket, splitLane(source, sourceBytes, lanes, lane, source.deviceEndAddress),
              name + ", lane " + std::to_string(lane + 1) + " of " + std::to_string(lanes),
              standing);
  }
  split_ = true;
}

void ProductionPlan::numberChips(SerialNumbers numbers, SerialStamp stamp, std::uint8_t fill,
                                 bool overData) {
  numbers_ = std::move(numbers);
  stamp_ = stamp;
  fill_ = fill;
  stampOverData_ = overData;
}

ProductionPlanFacts ProductionPlan::facts(const Session& session) const {
  return {session.image.deviceEndAddress, stamp_ ? stamp_->bytes() : 0, fill_};
}

std::optional<SetShortfall> ProductionPlan::checkStamp(const ImageBuffer& image,
                                                       int socket) const {
  const std::int64_t first = stamp_->address;
  const std::int64_t last = first + stamp_->bytes() - 1;
  if (first < 0 || last > image.deviceEndAddress) {
    return SetShortfall{SetShortfall::Kind::StampPastEnd, socket, 0, stamp_->address};
  }
  if (stampOverData_) return std::nullopt;
  for (std::int64_t a = first; a <= last; ++a) {
    if (image[static_cast<std::int32_t>(a)] != fill_) {
      return SetShortfall{SetShortfall::Kind::StampOverData, socket, 0, stamp_->address};
    }
  }
  return std::nullopt;
}

std::optional<SetShortfall> ProductionPlan::composeSet(Session& session) {
  SocketImages& images = session.socketImages;
  images.clear();
  const int inUse = session.engine.socketsInUse();
  struct Given {
    int socket;
    ImageBuffer image;
    const std::string* name;
    std::optional<std::uint64_t> serial;
  };
  std::vector<Given> given;
  // Numbers are taken from a copy, kept only when the whole set can be made.
  std::optional<SerialNumbers> numbers = numbers_;
  for (int socket = 1; socket <= kSockets; ++socket) {
    const std::optional<Own>& own = own_[index(socket)];
    const bool used = socket <= session.settings.socketCount && (inUse >> (socket - 1) & 1) != 0;
    if (!used) {
      // A lane of a split image for a socket left out is the board's, not an operator's slip.
      if (own && !split_) return SetShortfall{SetShortfall::Kind::ImageNotInUse, socket};
      continue;
    }
    if (!own && bufferName_.empty()) return SetShortfall{SetShortfall::Kind::NoImage, socket};
    if (!own && !numbers) continue;  // the image buffer itself
    ImageBuffer image = own ? own->image.copy() : session.image.copy();
    image.deviceEndAddress = session.image.deviceEndAddress;
    std::optional<std::uint64_t> serial;
    if (numbers) {
      if (std::optional<SetShortfall> stamp = checkStamp(image, socket)) return stamp;
      serial = numbers->take();
      if (!serial) return SetShortfall{SetShortfall::Kind::NumbersRunOut, socket};
      if (!writeSerialNumber(image, stamp_->address, *serial, stamp_->format, stamp_->bytes())) {
        return SetShortfall{SetShortfall::Kind::NumberTooLong, socket, *serial};
      }
    }
    given.push_back({socket, std::move(image), own ? &own->name : &bufferName_, serial});
  }
  for (Given& each : given) images.set(each.socket, std::move(each.image), *each.name, each.serial);
  numbers_ = std::move(numbers);
  return std::nullopt;
}

void ProductionPlan::settleSet(const Session& session, const std::vector<ChipVerdict>& chips) {
  if (!numbers_) return;
  for (const ChipVerdict& chip : chips) {
    if (chip.passed() || !chip.counted()) continue;
    // A number given to a chip that did not pass is spent, unless numbers are to be used again.
    const std::optional<std::uint64_t> serial =
        session.socketImages.serialNumberOf(chip.result.socket);
    if (serial) numbers_->failed(*serial);
  }
}

}  // namespace tandra
