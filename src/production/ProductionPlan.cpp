#include "production/ProductionPlan.h"

#include <algorithm>
#include <set>

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
      return "a " + bytes + " at " + hexAddress(address) + " runs past the " +
             (facts.perBoard ? "board's" : "device") + " end (" +
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
  lanes_ = lanes;
}

void ProductionPlan::numberChips(std::unique_ptr<SerialSource> numbers, SerialStamp stamp,
                                 std::uint8_t fill, bool overData) {
  if (stamp.perBoard && !split_) {
    throw PlanError("a number for each board wants a split image: the board's lanes");
  }
  numbers_ = std::move(numbers);
  stamp_ = stamp;
  fill_ = fill;
  stampOverData_ = overData;
}

ProductionPlanFacts ProductionPlan::facts(const Session& session) const {
  const bool perBoard = stamp_ && stamp_->perBoard;
  const std::int32_t chipEnd = session.image().deviceEndAddress;
  return {perBoard ? (chipEnd + 1) * lanes_ - 1 : chipEnd, stamp_ ? stamp_->bytes() : 0, fill_,
          perBoard};
}

std::vector<std::vector<int>> ProductionPlan::numberedUnits(const Session& session) const {
  const int inUse = session.socketsInUse();
  const int count = std::min(session.settings().socketCount, kSockets);
  auto used = [&](int socket) { return (inUse >> (socket - 1) & 1) != 0; };
  std::vector<std::vector<int>> units;
  const int lanes = stamp_->perBoard ? lanes_ : 1;
  for (int first = 1; first <= count; first += lanes) {
    std::vector<int> unit;
    bool anyUsed = false;
    for (int socket = first; socket < first + lanes && socket <= count; ++socket) {
      unit.push_back(socket);
      anyUsed = anyUsed || used(socket);
    }
    if (anyUsed) units.push_back(std::move(unit));
  }
  return units;
}

std::vector<ProductionPlan::Place> ProductionPlan::placesOf(const std::vector<int>& unit) const {
  std::vector<Place> places;
  for (int i = 0; i < stamp_->bytes(); ++i) {
    const auto byte = static_cast<std::size_t>(i);
    const std::int64_t address = std::int64_t{stamp_->address} + i;
    if (!stamp_->perBoard) {
      places.push_back({unit.front(), static_cast<std::int32_t>(address), byte});
      continue;
    }
    // The board's processor sees its lanes side by side: bus address a is in lane a mod N, at
    // a / N of that lane's chip.
    places.push_back({unit.front() + static_cast<int>(address % lanes_),
                      static_cast<std::int32_t>(address / lanes_), byte});
  }
  return places;
}

std::optional<SetShortfall> ProductionPlan::checkStamp(
    const std::vector<Place>& places,
    const std::array<std::optional<ImageBuffer>, kSockets>& images, std::int32_t deviceEnd) const {
  for (const Place& place : places) {
    if (stamp_->address < 0 || place.address > deviceEnd) {
      return SetShortfall{SetShortfall::Kind::StampPastEnd, place.socket, 0, stamp_->address};
    }
    if (stampOverData_ || place.socket > kSockets) continue;
    const std::optional<ImageBuffer>& image = images[index(place.socket)];
    if (image && (*image)[place.address] != fill_) {
      return SetShortfall{SetShortfall::Kind::StampOverData, place.socket, 0, stamp_->address};
    }
  }
  return std::nullopt;
}

std::vector<std::uint64_t> ProductionPlan::upcomingNumbers(const Session& session) const {
  if (!numbers_) return {};
  return numbers_->upcoming(static_cast<int>(numberedUnits(session).size()));
}

std::optional<SetShortfall> ProductionPlan::composeSet(Session& session) {
  SocketImages& images = session.socketImages();
  images.clear();
  const int inUse = session.socketsInUse();
  std::array<std::optional<ImageBuffer>, kSockets> copies;
  std::array<const std::string*, kSockets> names{};
  for (int socket = 1; socket <= kSockets; ++socket) {
    const std::optional<Own>& own = own_[index(socket)];
    const bool used = socket <= session.settings().socketCount && (inUse >> (socket - 1) & 1) != 0;
    if (!used) {
      // A lane of a split image for a socket left out is the board's, not an operator's slip.
      if (own && !split_) return SetShortfall{SetShortfall::Kind::ImageNotInUse, socket};
      continue;
    }
    if (!own && bufferName_.empty()) return SetShortfall{SetShortfall::Kind::NoImage, socket};
    names[index(socket)] = own ? &own->name : &bufferName_;
    if (!own && !numbers_) continue;  // the image buffer itself
    ImageBuffer& copy =
        copies[index(socket)].emplace(own ? own->image.copy() : session.image().copy());
    copy.deviceEndAddress = session.image().deviceEndAddress;
  }
  std::array<std::optional<std::uint64_t>, kSockets> serials;
  if (numbers_) {
    // Every stamp is looked at before a number is taken: a set that cannot be made spends none.
    const std::vector<std::vector<int>> units = numberedUnits(session);
    for (const std::vector<int>& unit : units) {
      if (std::optional<SetShortfall> stamp =
              checkStamp(placesOf(unit), copies, session.image().deviceEndAddress)) {
        return stamp;
      }
    }
    const std::optional<std::vector<std::uint64_t>> numbers =
        numbers_->take(static_cast<int>(units.size()));
    if (!numbers) return SetShortfall{SetShortfall::Kind::NumbersRunOut, units.front().front()};
    for (std::size_t k = 0; k < units.size(); ++k) {
      const std::uint64_t number = (*numbers)[k];
      const std::optional<std::vector<std::uint8_t>> bytes =
          serialBytes(number, stamp_->format, stamp_->bytes());
      if (!bytes) return SetShortfall{SetShortfall::Kind::NumberTooLong, units[k].front(), number};
      for (const Place& place : placesOf(units[k])) {
        if (place.socket > kSockets) continue;
        std::optional<ImageBuffer>& image = copies[index(place.socket)];
        if (image) (*image)[place.address] = (*bytes)[place.byte];
      }
      for (const int socket : units[k]) serials[index(socket)] = number;
    }
  }
  for (int socket = 1; socket <= kSockets; ++socket) {
    std::optional<ImageBuffer>& copy = copies[index(socket)];
    if (copy) images.set(socket, std::move(*copy), *names[index(socket)], serials[index(socket)]);
  }
  return std::nullopt;
}

void ProductionPlan::settleSet(const Session& session, const std::vector<ChipVerdict>& chips) {
  if (!numbers_) return;
  // A number is given again, or spent, only when no chip that holds it passed: the chips of one
  // board share one.
  std::set<std::uint64_t> passed, notPassed;
  for (const ChipVerdict& chip : chips) {
    if (!chip.counted()) continue;
    const std::optional<std::uint64_t> serial =
        session.socketImages().serialNumberOf(chip.result.socket);
    if (serial) (chip.passed() ? passed : notPassed).insert(*serial);
  }
  for (const std::uint64_t number : notPassed) {
    if (passed.count(number) == 0) numbers_->failed(number);
  }
}

}  // namespace tandra
