#include "device/ProductionSet.h"

#include "device/Session.h"

namespace tandra {

const SocketResult* socketVerdict(const std::vector<OperationResult>& operations, int socket) {
  const SocketResult* last = nullptr;
  for (const OperationResult& operation : operations) {
    for (const SocketResult& result : operation.sockets) {
      if (result.socket != socket) continue;
      last = &result;
      if (result.state != SocketResult::State::Passed) return last;
    }
  }
  return last;
}

ChipCount countChips(const std::vector<OperationResult>& operations) {
  ChipCount count;
  for (int socket = 1; socket <= Engine::kSockets; ++socket) {
    const SocketResult* verdict = socketVerdict(operations, socket);
    if (verdict == nullptr || verdict->state == SocketResult::State::Skipped) continue;
    (verdict->state == SocketResult::State::Passed ? count.passed : count.failed) += 1;
  }
  return count;
}

void ProductionPlan::giveImage(int socket, ImageBuffer image, std::string name) {
  own_[index(socket)] = Own{std::move(image), std::move(name)};
}

void ProductionPlan::splitImage(const ImageBuffer& source, std::int64_t sourceBytes, int lanes,
                                int socketCount, const std::string& name) {
  for (int socket = 1; socket <= socketCount; ++socket) {
    const int lane = (socket - 1) % lanes;
    giveImage(socket, splitLane(source, sourceBytes, lanes, lane, source.deviceEndAddress),
              name + ", lane " + std::to_string(lane + 1) + " of " + std::to_string(lanes));
  }
}

void ProductionPlan::numberChips(SerialNumbers numbers, SerialStamp stamp) {
  numbers_ = std::move(numbers);
  stamp_ = stamp;
}

std::optional<SetShortfall> ProductionPlan::composeSet(Session& session) {
  SocketImages& images = session.socketImages;
  images.clear();
  const int inUse = session.engine.socketsInUse();
  for (int socket = 1; socket <= session.settings.socketCount; ++socket) {
    if ((inUse >> (socket - 1) & 1) == 0) continue;
    const std::optional<Own>& own = own_[index(socket)];
    if (!own && bufferName_.empty()) return SetShortfall{SetShortfall::Kind::NoImage, socket};
    if (!own && !numbers_) continue;  // the image buffer itself
    ImageBuffer image = own ? own->image.copy() : session.image.copy();
    std::optional<std::uint64_t> serial;
    if (numbers_) {
      serial = numbers_->take();
      if (!writeSerialNumber(image, stamp_->address, *serial, stamp_->format, stamp_->bytes())) {
        return SetShortfall{SetShortfall::Kind::NumberTooLong, socket, *serial};
      }
    }
    images.set(socket, std::move(image), own ? own->name : bufferName_, serial);
  }
  return std::nullopt;
}

ChipCount ProductionPlan::settleSet(const Session& session,
                                    const std::vector<OperationResult>& operations) {
  for (int socket = 1; socket <= Engine::kSockets; ++socket) {
    const SocketResult* verdict = socketVerdict(operations, socket);
    if (verdict == nullptr || verdict->state == SocketResult::State::Skipped) continue;
    // A failed chip's number is spent, unless numbers are to be used again.
    const std::optional<std::uint64_t> serial = session.socketImages.serialNumberOf(socket);
    if (verdict->state != SocketResult::State::Passed && numbers_ && serial) {
      numbers_->failed(*serial);
    }
  }
  return countChips(operations);
}

}  // namespace tandra
