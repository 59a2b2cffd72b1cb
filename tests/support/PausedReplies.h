#pragma once

#include <array>
#include <string>
#include <vector>

namespace tandra::test {

// A firmware that stops in the middle of a reply (a relay settling, a voltage, a busy flash)
// and goes on later: which reply, after how many of its bytes, and for how long. Both front
// ends are held to the same table: no pause may make a socket pass that should not, and the
// operation after it, begun at once, runs in step.
struct PausedReply {
  enum class Reply { Identify, OpeningIdle, ClosingIdle, Record, FlashCheck };
  Reply reply;
  int keep;  // bytes before the pause
  int pauseMs;
  bool fullLength;  // the firmware sends 2,048 bytes after every header
  bool fullWaits;

  std::string describe() const {
    static constexpr std::array<const char*, 5> kNames = {"identify", "opening idle",
                                                          "closing idle", "record", "flash check"};
    return std::string(kNames[static_cast<std::size_t>(reply)]) + " paused after " +
           std::to_string(keep) + " bytes for " + std::to_string(pauseMs) + " ms, " +
           (fullLength ? "full-length" : "header-only") + " replies, " +
           (fullWaits ? "full waits" : "quiet waits");
  }
  bool updates() const { return reply == Reply::Record || reply == Reply::FlashCheck; }
};

// Records in the update file the update cases send.
inline constexpr int kPausedUpdateRecords = 10;

// Every case: each reply, a pause inside the header and after 8, 100, 1,000 and 2,000 bytes,
// for 9 ms to 2.5 s (longer than the read time-out, shorter than the watchdog), both firmware
// kinds, both wait modes. None is a fault: every one is waited out.
inline std::vector<PausedReply> pausedReplyTable() {
  std::vector<PausedReply> table;
  for (int reply = 0; reply < 5; ++reply) {
    for (int keep : {4, 8, 100, 1000, 2000}) {
      for (int pauseMs : {9, 30, 100, 300, 600, 2500}) {
        for (bool fullLength : {false, true}) {
          for (bool fullWaits : {false, true}) {
            table.push_back(
                {static_cast<PausedReply::Reply>(reply), keep, pauseMs, fullLength, fullWaits});
          }
        }
      }
    }
  }
  return table;
}

}  // namespace tandra::test
