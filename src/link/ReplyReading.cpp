// Reading a reply once its first byte has come: when it is complete.
//
// Completeness is decided by count wherever the reply's length is known, never by silence. A
// read block's reply is the header and the data length it asked for; a page's is the header. A
// reply whose data is not used (idle, identify, a firmware record, the flash check) is as long
// as the firmware makes it: some send the 8-byte header alone, some the header and a 2,048-byte
// block. Why it matters: a firmware that pauses in the middle of a reply (a relay settling, a
// voltage, a busy flash) sends the rest later, and a wait that ended on silence would leave that
// rest to be taken for the next replies, shifting every answer after it onto the wrong command.
// A wait that knows its count waits the pause out, however long, as long as bytes keep coming
// within the watchdog's three seconds. Every byte is timed when it is seen, and the clock is
// read before the line is looked at, so a host held up (a loaded computer, a trace written to a
// slow disk) can make a pause look shorter, never longer.
//
// Only the identify reply's length cannot be known before it comes. It is read as far as its
// header and then as long as bytes keep coming: the quiet period after the last byte (with
// --full-waits, the read time-out, as the protocol was first written). More than a header means
// the full block, and the rest is then read by count. A header alone is taken tentatively: a
// firmware may pause after the header for longer than that. Until the question is settled, every
// reply read for its header alone is counted as owing the block it may yet send; bytes that come
// after such replies are taken as those blocks, by count. Before a command whose reply is judged
// (a block's data, a page's status, the flash check's value) the owed blocks must come, or the
// line must stay quiet for the watchdog's three seconds, which settles that this firmware sends
// headers alone. So a pause after a header costs a wait once per connection, never a run.
#include <algorithm>
#include <string>

#include "link/Host.h"
#include "link/Link.h"
#include "link/Trace.h"

