#pragma once

#include <cstdint>
#include <vector>

namespace tandra {

class Link;

// The identify reply as it came, piece by piece: what the first-contact check judges the
// firmware's replies by.
struct IdentifyProbe {
  bool answered = false;    // the 8-byte header came, with status 0x00
  std::uint32_t bytes = 0;  // all that came
  int pieces = 0;           // in how many runs the bytes reached the host
  std::int64_t largestGapMs = 0;
  std::uint32_t gapAfter = 0;  // the bytes that had come before the largest gap
  int major = 0;
  int minor = 0;
  bool talking = false;  // the line would not fall quiet before the command could go out
  bool stopped = false;  // a stop was asked while it waited
};

// Sends the identify command to the identified programmer and reads its reply: all 2,056 bytes,
// or until nothing more has come for the reply watchdog's three seconds (the longest any reply
// may pause), noting when each piece came. The first byte, too, must come within three seconds.
// What it found settles the length of this connection's replies.
IdentifyProbe probeIdentify(Link& link);

}  // namespace tandra
