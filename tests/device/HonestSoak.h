#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tandra::test {

struct HonestRig;

// A seeded soak of an honest programmer on an unsteady host and line: nothing in it is a fault.
// The firmware sends headers alone or a block behind each, pauses inside replies for up to
// 2.9 s, trickles replies out at 4 KB/s, answers blank pages at once; the USB chip keeps its own
// 16 ms latency timer or takes 2 ms, and sends full-speed or high-speed packets; the host is
// held up for up to half a second after a write (as a trace to a slow pipe holds it), before a
// look at the line and after a read; the operator chooses full waits or not. Every operation
// must end as the chips stand: no run stopped, no socket failed that should pass (a false
// alarm), none passed that should fail.
class HonestSoak {
 public:
  struct Figures {
    std::uint64_t operations = 0;
    std::uint64_t socketsPassed = 0;
    std::uint64_t socketsFailed = 0;  // chips that truly fail: a stuck bit, a wrong byte
    std::uint64_t heldUpMs = 0;       // the host's hold-ups, in all
    std::uint64_t pausedReplies = 0;  // replies that did pause
    std::uint64_t trickledReplies = 0;
    std::uint64_t stoppedRuns = 0;
    std::uint64_t falseAlarms = 0;  // a socket failed, or a run stopped, on a good chip
    std::uint64_t falsePasses = 0;
    bool clean() const { return stoppedRuns == 0 && falseAlarms == 0 && falsePasses == 0; }
  };

  explicit HonestSoak(std::uint32_t seed);
  ~HonestSoak();
  HonestSoak(const HonestSoak&) = delete;
  HonestSoak& operator=(const HonestSoak&) = delete;

  void run(std::uint64_t count);
  const Figures& figures() const { return figures_; }
  // What went wrong, one line each, with the operation and its conditions.
  const std::vector<std::string>& findings() const { return findings_; }

 private:
  void runOne(std::uint64_t number);

  std::uint32_t seed_;
  std::unique_ptr<HonestRig> rig_;
  Figures figures_;
  std::vector<std::string> findings_;
};

}  // namespace tandra::test
