// Reading a reply once its first byte has come: when it is complete.
//
// Completeness is decided by count wherever the reply's length is known, never by silence. A
// read block's reply is the header and the data length it asked for; a page's is the header. A
// reply whose data is not used (idle, identify, a firmware record, the flash check) is as long
// as the firmware makes it: some send the 8-byte header alone, some the header and a 2,048-byte
// block. Which, the identify reply tells once per connection, and every later such reply is
// read to that length. Why: a firmware that pauses in the middle of a reply (a relay settling, a
// voltage, a busy flash) sends the rest later, and a wait that ended on silence would leave that
// rest to be taken for the next replies, shifting every answer after it onto the wrong command.
// A wait that knows its count waits the pause out, however long, as long as bytes keep coming
// within the watchdog's three seconds.
//
// Only the identify reply's length cannot be known before it comes. It is read as far as its
// header and then as long as bytes keep coming: the quiet period, measured from the last byte
// (with --full-waits, the read time-out of the first read, as the protocol was first written).
// More than a header means the full block, and the rest is then read by count. A firmware that
// pauses right after the identify header for longer than that is taken for one that sends
// headers alone; its next reply's rest is then on the line when the next command goes out,
// which stops that run as out of step (no socket of it passes), and from then on its replies
// are read in full. The identify reply is not waited out to the read time-out by default: that
// would cost half a second at every search for the programmer, and the out-of-step check keeps
// the rare pause that fools the quiet period from doing harm.
#include <algorithm>
#include <string>

#include "link/Host.h"
#include "link/Link.h"
#include "link/Trace.h"

namespace tandra {

namespace {

// The longest the rest of a reply may stop for before it is given up on: the reply watchdog's
// period, as for its first byte.
constexpr int kRestGapMs = 3000;

const char* endWord(ReplyEnd end) {
  switch (end) {
    case ReplyEnd::Complete:
      return "complete";
    case ReplyEnd::Quiet:
      return "quiet";
    case ReplyEnd::TimeOut:
      return "time-out";
    case ReplyEnd::Stopped:
      return "stopped";
    case ReplyEnd::Lost:
      return "lost";
  }
  return "?";
}

}  // namespace

std::uint32_t Link::expectedLength(ReplyUse use) const {
  const auto full = static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  if (use == ReplyUse::Data || full == kCommandLength) return full;
  return headerReplyLength_;  // 0 until the identify reply has told
}

void Link::readReply(ReplyUse use) {
  const auto full = static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  if (expected_ == 0) {
    learnReplyLength(full);
  } else {
    // With full waits a reply whose data is not used is read as the protocol was first
    // written, to its full length or the read time-out; by count all the same after that.
    const bool partWait = fullWaits && use == ReplyUse::Header;
    std::uint32_t got = usb_.ReadFTBuffer(partWait ? full : expected_);
    // More than a header came: the firmware sends the block (unless what came is the rest of a
    // reply given up on, which the run that gave up on it has already paid for).
    if (got > expected_ && !inDoubt_) {
      headerReplyLength_ = full;
      expected_ = full;
    }
    if (got > 0) lastByteAtMs_ = host_.monotonicMs();
    readRest(got);
  }
  replyEnded(use);
}

void Link::learnReplyLength(std::uint32_t full) {
  // The header first, by count: its length is known whatever the firmware.
  expected_ = kCommandLength;
  std::uint32_t got = usb_.ReadFTBuffer(kCommandLength);
  if (got > 0) lastByteAtMs_ = host_.monotonicMs();
  readRest(got);
  got = replyLength_;
  if (got < kCommandLength) return;  // no answer: the header did not come
  // The connection's first answer: from here on, bytes nobody waits for are a fault.
  inDoubt_ = false;
  // Then as long as more comes: the quiet period after the last byte, or with full waits the
  // read time-out, as the protocol was first written.
  const std::uint32_t header = got;
  if (fullWaits) {
    got += usb_.ReadFTBuffer(full - got, got);
  } else {
    got = readWhileComing(got, full, quietPeriodMs());
  }
  if (got > header) lastByteAtMs_ = host_.monotonicMs();
  if (got > kCommandLength) {
    headerReplyLength_ = full;
    expected_ = full;
    readRest(got);
    return;
  }
  // The header alone is the whole reply of this firmware, as far as can be told.
  headerReplyLength_ = kCommandLength;
  replyLength_ = got;
  end_ = fullWaits ? ReplyEnd::TimeOut : ReplyEnd::Quiet;
}

std::uint32_t Link::readWhileComing(std::uint32_t got, std::uint32_t full, int quietMs) {
  std::int64_t lastByteAt = host_.monotonicMs();
  while (got < full) {
    if (usb_.GetFTQueueStatus() != ft::Ok) break;
    if (usb_.queueCount() > 0) {
      got += usb_.ReadFTBuffer(std::min(usb_.queueCount(), full - got), got);
      lastByteAt = host_.monotonicMs();
    } else if (host_.monotonicMs() - lastByteAt >= quietMs) {
      break;
    } else {
      host_.waitForEvents(kPollMs);
    }
  }
  return got;
}

void Link::readRest(std::uint32_t got) {
  end_ = ReplyEnd::Complete;
  while (got < expected_) {
    // Quit let the first read collect what came within the read time-out, as it always has.
    if (quitFlag > 0) {
      end_ = ReplyEnd::Stopped;
      break;
    }
    if (usb_.GetFTQueueStatus() != ft::Ok) {
      end_ = ReplyEnd::Lost;
      break;
    }
    if (usb_.queueCount() > 0) {
      got += usb_.ReadFTBuffer(std::min(usb_.queueCount(), expected_ - got), got);
      lastByteAtMs_ = host_.monotonicMs();
    } else if (host_.monotonicMs() - lastByteAtMs_ >= kRestGapMs) {
      end_ = ReplyEnd::TimeOut;
      break;
    } else {
      host_.waitForEvents(kPollMs);
    }
  }
  replyLength_ = got;
}

void Link::replyEnded(ReplyUse use) {
  const auto full = static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  lastReplyHeaderOnly_ =
      use == ReplyUse::Header && full > kCommandLength && expected_ == kCommandLength;
  if (end_ == ReplyEnd::TimeOut && !replyWhole()) {
    const std::string line = "The programmer's reply came incomplete (" +
                             std::to_string(replyLength_) + " of " + std::to_string(expected_) +
                             " bytes): the run stopped.";
    host_.insertLogLine(line);
    recordFault(line);
    // A header and no more where the full block was expected: this firmware sends headers
    // alone after all.
    if (use == ReplyUse::Header && expected_ == full && replyLength_ == kCommandLength) {
      headerReplyLength_ = kCommandLength;
    }
  }
  if (!replyWhole()) {
    inDoubt_ = true;  // its rest may still come
  } else if (clearDoubtAfterReply_) {
    inDoubt_ = false;
  }
  clearDoubtAfterReply_ = false;
  traceReply();
}

void Link::traceReply() const {
  if (trace == nullptr) return;
  trace->event("reply", std::to_string(replyLength_) + " " + std::to_string(expected_) + " " +
                            endWord(end_));
}

}  // namespace tandra
