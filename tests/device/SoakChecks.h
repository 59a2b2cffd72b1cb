#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/Operations.h"
#include "image/ImageBuffer.h"
#include "sim/Eprom.h"
#include "sim/ReplyFaults.h"

namespace tandra::test {

// What the soak holds every operation to, one question each. They read the chips in the virtual
// programmer's sockets, the image buffer and the operation's result; `changes` are the replies
// the faults changed on their way, so that a bit flipped in transit is told from a wrong chip.
using ReplyChanges = std::vector<sim::ReplyFaults::Change>;

// The byte the host wanted at an address: the buffer's, or 0xFF past it, as Program sends it.
std::uint8_t wantedByte(const ImageBuffer& image, std::int32_t address);

// What a socket reported passed promises of one chip byte against the byte wanted there:
// Program and Verify the same byte, Blank Check an erased one, Program Compare one that can
// still be programmed to it. Move judges no socket.
bool passPromise(Operation operation, std::uint8_t chip, std::uint8_t wanted);

// How a chip stands against what its result said of it over the device range.
struct ChipStanding {
  enum class Kind { Kept, OnlyFlippedOnTheWay, Broken };
  Kind kind = Kind::Kept;
  std::int32_t firstBroken = 0;
  std::uint8_t chipByte = 0;
  std::string describe() const;
};
// A passed socket: its chip keeps the promise of the operation at every address from 0 to
// `end`. OnlyFlippedOnTheWay: it does not, but every byte that breaks it reached the host with
// a bit flipped on the way that made it look right, which no host can see.
ChipStanding passedSocketStanding(Operation operation, const Eprom& chip, int socket,
                                  const ImageBuffer& image, std::int32_t end,
                                  const ReplyChanges& changes);
// A Move that ended: the buffer holds socket 1's chip over the device range (but for bytes
// that reached the host with a bit flipped on the way).
ChipStanding movedBufferStanding(const Eprom& chip, const ImageBuffer& image, std::int32_t end,
                                 const ReplyChanges& changes);

// The result's shape: one result per socket in use, in order, none for Move; a stopped
// operation passes no socket; a failed socket says where. One line per problem.
std::vector<std::string> resultProblems(Operation operation, const OperationResult& result,
                                        int socketsInUse);

// A socket whose reply to a program or read block was lost or cut short in this operation got
// no answer: it must not be reported passed. One line per such socket.
std::vector<std::string> unansweredButPassed(const OperationResult& result,
                                             const ReplyChanges& changes);

// A failed socket's first failure tells the truth: for a byte test, the address is the first
// where the bytes the host was given break the test, with the byte wanted there and the byte
// read; for Program, a page that the chip does not hold as asked. Nothing when it does.
std::optional<std::string> failureProblem(Operation operation, const SocketResult& result,
                                          const Eprom& chip, const ImageBuffer& image,
                                          std::int32_t end, const ReplyChanges& changes);

}  // namespace tandra::test
