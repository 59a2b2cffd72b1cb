#include "HonestSoak.h"

#include <random>

#include "HeldUpDriver.h"
#include "SoakChecks.h"
#include "SoakDraws.h"
#include "TestHost.h"
#include "device/Catalogue.h"
#include "device/Session.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

// The session on an honest programmer with realistic timing, behind a host that is held up.
struct HonestRig {
  HonestRig() {
    host.onWatchdog = [this] { session.watchdogFired(); };
    programmer.setRealisticTiming(true);
    programmer.setRecordPackets(false);
  }
  TestHost host;
  VirtualProgrammer programmer{host.clock};
  HeldUpDriver heldUp{programmer, host.clock};
  Session session{heldUp, host.events};
};

namespace {

// How an honest programmer and host behave for one operation: each choice is a condition a
// real desk meets, none a fault.
struct Conditions {
  const Chip* type = nullptr;
  int sockets = 1;
  Operation operation = Operation::Program;
  bool fullLength = false;
  bool fullWaits = false;
  bool ownLatencyTimer = false;  // the chip's own 16 ms
  bool highSpeed = false;
  bool blankPagesAtOnce = false;
  double heldUpChance = 0;  // of each driver call
  // Which replies pause: from the `pauseSkip`+1th on, the opening or the closing idle
  // command's (the one after it follows at once), or the identify reply of a new search.
  enum class PauseAt { Any, OpeningIdle, ClosingIdle, Identify };
  PauseAt pauseAt = PauseAt::Any;
  int pausedReplies = 0;
  std::size_t pauseAfter = 0;
  int pauseMs = 0;
  int pauseSkip = 0;
  int trickledReplies = 0;
  int trickleSkip = 0;

