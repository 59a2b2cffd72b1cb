#include "production/ProductionPlan.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "common/HexText.h"
#include "device/Session.h"

namespace tandra {

namespace {

std::string hexAddress(std::int64_t address) {
  return "0x" + hexText(static_cast<std::uint32_t>(address), 3);
}

bool setsAddress(const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges,
                 std::int64_t address) {
  const auto after =
      std::upper_bound(ranges.begin(), ranges.end(), address,
                       [](std::int64_t a, const std::pair<std::int64_t, std::int64_t>& range) {
                         return a < range.first;
                       });
  return after != ranges.begin() && address < std::prev(after)->second;
}

// "serial number 300 is larger than a 1-byte number holds (255 at most)".
std::string tooLong(std::uint64_t number, SerialFormat format, int bytes) {
  const std::string what = "serial number " + std::to_string(number);
  const std::string width = std::to_string(bytes);
  switch (format) {
    case SerialFormat::LittleEndian:
    case SerialFormat::BigEndian:
      return what + " is larger than a " + width + "-byte number holds (" +
             std::to_string((std::uint64_t{1} << (8 * std::min(bytes, 7))) - 1) + " at most)";
    case SerialFormat::Bcd:
      return what + " has more digits than " + width + " BCD bytes hold (" +
             std::to_string(2 * bytes) + ")";
    case SerialFormat::Ascii:
      break;
  }
  return what + " has more digits than the " + width + " characters of the stamp";
}

}  // namespace

std::string SetShortfall::describe(const ProductionPlanFacts& facts) const {
  const std::string number = std::to_string(serialNumber);
  const std::string bytes = std::to_string(facts.stampBytes) + "-byte number";
  switch (kind) {
    case Kind::NoImage:
      return "socket " + std::to_string(socket) + " has no image";
    case Kind::NumberTooLong:
      return tooLong(serialNumber, facts.format, facts.stampBytes);
    case Kind::NumbersRunOut:
      return "the serial numbers have run out: " + number + " was the last there is";
    case Kind::StampPastEnd:
      return "a " + bytes + " at " + hexAddress(address) + " runs past the " +
             (facts.perBoard ? "board's" : "device") + " end (" +
             hexAddress(facts.deviceEndAddress) + ")";
    case Kind::StampOverData:
      return "a " + bytes + " at " + hexAddress(address) + " would replace bytes socket " +
             std::to_string(socket) + "'s image sets there";
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
          perBoard, stamp_ ? stamp_->format : SerialFormat::LittleEndian};
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

bool ProductionPlan::imageSets(const Session& session, int socket, std::int32_t address) const {
  const std::optional<Own>& own = own_[index(socket)];
  const ImageStanding& standing = own ? own->standing : bufferStanding_;
  // A lane's byte a is byte a x N + lane of the split file.
  const std::int64_t inFile =
      split_ && own ? std::int64_t{address} * lanes_ + (socket - 1) % lanes_ : address;
  if (standing.stored) return setsAddress(*standing.stored, inFile);
  const ImageBuffer& image = own ? own->image : session.image();
  return image[address] != fill_;
}

std::optional<SetShortfall> ProductionPlan::checkStamp(const std::vector<Place>& places,
                                                       const Session& session) const {
  const std::int32_t deviceEnd = session.image().deviceEndAddress;
  for (const Place& place : places) {
    if (stamp_->address < 0 || place.address > deviceEnd) {
      return SetShortfall{SetShortfall::Kind::StampPastEnd, place.socket, 0, stamp_->address};
    }
    if (stampOverData_ || place.socket > kSockets) continue;
    if (imageSets(session, place.socket, place.address)) {
      return SetShortfall{SetShortfall::Kind::StampOverData, place.socket, 0, stamp_->address};
    }
  }
  return std::nullopt;
}

SerialFits ProductionPlan::fits() const {
  const SerialStamp stamp = *stamp_;
  return [stamp](std::uint64_t number) {
    return serialBytes(number, stamp.format, stamp.bytes()).has_value();
  };
}

std::optional<SetShortfall> ProductionPlan::shortfallOf(
    const SerialTake& taken, const std::vector<std::vector<int>>& units) const {
  switch (taken.fault) {
    case SerialTake::Fault::None:
      return std::nullopt;
    case SerialTake::Fault::RunOut:
      return SetShortfall{SetShortfall::Kind::NumbersRunOut, units.front().front(), taken.number};
    case SerialTake::Fault::TooLong:
      break;
  }
  return SetShortfall{SetShortfall::Kind::NumberTooLong, units.at(taken.at).front(), taken.number};
}

std::vector<std::uint64_t> ProductionPlan::upcomingNumbers(const Session& session) const {
  if (!numbers_) return {};
  if (held_) return *held_;
  return numbers_->upcoming(static_cast<int>(numberedUnits(session).size()));
}

std::array<std::optional<std::uint64_t>, kSockets> ProductionPlan::upcomingBySocket(
    const Session& session) const {
  std::array<std::optional<std::uint64_t>, kSockets> bySocket{};
  if (!numbers_) return bySocket;
  const std::vector<std::vector<int>> units = numberedUnits(session);
  const std::vector<std::uint64_t> numbers = upcomingNumbers(session);
  const int inUse = session.socketsInUse();
  for (std::size_t k = 0; k < units.size() && k < numbers.size(); ++k) {
    for (const int socket : units[k]) {
      if ((inUse >> (socket - 1) & 1) != 0) bySocket[index(socket)] = numbers[k];
    }
  }
  return bySocket;
}

const ImageBuffer* ProductionPlan::ownImage(int socket) const {
  if (socket < 1 || socket > kSockets) return nullptr;
  const std::optional<Own>& own = own_[index(socket)];
  return own ? &own->image : nullptr;
}

const std::string& ProductionPlan::imageNameOf(int socket) const {
  const ImageBuffer* own = ownImage(socket);
  return own != nullptr ? own_[index(socket)]->name : bufferName_;
}

void ProductionPlan::releaseSockets(Session& session) {
  session.socketImages().clear();
}

std::optional<SetShortfall> ProductionPlan::checkSet(const Session& session) const {
  const int inUse = session.socketsInUse();
  for (int socket = 1; socket <= kSockets; ++socket) {
    const bool own = own_[index(socket)].has_value();
    const bool used = socket <= session.settings().socketCount && (inUse >> (socket - 1) & 1) != 0;
    // A lane of a split image for a socket left out is the board's, not an operator's slip.
    if (!used && own && !split_) return SetShortfall{SetShortfall::Kind::ImageNotInUse, socket};
    if (used && !own && bufferName_.empty()) {
      return SetShortfall{SetShortfall::Kind::NoImage, socket};
    }
  }
  if (!numbers_) return std::nullopt;
  const std::vector<std::vector<int>> units = numberedUnits(session);
  for (const std::vector<int>& unit : units) {
    if (std::optional<SetShortfall> stamp = checkStamp(placesOf(unit), session)) return stamp;
  }
  if (held_) return std::nullopt;
  return shortfallOf(numbers_->peek(static_cast<int>(units.size()), fits()), units);
}

std::optional<SetShortfall> ProductionPlan::numbersForSet(
    const std::vector<std::vector<int>>& units, std::vector<std::uint64_t>& numbers) {
  if (held_ && held_->size() == units.size()) {
    numbers = std::move(*held_);
    held_.reset();
    return std::nullopt;
  }
  releaseHeld();
  SerialTake taken = numbers_->take(static_cast<int>(units.size()), fits());
  if (!taken) return shortfallOf(taken, units);
  numbers = std::move(taken.numbers);
  return std::nullopt;
}

std::optional<SetShortfall> ProductionPlan::holdNumbers(const Session& session) {
  if (!numbers_ || held_) return std::nullopt;
  const std::vector<std::vector<int>> units = numberedUnits(session);
  SerialTake taken = numbers_->take(static_cast<int>(units.size()), fits());
  if (!taken) return shortfallOf(taken, units);
  held_ = std::move(taken.numbers);
  return std::nullopt;
}

void ProductionPlan::releaseHeld() {
  if (!held_) return;
  const std::vector<std::uint64_t> numbers = std::move(*held_);
  held_.reset();
  numbers_->giveBack(numbers);
}

std::optional<SetShortfall> ProductionPlan::composeSet(Session& session) {
  SocketImages& images = session.socketImages();
  images.clear();
  // Everything is looked at before a number is taken: a set that cannot be made spends none.
  if (std::optional<SetShortfall> shortfall = checkSet(session)) return shortfall;
  const int inUse = session.socketsInUse();
  std::array<std::optional<ImageBuffer>, kSockets> copies;
  std::array<const std::string*, kSockets> names{};
  for (int socket = 1; socket <= kSockets; ++socket) {
    const std::optional<Own>& own = own_[index(socket)];
    const bool used = socket <= session.settings().socketCount && (inUse >> (socket - 1) & 1) != 0;
    if (!used) continue;
    names[index(socket)] = own ? &own->name : &bufferName_;
    if (!own && !numbers_) continue;  // the image buffer itself
    ImageBuffer& copy =
        copies[index(socket)].emplace(own ? own->image.copy() : session.image().copy());
    copy.deviceEndAddress = session.image().deviceEndAddress;
  }
  std::array<std::optional<std::uint64_t>, kSockets> serials;
  if (numbers_) {
    const std::vector<std::vector<int>> units = numberedUnits(session);
    std::vector<std::uint64_t> numbers;
    if (std::optional<SetShortfall> none = numbersForSet(units, numbers)) return none;
    for (std::size_t k = 0; k < units.size(); ++k) {
      const std::vector<std::uint8_t> bytes =
          *serialBytes(numbers[k], stamp_->format, stamp_->bytes());  // it fits: take saw to it
      for (const Place& place : placesOf(units[k])) {
        if (place.socket > kSockets) continue;
        std::optional<ImageBuffer>& image = copies[index(place.socket)];
        if (image) (*image)[place.address] = bytes[place.byte];
      }
      for (const int socket : units[k]) serials[index(socket)] = numbers[k];
    }
  }
  for (int socket = 1; socket <= kSockets; ++socket) {
    std::optional<ImageBuffer>& copy = copies[index(socket)];
    if (copy) images.set(socket, std::move(*copy), *names[index(socket)], serials[index(socket)]);
  }
  return std::nullopt;
}

SerialSettlement ProductionPlan::settleSet(const Session& session,
                                           const std::vector<OperationResult>& operations,
                                           const std::vector<ChipVerdict>& chips) {
  SerialSettlement settled;
  if (!numbers_) return settled;
  const auto program = std::find_if(operations.begin(), operations.end(),
                                    [](const auto& o) { return o.kind == Operation::Program; });
  // Whether the chip in `socket` was sent the page that holds `address`: the pages go out from
  // the device's start, so it was when its last page began there or later.
  const auto sentPage = [&](int socket, std::int32_t address) {
    if (program == operations.end()) return false;
    for (const SocketResult& result : program->sockets) {
      if (result.socket == socket && result.lastPageSent) {
        return *result.lastPageSent >= address - address % Engine::kPageSize;
      }
    }
    return false;
  };
  const auto passed = [&](int socket) {
    return std::any_of(chips.begin(), chips.end(), [socket](const ChipVerdict& chip) {
      return chip.result.socket == socket && chip.counted() && chip.passed();
    });
  };
  // The chips of one board share their number: it is used when one of them passed, and carried
  // when one of them was sent its stamp's page.
  struct Fate {
    bool passed = false;
    bool carried = false;
  };
  std::map<std::uint64_t, Fate> fates;
  for (const std::vector<int>& unit : numberedUnits(session)) {
    std::optional<std::uint64_t> number;
    for (const int socket : unit) {
      if (!number) number = session.socketImages().serialNumberOf(socket);
    }
    if (!number) continue;
    Fate& fate = fates[*number];
    for (const int socket : unit) fate.passed = fate.passed || passed(socket);
    for (const Place& place : placesOf(unit)) {
      fate.carried = fate.carried || sentPage(place.socket, place.address);
    }
  }
  for (const auto& [number, fate] : fates) {
    if (fate.passed) {
      settled.used.push_back(number);
    } else if (!fate.carried && numbers_->failed(number)) {
      settled.back.push_back(number);
    } else {
      settled.spent.push_back(number);
    }
  }
  return settled;
}

}  // namespace tandra