namespace tandra {

namespace {

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
  lastByteAtMs_ = host_.monotonicMs();  // the wait has just seen the first byte, or was stopped
  if (expected_ == 0) {
    learnReplyLength(full);
  } else {
    // With full waits a reply whose data is not used is read as the protocol was first
    // written, to its full length or the read time-out; by count all the same after that.
    // While the firmware's reply length is in question, a header is read alone and the block
    // it may owe is taken by count before the next command.
    const bool partWait = fullWaits && use == ReplyUse::Header && lengthSettled_;
    std::uint32_t got = readWithin(0, partWait ? full : expected_, kReadTimeoutMs);
    // More than a header came: the firmware sends the block (unless what came is the rest of a
    // reply given up on, which the run that gave up on it has already paid for).
    if (got > expected_ && !inDoubt_) {
      headerReplyLength_ = full;
      expected_ = full;
    }
    readRest(got);
  }
  replyEnded(use);
}

void Link::learnReplyLength(std::uint32_t full) {
  // The header first, by count: its length is known whatever the firmware.
  expected_ = kCommandLength;
  readRest(readWithin(0, kCommandLength, kReadTimeoutMs));
  std::uint32_t got = replyLength_;
  if (got < kCommandLength) return;  // no answer: the header did not come
  // The connection's first answer: from here on, bytes nobody waits for are a fault.
  inDoubt_ = false;
  // Then as long as more comes: the quiet period after the last byte, or with full waits the
  // read time-out, as the protocol was first written.
  if (fullWaits) {
    got = readWithin(got, full, kReadTimeoutMs);
    // A header alone after the read time-out: asked to wait everything out, the link waits the
    // watchdog's period too, and knows the length from then on.
    if (got == kCommandLength) got = readWhileComing(got, full, kReplyGapMs);
  } else {
    got = readWhileComing(got, full, quietPeriodMs());
  }
  if (got > kCommandLength) {
    headerReplyLength_ = full;
    lengthSettled_ = true;
    expected_ = full;
    readRest(got);
    return;
  }
  // The header alone, as far as can be told yet: the commands whose replies are judged settle
  // it (takeOwedBlocks).
  headerReplyLength_ = kCommandLength;
  lengthSettled_ = fullWaits || full == kCommandLength;
  owedBytes_ = 0;
  replyLength_ = got;
  end_ = fullWaits ? ReplyEnd::TimeOut : ReplyEnd::Quiet;
}

void Link::settleReplyLength(std::uint32_t identifyReplyLength) {
  const auto full = static_cast<std::uint32_t>(kCommandLength + kDefaultReplyDataLength);
  headerReplyLength_ = identifyReplyLength > kCommandLength ? full : kCommandLength;
  lengthSettled_ = true;
  owedBytes_ = 0;
}

std::uint32_t Link::takeQueued(std::uint32_t got, std::uint32_t count) {
  const std::uint32_t took = usb_.ReadFTBuffer(std::min(usb_.queueCount(), count - got), got);
  if (took > 0) lastByteAtMs_ = host_.monotonicMs();
  return got + took;
}

std::uint32_t Link::readWithin(std::uint32_t got, std::uint32_t count, int withinMs) {
  const std::int64_t started = host_.monotonicMs();
  while (got < count) {
    const std::int64_t now = host_.monotonicMs();
    if (usb_.GetFTQueueStatus() != ft::Ok) break;  // the rest of the wait tells of it
    if (usb_.queueCount() > 0) {
      got = takeQueued(got, count);
    } else if (now - started >= withinMs) {
      break;
    } else {
      host_.waitForEvents(kPollMs);
    }
  }
  return got;
}

std::uint32_t Link::readWhileComing(std::uint32_t got, std::uint32_t full, int quietMs) {
  while (got < full) {
    const std::int64_t now = host_.monotonicMs();
    if (usb_.GetFTQueueStatus() != ft::Ok) break;
    if (usb_.queueCount() > 0) {
      got = takeQueued(got, full);
    } else if (now - lastByteAtMs_ >= quietMs) {
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
    if (stopAsked()) {
      end_ = ReplyEnd::Stopped;
      break;
    }
    const std::int64_t now = host_.monotonicMs();
    if (usb_.GetFTQueueStatus() != ft::Ok) {
      end_ = ReplyEnd::Lost;
      break;
    }
    if (usb_.queueCount() > 0) {
      got = takeQueued(got, expected_);
    } else if (now - lastByteAtMs_ >= kReplyGapMs) {
      end_ = ReplyEnd::TimeOut;
      break;
    } else {
      host_.waitForEvents(kPollMs);
    }
  }
  replyLength_ = got;
}

void Link::takeOwedBlocks(bool judged) {
  if (lengthSettled_ || owedBytes_ == 0 || inDoubt_ || connectionState != kIdentified) return;
  const int quitAtStart = quitFlag;
  std::uint32_t taken = 0;
  for (;;) {
    const std::int64_t now = host_.monotonicMs();
    if (usb_.GetFTQueueStatus() != ft::Ok) return;  // the next wait tells of it
    if (usb_.queueCount() > 0) {
      // Bytes after replies read for their header alone: this firmware sends the block behind
      // every header, and these are the blocks those replies owed. Nothing was judged by them.
      const Trace::Draining owed(trace);
      taken += usb_.ReadFTBuffer(std::min(usb_.queueCount(), owedBytes_ - taken));
      lastByteAtMs_ = host_.monotonicMs();
      if (taken < owedBytes_) continue;
      headerReplyLength_ = static_cast<std::uint32_t>(kCommandLength + kDefaultReplyDataLength);
      break;
    }
    if (stopAskedSince(quitAtStart)) {
      inDoubt_ = true;  // what may still come is no answer to anything asked from now on
      return;
    }
    if (taken == 0 && !judged) return;  // nothing judged hangs on it yet
    if (now - lastByteAtMs_ >= kReplyGapMs) {
      if (taken > 0) {
        outOfStep(std::to_string(taken) + " bytes came after a reply's header, not the " +
                  std::to_string(owedBytes_) + " of the block behind it");
        return;
      }
      // Quiet for the watchdog's period after the last header: this firmware sends headers
      // alone.
      headerReplyLength_ = kCommandLength;
      break;
    }
    host_.waitForEvents(kPollMs);
  }
  lengthSettled_ = true;
  owedBytes_ = 0;
}

void Link::replyEnded(ReplyUse use) {
  const auto full = static_cast<std::uint32_t>(kCommandLength + replyDataLength);
  lastReplyHeaderOnly_ =
      use == ReplyUse::Header && full > kCommandLength && expected_ == kCommandLength;
  if (lastReplyHeaderOnly_ && !lengthSettled_ && replyLength_ >= kCommandLength) {
    owedBytes_ += full - kCommandLength;
  }
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