  std::string describe(std::uint64_t number) const {
    static constexpr const char* kNames[] = {"Program", "Blank Check", "Verify", "Move",
                                             "Program Compare"};
    std::string text = "operation " + std::to_string(number) + ": " +
                       kNames[static_cast<int>(operation)] + " " + std::string(type->caption) +
                       " x" + std::to_string(sockets);
    if (fullLength) text += ", full-length replies";
    if (fullWaits) text += ", full waits";
    if (ownLatencyTimer) text += ", 16 ms latency timer";
    if (highSpeed) text += ", high speed";
    if (blankPagesAtOnce) text += ", blank pages at once";
    if (pausedReplies > 0) {
      text += ", " + std::to_string(pausedReplies) + " replies from " +
              (pauseAt == PauseAt::OpeningIdle   ? std::string("the opening idle's")
               : pauseAt == PauseAt::ClosingIdle ? std::string("the closing idle's")
               : pauseAt == PauseAt::Identify    ? std::string("a new search's identify")
                                                 : "the " + std::to_string(pauseSkip + 1) + "th") +
              " paused " + std::to_string(pauseMs) + " ms after " + std::to_string(pauseAfter) +
              " bytes";
    }
    if (trickledReplies > 0) {
      text += ", " + std::to_string(trickledReplies) + " replies from the " +
              std::to_string(trickleSkip + 1) + "th at 4 KB/s";
    }
    if (heldUpChance > 0) text += ", host held up (chance " + std::to_string(heldUpChance) + ")";
    return text;
  }
};

Conditions drawConditions(Random& random) {
  Conditions c;
  c.type = &chips()[static_cast<std::size_t>(
      draw(random, 0, static_cast<int>(chips().size()) - 1))];
  c.sockets = draw(random, 1, kSockets);
  constexpr std::array<Operation, 8> kWeighted = {
      Operation::Program, Operation::Program,    Operation::Verify,         Operation::Verify,
      Operation::Move,    Operation::BlankCheck, Operation::ProgramCompare, Operation::Program};
  c.operation = kWeighted[static_cast<std::size_t>(draw(random, 0, 7))];
  c.fullLength = chance(random, 0.4);
  c.fullWaits = chance(random, 0.2);
  c.ownLatencyTimer = chance(random, 0.3);
  c.highSpeed = chance(random, 0.3);
  c.blankPagesAtOnce = chance(random, 0.3);
  if (chance(random, 0.7)) c.heldUpChance = chance(random, 0.5) ? 0.002 : 0.02;
  if (chance(random, 0.6)) {
    c.pausedReplies = draw(random, 1, 3);
    c.pauseAfter = static_cast<std::size_t>(
        chance(random, 0.5) ? std::array{1, 4, 7, 8, 9, 100, 2000}[static_cast<std::size_t>(
                                  draw(random, 0, 6))]
                            : draw(random, 1, 2055));
    c.pauseMs = chance(random, 0.3) ? draw(random, 2500, 2900) : draw(random, 1, 2500);
    c.pauseSkip = draw(random, 0, 40);
    c.pauseAt = static_cast<Conditions::PauseAt>(draw(random, 0, 3));
  }
  if (chance(random, 0.15)) {
    c.trickledReplies = draw(random, 1, 2);
    c.trickleSkip = draw(random, 0, 40);
  }
  return c;
}

// The chips as the operator put them in: blank, holding the image, holding something else, or
// holding the image but for one bit: each socket's true verdict follows from them.
void prepareChips(VirtualProgrammer& programmer, const ImageBuffer& image, const Conditions& c,
                  Random& random) {
  const std::int32_t end = c.type->endAddress();
  for (int s = 1; s <= kSockets; ++s) {
    programmer.insertChip(s, c.type->caption);
    std::vector<std::uint8_t>& cells = programmer.chip(s).cells();
    const int kind = draw(random, 0, 9);
    for (std::int32_t a = 0; a <= end; ++a) {
      const auto at = static_cast<std::size_t>(a);
      cells[at] = kind < 4 ? 0xFF : kind < 8 ? wantedByte(image, a) : static_cast<std::uint8_t>(a);
    }
    if (kind == 7) {
      const auto at = static_cast<std::size_t>(draw(random, 0, end));
      cells[at] = static_cast<std::uint8_t>(cells[at] ^ (1u << draw(random, 0, 7)));
    }
    if (chance(random, 0.05)) {
      programmer.chip(s).setStuckBit(static_cast<std::uint32_t>(draw(random, 0, end)),
                                     draw(random, 0, 7), chance(random, 0.5));
    }
  }
}

// Whether a socket's chip truly stands as the operation asks: read from the chip itself.
bool truth(Operation operation, const Eprom& chip, const ImageBuffer& image, std::int32_t end) {
  for (std::int32_t a = 0; a <= end; ++a) {
    const std::uint8_t held = chip.read(static_cast<std::uint32_t>(a));
    const Operation promise = operation == Operation::Program ? Operation::Verify : operation;
    if (!passPromise(promise, held, wantedByte(image, a))) return false;
  }
  return true;
}

}  // namespace

HonestSoak::HonestSoak(std::uint32_t seed) : seed_(seed), rig_(std::make_unique<HonestRig>()) {
  rig_->session.connect();
}

HonestSoak::~HonestSoak() = default;

void HonestSoak::run(std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) runOne(figures_.operations + 1);
}

