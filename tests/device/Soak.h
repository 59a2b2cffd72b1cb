#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tandra {
struct OperationResult;
}

namespace tandra::test {

struct SoakPlan;
struct SoakRig;

// A seeded random soak of the programmer core: random device types, socket counts, images and
// operations on the virtual programmer, each with faults injected while it runs, and every
// operation held to what an operator relies on. After each one the faults are cleared and the
// chips programmed and verified on the clean link, which must pass. The same seed gives the
// same operations and faults, so a finding is reproduced by running its seed again.
class Soak {
 public:
  enum class Fault {
    LostReply,
    CutReply,
    LateReply,    // one or more replies late, most past the watchdog
    PausedReply,  // a reply that stops half-way and goes on
    CablePulled,  // and put back; the operator then looks for the programmer again
    FailingChip,  // a bit stuck at a random address of a socket in use
    FlippedBit,   // a bit of the chip data inverted on the way
    Quit,         // the operator's Quit, or a stop held until the operation is over
    ShortWrite,   // the driver reports fewer bytes written than were taken
  };
  static constexpr std::size_t kFaultKinds = 9;
  static std::string_view faultName(Fault fault);

  struct Figures {
    std::uint64_t operations = 0;
    std::uint64_t cleanChecks = 0;  // the operations on the clean link after each one
    std::array<std::uint64_t, kFaultKinds> injected{};
    std::uint64_t repliesChanged = 0;  // replies the faults lost, cut, delayed, paused or flipped
    std::uint64_t socketsPassed = 0;
    std::uint64_t socketsFailed = 0;
    std::uint64_t socketsStopped = 0;
    // A socket reported passed whose chip does not hold what was asked, or whose block got no
    // whole reply; a Move that ended with a buffer that is not socket 1's.
    std::uint64_t falsePasses = 0;
    // Passes that no host could have told from a good one: the chip data had a bit flipped on
    // the way exactly where it made a bad byte look good.
    std::uint64_t passesMaskedByFlippedBits = 0;
    std::uint64_t hangs = 0;
    std::uint64_t linksNotRecovered = 0;
    // Results in the wrong shape, failures that name the wrong place or byte, a programmer not
    // idled, packets the programmer's firmware objects to.
    std::uint64_t otherFindings = 0;
    std::int64_t longestOperationMs = 0;  // on the programmer's clock
    bool clean() const {
      return falsePasses == 0 && hangs == 0 && linksNotRecovered == 0 && otherFindings == 0;
    }
  };

  explicit Soak(std::uint32_t seed);
  ~Soak();
  Soak(const Soak&) = delete;
  Soak& operator=(const Soak&) = delete;

  // Runs the next `count` operations.
  void run(std::uint64_t count);

  std::uint32_t seed() const { return seed_; }
  const Figures& figures() const { return figures_; }
  // What broke, one line each, with the operation's number and what it was.
  const std::vector<std::string>& findings() const { return findings_; }

 private:
  void runOne(std::uint64_t number);
  // Draws the operation's faults: those set before it, and actions at the pumps where the
  // others strike.
  void armFaults(SoakPlan& plan, std::mt19937& random);
  // The checks of one operation, what the operator does after it, and the clean check.
  void afterOperation(const SoakPlan& plan, const OperationResult& result);
  void checkResult(const SoakPlan& plan, const OperationResult& result);
  void checkLink(const SoakPlan& plan);
  bool recovered(const SoakPlan& plan);
  void recordFinding(const SoakPlan& plan, std::uint64_t& counter, const std::string& what);
  void rebuildRig();

  std::uint32_t seed_;
  std::unique_ptr<SoakRig> rig_;
  Figures figures_;
  std::vector<std::string> findings_;
};

}  // namespace tandra::test
