#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "link/Clock.h"

namespace tandra::sim {

// Every reply begins with an 8-byte header; chip data follows it.
inline constexpr std::size_t kReplyHeader = 8;

// What can go wrong with the programmer's replies between its firmware and the host, on demand:
// a reply lost, cut short, late, paused half-way, or with a bit of its chip data flipped on the
// way. A counted fault applies to the next replies it fits and is then used up. Every reply it
// changed is recorded with whom it answered, so that a test can tell what the host was really
// told.
class ReplyFaults {
 public:
  // Whom a reply answers: its command, and for a block command the socket and chip address.
  struct Addressee {
    std::uint8_t command = 0;
    int socket = 0;  // 0 for a command to no socket
    std::uint32_t address = 0;
    bool chipData = false;  // the bytes after the header were read from the chip
  };
  enum class Kind { Lost, Cut, Late, Paused, FlippedBit };
  // One reply a fault changed. For a flipped bit: which data byte (from the chip address on)
  // and which bit.
  struct Change {
    Kind kind;
    Addressee to;
    std::size_t byte = 0;
    int bit = 0;
  };
  // How a reply that is not lost leaves the programmer: this long after its command, whole or
  // with its bytes from `pauseAfter` on sent `pause` later.
  struct Sending {
    Clock::Millis delay{0};
    std::size_t pauseAfter = 0;
    Clock::Millis pause{0};
    // Or in pieces of this many bytes, each `every` after the one before (0: not so).
    std::size_t pieceBytes = 0;
    Clock::Millis every{0};
  };

  // The next `count` replies are lost.
  void dropReplies(int count) { repliesToDrop_ = count; }
  // The next `count` replies stop after their first `keep` bytes.
  void cutReplies(int count, std::size_t keep);
  // Every reply starts this long after its command.
  void setReplyDelay(Clock::Millis delay) { replyDelay_ = delay; }
  // The next `count` replies start `delay` after their command (on top of the delay above):
  // past the host's watchdog, a reply that comes once the host has given up on it.
  void delayReplies(int count, Clock::Millis delay);
  // The next `count` replies stop after their first `keep` bytes for `pause`, then go on; with
  // `skip`, the `count` replies after the next `skip` ones (an idle command's at the end of a
  // run, the flash check's after the records).
  void pauseReplies(int count, std::size_t keep, Clock::Millis pause, int skip = 0);
  // The next `count` replies come in pieces of `pieceBytes`, each `every` after the one before:
  // a firmware that writes a long reply slowly.
  void trickleReplies(int count, std::size_t pieceBytes, Clock::Millis every);
  // In the next `count` replies that carry chip data, bit `bit` of data byte `byte` (counted
  // from the block's first byte, wrapping at its length) arrives inverted.
  void flipReadBit(int count, std::size_t byte, int bit);
  // The same at a byte and bit drawn for each reply from a generator seeded with `seed`.
  void flipReadBits(int count, std::uint32_t seed);
  // Every fault off; the record of changes is kept.
  void clear();

  // What the faults make of one reply, header and data: nothing when it is lost, or how it is
  // sent, its bytes changed in place.
  std::optional<Sending> shape(std::vector<std::uint8_t>& reply, const Addressee& to);

  const std::vector<Change>& changes() const { return changes_; }
  void clearChanges() { changes_.clear(); }

 private:
  void flipBit(std::vector<std::uint8_t>& reply, const Addressee& to);

  int repliesToDrop_ = 0;
  int repliesToCut_ = 0;
  std::size_t cutRepliesTo_ = 0;
  Clock::Millis replyDelay_{0};
  int repliesToDelay_ = 0;
  Clock::Millis lateBy_{0};
  int repliesToPause_ = 0;
  int repliesBeforePause_ = 0;
  std::size_t pauseAfter_ = 0;
  Clock::Millis pause_{0};
  int repliesToTrickle_ = 0;
  std::size_t trickleBytes_ = 0;
  Clock::Millis trickleEvery_{0};
  int repliesToFlip_ = 0;
  std::size_t flipByte_ = 0;
  int flipBit_ = 0;
  std::optional<std::mt19937> flipPositions_;  // set: each flip at a drawn position
  std::vector<Change> changes_;
};

}  // namespace tandra::sim
