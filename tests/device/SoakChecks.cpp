#include "SoakChecks.h"

#include <map>
#include <set>

#include "common/HexText.h"
#include "link/Commands.h"

namespace tandra::test {

namespace {

using Change = sim::ReplyFaults::Change;

std::string at(std::int32_t address) {
  return "0x" + hexText(static_cast<std::uint32_t>(address), 5);
}

// The bytes of one socket's chip as the host was given them: the chip's, with every bit that
// was flipped on the way inverted.
class BytesAsSent {
 public:
  BytesAsSent(const Eprom& chip, int socket, const ReplyChanges& changes) : chip_(chip) {
    for (const Change& change : changes) {
      if (change.kind != sim::ReplyFaults::Kind::FlippedBit || change.to.socket != socket) continue;
      const auto address =
          static_cast<std::uint32_t>((change.to.address + change.byte) % chip.size());
      flips_[address] ^= static_cast<std::uint8_t>(1u << change.bit);
    }
  }
  std::uint8_t operator[](std::int32_t address) const {
    const auto cell = static_cast<std::uint32_t>(address);
    const auto flip = flips_.find(static_cast<std::uint32_t>(cell % chip_.size()));
    return static_cast<std::uint8_t>(chip_.read(cell) ^ (flip == flips_.end() ? 0 : flip->second));
  }

