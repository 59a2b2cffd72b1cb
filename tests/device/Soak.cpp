#include "Soak.h"

#include <algorithm>
#include <random>

#include "SoakChecks.h"
#include "SoakDraws.h"
#include "SoakRig.h"
#include "common/HexText.h"
#include "device/Catalogue.h"

namespace tandra::test {

namespace {

constexpr std::array<std::string_view, 5> kOperationNames = {"Program", "Blank Check", "Verify",
                                                             "Move", "Program Compare"};
std::string_view operationName(Operation operation) {
  return kOperationNames[static_cast<std::size_t>(operation)];
}
bool reads(Operation operation) {
  return operation != Operation::Program;
}

// The message pumps an operation takes on a quiet link: one per block or page, and one per
// reply wait of each socket in it. Faults are armed at a pump drawn up to this.
std::int64_t pumpsExpected(Operation operation, std::int32_t end, int sockets) {
  const int unit = operation == Operation::Program ? Engine::kPageSize : Engine::kBlockSize;
  const int perUnit = 1 + (operation == Operation::Move ? 1 : sockets);
  return (std::int64_t{end} + 1) / unit * perUnit + 4;
}

// How long a reply pauses half-way: any length, from a few milliseconds to past the watchdog,
// in a reply of any length. Replies are complete by count, so a pause is waited out as long as
// bytes keep coming within the watchdog's period, and one longer leaves its reply given up on
// and its operation stopped; either way no pause may shift a reply onto another command.
int pauseMs(Random& random) {
  switch (draw(random, 0, 3)) {
    case 0:
      return draw(random, 1, 40);
    case 1:
      return draw(random, 9, 600);
    case 2:
      return draw(random, 200, 2500);
    default:
      return draw(random, 2900, 4000);
  }
}

// Where in a reply it pauses: in the header, just after it, or deep in the data.
std::size_t pauseAfter(Random& random) {
  constexpr std::array<int, 5> kSpots = {4, 8, 100, 1000, 2000};
  return static_cast<std::size_t>(chance(random, 0.5)
                                      ? kSpots[static_cast<std::size_t>(draw(random, 0, 4))]
                                      : draw(random, 0, 2055));
}

}  // namespace

std::string_view Soak::faultName(Fault fault) {
  static constexpr std::array<std::string_view, kFaultKinds> kNames = {
      "lost reply",   "cut reply",   "late reply", "paused reply", "cable pulled",
      "failing chip", "flipped bit", "quit",       "short write"};
  return kNames[static_cast<std::size_t>(fault)];
}

// A reply lost or cut short ends its wait at the watchdog at the latest, and the run with it.
// The longest an operation may take: a watchdog period and more for every block of every
// socket, as if each of them met one, and the set-ups and idle commands around them.
std::int64_t SoakPlan::boundMs() const {
  const std::int64_t blocks = (std::int64_t{end()} + Engine::kBlockSize) / Engine::kBlockSize;
  return blocks * sockets * (3000 + 600) + 20000;
}

std::string SoakPlan::describe() const {
  std::string text = "operation " + std::to_string(number) + ": " +
                     std::string(operationName(operation)) + " " + std::string(type->caption) +
                     " x" + std::to_string(sockets);
  if (fullLengthReplies) text += " (full-length replies)";
  if (fullWaits) text += " (full waits)";
  for (const std::string& note : notes) text += "; " + note;
  return text;
}

Soak::Soak(std::uint32_t seed) : seed_(seed) {
  rebuildRig();
}

Soak::~Soak() = default;

void Soak::rebuildRig() {
  rig_ = std::make_unique<SoakRig>();
  rig_->session.connect();
}

void Soak::recordFinding(const SoakPlan& plan, std::uint64_t& counter, const std::string& what) {
  ++counter;
  findings_.push_back(plan.describe() + ": " + what);
}

void Soak::run(std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) runOne(figures_.operations + 1);
}

