#include "sim/ReplyFaults.h"

#include <algorithm>

namespace tandra::sim {

void ReplyFaults::cutReplies(int count, std::size_t keep) {
  repliesToCut_ = count;
  cutRepliesTo_ = keep;
}

void ReplyFaults::delayReplies(int count, Clock::Millis delay) {
  repliesToDelay_ = count;
  lateBy_ = delay;
}

void ReplyFaults::pauseReplies(int count, std::size_t keep, Clock::Millis pause, int skip) {
  repliesToPause_ = count;
  repliesBeforePause_ = skip;
  pauseAfter_ = keep;
  pause_ = pause;
}

void ReplyFaults::trickleReplies(int count, std::size_t pieceBytes, Clock::Millis every) {
  repliesToTrickle_ = count;
  trickleBytes_ = pieceBytes;
  trickleEvery_ = every;
}

void ReplyFaults::flipReadBit(int count, std::size_t byte, int bit) {
  repliesToFlip_ = count;
  flipByte_ = byte;
  flipBit_ = bit & 7;
  flipPositions_.reset();
}

void ReplyFaults::flipReadBits(int count, std::uint32_t seed) {
  repliesToFlip_ = count;
  flipPositions_.emplace(seed);
}

void ReplyFaults::clear() {
  repliesToDrop_ = 0;
  repliesToCut_ = 0;
  replyDelay_ = Clock::Millis(0);
  repliesToDelay_ = 0;
  repliesToPause_ = 0;
  repliesBeforePause_ = 0;
  repliesToTrickle_ = 0;
  repliesToFlip_ = 0;
  flipPositions_.reset();
}

void ReplyFaults::flipBit(std::vector<std::uint8_t>& reply, const Addressee& to) {
  const std::size_t length = reply.size() - kReplyHeader;
  std::size_t byte = flipByte_ % length;
  int bit = flipBit_;
  if (flipPositions_) {
    byte = std::uniform_int_distribution<std::size_t>(0, length - 1)(*flipPositions_);
    bit = std::uniform_int_distribution<int>(0, 7)(*flipPositions_);
  }
  reply[kReplyHeader + byte] ^= static_cast<std::uint8_t>(1u << bit);
  changes_.push_back({Kind::FlippedBit, to, byte, bit});
}

std::optional<ReplyFaults::Sending> ReplyFaults::shape(std::vector<std::uint8_t>& reply,
                                                       const Addressee& to) {
  if (repliesToDrop_ > 0) {
    --repliesToDrop_;
    changes_.push_back({Kind::Lost, to});
    return std::nullopt;
  }
  if (repliesToFlip_ > 0 && to.chipData && reply.size() > kReplyHeader) {
    --repliesToFlip_;
    flipBit(reply, to);
  }
  if (repliesToCut_ > 0) {
    --repliesToCut_;
    if (cutRepliesTo_ < reply.size()) {
      reply.resize(cutRepliesTo_);
      changes_.push_back({Kind::Cut, to});
    }
  }
  Sending sending{replyDelay_};
  if (repliesToDelay_ > 0) {
    --repliesToDelay_;
    sending.delay += lateBy_;
    changes_.push_back({Kind::Late, to});
  }
  if (repliesToPause_ > 0 && repliesBeforePause_ > 0) {
    --repliesBeforePause_;
  } else if (repliesToPause_ > 0) {
    --repliesToPause_;
    sending.pauseAfter = pauseAfter_;
    sending.pause = pause_;
    if (pause_.count() > 0 && pauseAfter_ < reply.size()) changes_.push_back({Kind::Paused, to});
  }
  if (repliesToTrickle_ > 0 && trickleBytes_ > 0) {
    --repliesToTrickle_;
    sending.pieceBytes = trickleBytes_;
    sending.every = trickleEvery_;
  }
  return sending;
}

}  // namespace tandra::sim