 private:
  const Eprom& chip_;
  std::map<std::uint32_t, std::uint8_t> flips_;
};

// How the chip stands where `holds(chip byte, sent byte, address)` must be true everywhere.
template <typename Holds>
ChipStanding standing(const Eprom& chip, const BytesAsSent& sent, std::int32_t end, Holds holds) {
  ChipStanding result;
  for (std::int32_t a = 0; a <= end; ++a) {
    const std::uint8_t byte = chip.read(static_cast<std::uint32_t>(a));
    if (holds(byte, a)) continue;
    if (holds(sent[a], a)) {
      result.kind = ChipStanding::Kind::OnlyFlippedOnTheWay;
      continue;
    }
    return {ChipStanding::Kind::Broken, a, byte};
  }
  return result;
}

bool isByteTest(Operation operation) {
  return operation == Operation::Verify || operation == Operation::BlankCheck ||
         operation == Operation::ProgramCompare;
}

}  // namespace

std::uint8_t wantedByte(const ImageBuffer& image, std::int32_t address) {
  return ImageBuffer::contains(address) ? image[address] : 0xFF;
}

bool passPromise(Operation operation, std::uint8_t chip, std::uint8_t wanted) {
  switch (operation) {
    case Operation::Program:
    case Operation::Verify:
      return chip == wanted;
    case Operation::BlankCheck:
      return chip == 0xFF;
    case Operation::ProgramCompare:
      return (chip & wanted) == wanted;
    case Operation::Move:
      break;
  }
  return true;
}

std::string ChipStanding::describe() const {
  switch (kind) {
    case Kind::Kept:
      return "holds what its result says";
    case Kind::OnlyFlippedOnTheWay:
      return "differs only where a bit was flipped on the way";
    case Kind::Broken:
      break;
  }
  return "differs at " + at(firstBroken) + " (chip 0x" + hexByte(chipByte) + ")";
}

ChipStanding passedSocketStanding(Operation operation, const Eprom& chip, int socket,
                                  const ImageBuffer& image, std::int32_t end,
                                  const ReplyChanges& changes) {
  return standing(chip, BytesAsSent(chip, socket, changes), end,
                  [&](std::uint8_t byte, std::int32_t a) {
                    return passPromise(operation, byte, wantedByte(image, a));
                  });
}

ChipStanding movedBufferStanding(const Eprom& chip, const ImageBuffer& image, std::int32_t end,
                                 const ReplyChanges& changes) {
  return standing(chip, BytesAsSent(chip, 1, changes), end,
                  [&](std::uint8_t byte, std::int32_t a) { return image[a] == byte; });
}

std::vector<std::string> resultProblems(Operation operation, const OperationResult& result,
                                        int socketsInUse) {
  std::vector<std::string> problems;
  const std::size_t wanted =
      operation == Operation::Move ? 0 : static_cast<std::size_t>(socketsInUse);
  if (result.sockets.size() != wanted) {
    problems.push_back(std::to_string(result.sockets.size()) + " socket results for " +
                       std::to_string(wanted) + " sockets");
  }
  std::set<int> seen;
  for (std::size_t i = 0; i < result.sockets.size(); ++i) {
    const SocketResult& socket = result.sockets[i];
    const std::string name = "socket " + std::to_string(socket.socket);
    if (socket.socket != static_cast<int>(i) + 1) {
      problems.push_back(name + " in place " + std::to_string(i + 1));
    }
    if (!seen.insert(socket.socket).second) problems.push_back(name + " reported twice");
    if (result.stopped && socket.state == SocketResult::State::Passed) {
      problems.push_back(name + " passed in a stopped operation");
    }
    if (!result.repliesInStep && socket.state == SocketResult::State::Passed) {
      problems.push_back(name + " passed with replies out of step");
    }
    if (!result.stopped && !result.stopReason.empty()) {
      problems.push_back("a stop reason for an operation that was not stopped");
    }
    if (socket.state == SocketResult::State::Failed && !socket.failure) {
      problems.push_back(name + " failed without saying where");
    }
  }
  return problems;
}

std::vector<std::string> unansweredButPassed(const OperationResult& result,
                                             const ReplyChanges& changes) {
  std::set<int> unanswered;
  for (const Change& change : changes) {
    const bool blockCommand =
        change.to.command == opcode::ReadBlock || change.to.command == opcode::ProgramBlock;
    const bool noAnswer =
        change.kind == sim::ReplyFaults::Kind::Lost || change.kind == sim::ReplyFaults::Kind::Cut;
    if (blockCommand && noAnswer) unanswered.insert(change.to.socket);
  }
  std::vector<std::string> problems;
  for (const SocketResult& socket : result.sockets) {
    if (socket.state == SocketResult::State::Passed && unanswered.count(socket.socket) != 0) {
      problems.push_back("socket " + std::to_string(socket.socket) +
                         " passed although a reply to it was lost or cut short");
    }
  }
  return problems;
}

std::optional<std::string> failureProblem(Operation operation, const SocketResult& result,
                                          const Eprom& chip, const ImageBuffer& image,
                                          std::int32_t end, const ReplyChanges& changes) {
  if (result.state != SocketResult::State::Failed || !result.failure) return std::nullopt;
  const SocketFailure& failure = *result.failure;
  const std::int32_t address = failure.address;
  if (address < 0 || address > end) return "failed at " + at(address) + ", outside the device";

  if (operation == Operation::Program) {
    // The programmer refused a page: the chip cannot hold all of it as asked.
    if (address % 256 != 0) return "a page refused at " + at(address) + ", not a page start";
    for (std::int32_t a = address; a < address + 256 && a <= end; ++a) {
      if (chip.read(static_cast<std::uint32_t>(a)) != wantedByte(image, a)) return std::nullopt;
    }
    return "the page at " + at(address) + " was refused but the chip holds it as asked";
  }
  if (!isByteTest(operation)) return std::nullopt;

  const BytesAsSent sent(chip, result.socket, changes);
  const auto wanted = [&](std::int32_t a) {
    return operation == Operation::BlankCheck ? std::uint8_t{0xFF} : wantedByte(image, a);
  };
  if (failure.expected != wanted(address) || failure.actual != sent[address]) {
    return "failed at " + at(address) + " wanting 0x" + hexByte(failure.expected.value_or(0)) +
           ", read 0x" + hexByte(failure.actual.value_or(0)) + "; the chip gave 0x" +
           hexByte(sent[address]) + " where 0x" + hexByte(wanted(address)) + " was wanted";
  }
  if (passPromise(operation, sent[address], wanted(address))) {
    return "failed at " + at(address) + " where the byte sent passes";
  }
  for (std::int32_t a = 0; a < address; ++a) {
    if (!passPromise(operation, sent[a], wanted(a))) {
      return "first failure named at " + at(address) + " but the chip already fails at " + at(a);
    }
  }
  return std::nullopt;
}

}  // namespace tandra::test