namespace {

// The chips in the sockets before the operation: blank, holding the image, holding something
// else, or one byte away from what the operation wants, so that both verdicts are asked for.
void prepareChips(VirtualProgrammer& programmer, const ImageBuffer& image, Operation operation,
                  std::int32_t end, int sockets, Random& random) {
  const int start = draw(random, 0, 9);
  for (int s = 1; s <= kSockets; ++s) {
    std::vector<std::uint8_t>& cells = programmer.chip(s).cells();
    const bool blank = operation == Operation::BlankCheck ? start < 7
                       : operation == Operation::Program  ? start < 6
                                                          : start < 2;
    const bool other = operation == Operation::Program ? start >= 8 : operation == Operation::Move;
    for (std::int32_t a = 0; a <= end; ++a) {
      cells[static_cast<std::size_t>(a)] = blank   ? 0xFF
                                           : other ? static_cast<std::uint8_t>(random())
                                                   : wantedByte(image, a);
    }
  }
  if (!chance(random, 0.3) || operation == Operation::Program) return;
  // One byte of one socket in use made to fail the operation's test.
  const int s = draw(random, 1, sockets);
  const std::int32_t a = draw(random, 0, end);
  std::uint8_t& cell = programmer.chip(s).cells()[static_cast<std::size_t>(a)];
  const auto bit = static_cast<std::uint8_t>(1u << draw(random, 0, 7));
  cell = operation == Operation::BlankCheck ? static_cast<std::uint8_t>(0xFF & ~bit)
                                            : static_cast<std::uint8_t>(wantedByte(image, a) ^ bit);
}

}  // namespace

void Soak::armFaults(SoakPlan& plan, Random& random) {
  SoakRig& rig = *rig_;
  VirtualProgrammer& programmer = rig.programmer;
  std::vector<Fault> kinds;
  for (std::size_t k = 0; k < kFaultKinds; ++k) {
    const auto fault = static_cast<Fault>(k);
    if (fault != Fault::FlippedBit || reads(plan.operation)) kinds.push_back(fault);
  }
  std::shuffle(kinds.begin(), kinds.end(), random);
  kinds.resize(draw(random, 0, 9) == 0 ? 0 : chance(random, 0.27) ? 2 : 1);
  plan.operatorPauseMs = chance(random, 0.5) ? 0 : draw(random, 1, 8000);

  const auto lastPump = static_cast<int>(pumpsExpected(plan.operation, plan.end(), plan.sockets));
  for (const Fault fault : kinds) {
    // Pump 0: armed before the operation begins, for its first command.
    const int at = chance(random, 0.1) ? 0 : draw(random, 1, lastPump);
    std::string note = std::string(faultName(fault));
    // Counted when it strikes: an operation may end before the pump it was drawn for.
    const auto strike = [&](std::function<void()> act) {
      plan.actions.push_back({at, [this, fault, act] {
                                ++figures_.injected[static_cast<std::size_t>(fault)];
                                act();
                              }});
    };
    const int count = draw(random, 1, 3);
    switch (fault) {
      case Fault::LostReply: {
        const int lost = std::array{1, 1, 2, 3, 1000}[static_cast<std::size_t>(draw(random, 0, 4))];
        note += " x" + std::to_string(lost);
        strike([&programmer, lost] { programmer.dropReplies(lost); });
        break;
      }
      case Fault::CutReply: {
        const auto keep = static_cast<std::size_t>(chance(random, 0.5) ? draw(random, 0, 7)
                                                                       : draw(random, 8, 2055));
        note += " x" + std::to_string(count) + " after " + std::to_string(keep) + " bytes";
        strike([&programmer, count, keep] { programmer.cutReplies(count, keep); });
        break;
      }
      case Fault::LateReply: {
        const Clock::Millis late(chance(random, 0.7) ? draw(random, 3000, 6000)
                                                     : draw(random, 500, 2999));
        note += " x" + std::to_string(count) + " by " + std::to_string(late.count()) + " ms";
        strike([&programmer, count, late] { programmer.replyFaults().delayReplies(count, late); });
        break;
      }
      case Fault::PausedReply: {
        const std::size_t keep = pauseAfter(random);
        const Clock::Millis pause(pauseMs(random));
        note += " x" + std::to_string(count) + " after " + std::to_string(keep) + " bytes for " +
                std::to_string(pause.count()) + " ms";
        strike([&programmer, count, keep, pause] { programmer.pauseReplies(count, keep, pause); });
        break;
      }
      case Fault::CablePulled: {
        const int back = at + draw(random, 1, 2000);
        note += " at pump " + std::to_string(at) + ", put back at pump " + std::to_string(back);
        strike([&programmer, &plan] {
          programmer.setUnplugged(true);
          plan.cablePulled = true;
        });
        plan.actions.push_back({back, [&programmer] { programmer.setUnplugged(false); }});
        break;
      }
      case Fault::FailingChip: {
        const int socket = draw(random, 1, plan.sockets);
        const int address = draw(random, 0, plan.end());
        const int bit = draw(random, 0, 7);
        const bool value = chance(random, 0.5);
        note += " in socket " + std::to_string(socket) + ": bit " + std::to_string(bit) + " at 0x" +
                hexText(static_cast<std::uint32_t>(address), 5) + " stuck at " +
                (value ? "1" : "0");
        programmer.chip(socket).setStuckBit(static_cast<std::uint32_t>(address), bit, value);
        ++figures_.injected[static_cast<std::size_t>(fault)];
        plan.notes.push_back(note);
        continue;  // in the chip from the start
      }
      case Fault::FlippedBit: {
        const auto seed = static_cast<std::uint32_t>(random());
        note += " x" + std::to_string(count) + " (seed " + std::to_string(seed) + ")";
        strike([&programmer, count, seed] { programmer.replyFaults().flipReadBits(count, seed); });
        break;
      }
      case Fault::Quit: {
        const bool held = chance(random, 0.3);
        if (held) note += " held (a stop)";
        strike([&rig, &plan, held] {
          if (held) {
            rig.session.stop();
            plan.stopHeld = true;
          } else {
            rig.session.quit();
          }
        });
        break;
      }
      case Fault::ShortWrite: {
        const auto missing = static_cast<std::uint32_t>(draw(random, 1, 8));
        note += " x" + std::to_string(count) + " by " + std::to_string(missing) + " bytes";
        strike([&programmer, count, missing] { programmer.shortenWrites(count, missing); });
        break;
      }
    }
    if (fault != Fault::CablePulled) note += " at pump " + std::to_string(at);
    plan.notes.push_back(note);
  }
}