void HonestSoak::runOne(std::uint64_t number) {
  std::seed_seq sequence{seed_, static_cast<std::uint32_t>(number),
                         static_cast<std::uint32_t>(number >> 32), 0x4f4e4553u};
  Random random(sequence);
  HonestRig& rig = *rig_;
  VirtualProgrammer& programmer = rig.programmer;
  const Conditions c = drawConditions(random);
  const auto finding = [&](std::uint64_t& counter, const std::string& what) {
    ++counter;
    findings_.push_back(c.describe(number) + ": " + what);
  };

  programmer.setLatencyTimerRefused(c.ownLatencyTimer);
  programmer.setHighSpeed(c.highSpeed);
  programmer.setBlankPagesAtOnce(c.blankPagesAtOnce);
  rig.session.setFullWaits(c.fullWaits);
  // A firmware sends its replies one way for as long as it runs: another way is another
  // programmer, looked for anew.
  const bool pauseIdentify = c.pausedReplies > 0 && c.pauseAt == Conditions::PauseAt::Identify;
  if (programmer.fullLengthReplies() != c.fullLength || !rig.session.connected() ||
      pauseIdentify) {
    programmer.setFullLengthReplies(c.fullLength);
    if (pauseIdentify) {
      programmer.pauseReplies(1, c.pauseAfter, Clock::Millis(c.pauseMs));
      figures_.pausedReplies += c.pauseAfter < (c.fullLength ? 2056u : 8u) ? 1 : 0;
    }
    rig.session.connect();
  }
  rig.session.select(*c.type, c.sockets);
  fillImage(rig.session.image(), c.type->endAddress(), random);
  prepareChips(programmer, rig.session.image(), c, random);
  const auto pause = [&programmer, &c](int skip) {
    programmer.pauseReplies(c.pausedReplies, c.pauseAfter, Clock::Millis(c.pauseMs), skip);
  };
  int idles = 0;
  rig.heldUp.beforeWrite = [&](const std::uint8_t* packet, std::uint32_t count) {
    if (count != 8 || packet[0] != 0x24 || c.pausedReplies == 0) return;
    ++idles;
    if ((idles == 1 && c.pauseAt == Conditions::PauseAt::OpeningIdle) ||
        (idles == 2 && c.pauseAt == Conditions::PauseAt::ClosingIdle)) {
      pause(0);
    }
  };
  if (c.pausedReplies > 0 && c.pauseAt == Conditions::PauseAt::Any) pause(c.pauseSkip);
  if (c.trickledReplies > 0) {
    // 62 bytes every 15 ms: about 4 KB/s, after the replies to skip.
    programmer.replyFaults().trickleReplies(c.trickledReplies, 62, Clock::Millis(15));
  }
  const std::uint64_t heldUpBefore = static_cast<std::uint64_t>(rig.heldUp.heldUpInAllMs());
  std::bernoulli_distribution heldUp(c.heldUpChance);
  std::uniform_int_distribution<int> heldUpFor(0, 500);
  rig.heldUp.heldUpMs = [&](HeldUpDriver::Call) -> std::int64_t {
    return heldUp(random) ? heldUpFor(random) : 0;
  };
  programmer.clearViolations();
  ++figures_.operations;
  const OperationResult result = rig.session.run(c.operation);
  rig.heldUp.heldUpMs = nullptr;
  rig.heldUp.beforeWrite = nullptr;
  programmer.clearFaults();
  figures_.heldUpMs += static_cast<std::uint64_t>(rig.heldUp.heldUpInAllMs()) - heldUpBefore;
  for (const sim::ReplyFaults::Change& change : programmer.replyFaults().changes()) {
    figures_.pausedReplies += change.kind == sim::ReplyFaults::Kind::Paused ? 1 : 0;
  }
  programmer.replyFaults().clearChanges();
  figures_.trickledReplies += c.trickledReplies > 0 ? 1 : 0;

  if (result.stopped) finding(figures_.stoppedRuns, "stopped: " + result.stopReason);
  for (const std::string& violation : programmer.violations()) {
    finding(figures_.falseAlarms, "the programmer objected: " + violation);
  }
  const std::int32_t end = c.type->endAddress();
  const ImageBuffer& image = rig.session.image();
  if (c.operation == Operation::Move) {
    if (!result.stopped && !truth(Operation::Verify, programmer.chip(1), image, end)) {
      finding(figures_.falsePasses, "the buffer is not socket 1's chip");
    }
    return;
  }
  for (const SocketResult& socket : result.sockets) {
    if (socket.state == SocketResult::State::Skipped) continue;
    const Eprom& chip = programmer.chip(socket.socket);
    const bool passes = truth(c.operation, chip, image, end);
    const bool reported = socket.state == SocketResult::State::Passed;
    const std::string name = "socket " + std::to_string(socket.socket);
    if (reported && !passes) finding(figures_.falsePasses, name + " passed: " + socket.describe());
    if (!reported && passes && !result.stopped) {
      finding(figures_.falseAlarms, name + " " + socket.describe() + " on a good chip");
    }
    if (reported) ++figures_.socketsPassed;
    if (!reported && !passes) ++figures_.socketsFailed;
  }
}

}  // namespace tandra::test
