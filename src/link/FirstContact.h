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
};

// Sends the identify command to the identified programmer and reads its reply as the protocol
// was first written: all 2,056 bytes, or until nothing more has come for the read time-out,
// noting when each piece came. The first byte must come within the watchdog's three seconds.
IdentifyProbe probeIdentify(Link& link);

}  // namespace tandra