void Soak::runOne(std::uint64_t number) {
  std::seed_seq sequence{seed_, static_cast<std::uint32_t>(number),
                         static_cast<std::uint32_t>(number >> 32)};
  Random random(sequence);
  SoakRig& rig = *rig_;
  VirtualProgrammer& programmer = rig.programmer;

  SoakPlan plan;
  plan.number = number;
  plan.type = &chips()[static_cast<std::size_t>(
      draw(random, 0, static_cast<int>(chips().size()) - 1))];
  plan.sockets = draw(random, 1, kSockets);
  constexpr std::array<Operation, 10> kWeighted = {
      Operation::Program,    Operation::Program,        Operation::Program,
      Operation::Verify,     Operation::Verify,         Operation::Verify,
      Operation::BlankCheck, Operation::ProgramCompare, Operation::ProgramCompare,
      Operation::Move};
  plan.operation =
      kWeighted[static_cast<std::size_t>(draw(random, 0, static_cast<int>(kWeighted.size()) - 1))];
  plan.fullLengthReplies = chance(random, 0.25);
  plan.fullWaits = chance(random, 0.2);

  rig.session.select(*plan.type, plan.sockets);
  for (int s = 1; s <= kSockets; ++s) {
    programmer.insertChip(s, plan.type->caption);
  }
  fillImage(rig.session.image(), plan.end(), random);
  prepareChips(programmer, rig.session.image(), plan.operation, plan.end(), plan.sockets, random);
  rig.session.setFullWaits(plan.fullWaits);
  // A firmware sends its replies one way for as long as it runs: another way is another
  // programmer, looked for anew.
  if (programmer.fullLengthReplies() != plan.fullLengthReplies) {
    programmer.setFullLengthReplies(plan.fullLengthReplies);
    rig.session.connect();
  }
  armFaults(plan, random);

  programmer.replyFaults().clearChanges();
  programmer.clearViolations();
  rig.forgetShownThings();
  const std::int64_t bound = plan.boundMs();
  ++figures_.operations;
  std::optional<OperationResult> result;
  try {
    result = rig.run(plan.operation, bound, plan.actions);
  } catch (const Hang& hang) {
    recordFinding(plan, figures_.hangs,
                  std::string(hang.what()) + " (bound " + std::to_string(bound) + " ms)");
    rebuildRig();
    return;
  }
  figures_.longestOperationMs = std::max(figures_.longestOperationMs, rig.lastElapsedMs);
  if (rig.lastElapsedMs > bound) {
    recordFinding(plan, figures_.hangs, "took " + std::to_string(rig.lastElapsedMs) + " ms");
  }
  afterOperation(plan, *result);
}

}  // namespace tandra::test
