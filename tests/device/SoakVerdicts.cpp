// What the soak holds each operation to once it has ended, what the operator does then, and the
// clean check that shows the link has recovered.
#include <algorithm>

#include "Soak.h"
#include "SoakChecks.h"
#include "SoakRig.h"
#include "common/HexText.h"

namespace tandra::test {

namespace {

std::string shortResult(const OperationResult& result) {
  std::string text = result.operation + (result.stopped ? " stopped" : " ended");
  if (!result.stopReason.empty()) text += " (" + result.stopReason + ")";
  for (const SocketResult& socket : result.sockets) {
    if (socket.state != SocketResult::State::Passed) {
      text += "; socket " + std::to_string(socket.socket) + ": " + socket.describe();
    }
  }
  return text;
}

}  // namespace

void Soak::afterOperation(const SoakPlan& plan, const OperationResult& result) {
  SoakRig& rig = *rig_;
  checkResult(plan, result);
  checkLink(plan);
  // From here on the link is clean. The operator lets go of the stop, puts the cable back and,
  // when it was pulled, clicks the status line to look for the programmer again.
  rig.programmer.clearFaults();
  // The operator reads the results; the link is clean once nothing the faults held back is
  // still on its way.
  const Clock::Millis stillComing = rig.programmer.repliesInBy() - rig.host.clock.now();
  rig.host.sleepMs(
      static_cast<int>(std::max(plan.operatorPauseMs, std::int64_t{stillComing.count()})));
  if (plan.stopHeld) rig.session.resume();
  if (rig.programmer.unplugged()) rig.programmer.setUnplugged(false);
  if (plan.cablePulled && !rig.session.connect()) {
    recordFinding(plan, figures_.linksNotRecovered,
                  "the programmer was not found again once the cable was back");
    rebuildRig();
    return;
  }
  if (!recovered(plan)) rebuildRig();
}

void Soak::checkResult(const SoakPlan& plan, const OperationResult& result) {
  SoakRig& rig = *rig_;
  const ReplyChanges& changes = rig.programmer.replyFaults().changes();
  const ImageBuffer& image = rig.session.image();
  figures_.repliesChanged += changes.size();
  for (const std::string& problem : resultProblems(plan.operation, result, plan.sockets)) {
    recordFinding(plan, figures_.otherFindings, problem);
  }
  for (const std::string& problem : unansweredButPassed(result, changes)) {
    recordFinding(plan, figures_.falsePasses, problem);
  }
  for (const SocketResult& socket : result.sockets) {
    if (socket.socket < 1 || socket.socket > VirtualProgrammer::kSockets) continue;
    const Eprom& chip = rig.programmer.chip(socket.socket);
    const std::string name = "socket " + std::to_string(socket.socket);
    if (socket.state == SocketResult::State::Passed) {
      ++figures_.socketsPassed;
      const ChipStanding standing =
          passedSocketStanding(plan.operation, chip, socket.socket, image, plan.end(), changes);
      if (standing.kind == ChipStanding::Kind::Broken) {
        recordFinding(plan, figures_.falsePasses,
                      name + " passed but its chip " + standing.describe());
      }
      figures_.passesMaskedByFlippedBits +=
          standing.kind == ChipStanding::Kind::OnlyFlippedOnTheWay;
    } else if (socket.state == SocketResult::State::Failed) {
      ++figures_.socketsFailed;
      if (const auto problem =
              failureProblem(plan.operation, socket, chip, image, plan.end(), changes)) {
        recordFinding(plan, figures_.otherFindings, name + ": " + *problem);
      }
    } else {
      ++figures_.socketsStopped;
    }
  }
  if (plan.operation == Operation::Move && !result.stopped) {
    const ChipStanding standing =
        movedBufferStanding(rig.programmer.chip(1), image, plan.end(), changes);
    if (standing.kind == ChipStanding::Kind::Broken) {
      recordFinding(plan, figures_.falsePasses, "Move ended but the buffer " + standing.describe());
    }
  }
}

void Soak::checkLink(const SoakPlan& plan) {
  SoakRig& rig = *rig_;
  const std::vector<std::string>& violations = rig.programmer.violations();
  if (!violations.empty()) {
    recordFinding(plan, figures_.otherFindings,
                  "the programmer objected to " + std::to_string(violations.size()) +
                      " packets, first: " + violations.front());
  }
  // An operation that sent anything ends with the idle command. A pulled cable takes that with
  // it; the search after it starts afresh.
  const std::optional<std::uint8_t> last = rig.driver.lastCommandTaken();
  if (!plan.cablePulled && rig.lastCommandsTaken > 0 && last != opcode::Idle) {
    recordFinding(plan, figures_.otherFindings,
                  "the programmer was left with command 0x" + hexByte(last.value_or(0)) +
                      " last, not the idle command");
  }
}

bool Soak::recovered(const SoakPlan& plan) {
  SoakRig& rig = *rig_;
  for (int s = 1; s <= VirtualProgrammer::kSockets; ++s) {
    rig.programmer.insertChip(s, plan.type->caption);  // fresh chips: no stuck bits
  }
  for (const Operation operation : {Operation::Program, Operation::Verify}) {
    rig.programmer.replyFaults().clearChanges();
    rig.programmer.clearViolations();
    rig.forgetShownThings();
    ++figures_.cleanChecks;
    const std::string name = operation == Operation::Program ? "Program" : "Verify";
    OperationResult result;
    try {
      result = rig.run(operation, plan.boundMs());
    } catch (const Hang& hang) {
      recordFinding(plan, figures_.linksNotRecovered,
                    "the clean " + name + " after it: " + hang.what());
      return false;
    }
    for (const SocketResult& socket : result.sockets) {
      const ChipStanding standing =
          passedSocketStanding(operation, rig.programmer.chip(socket.socket), socket.socket,
                               rig.session.image(), plan.end(), {});
      if (socket.state == SocketResult::State::Passed &&
          standing.kind != ChipStanding::Kind::Kept) {
        recordFinding(plan, figures_.falsePasses,
                      "the clean " + name + " after it passed socket " +
                          std::to_string(socket.socket) + " but its chip " + standing.describe());
      }
    }
    if (!result.allPassed() || static_cast<int>(result.sockets.size()) != plan.sockets ||
        !rig.programmer.violations().empty()) {
      recordFinding(
          plan, figures_.linksNotRecovered,
          "the clean " + name + " after it did not pass: " + shortResult(result) +
              (rig.programmer.violations().empty()
                   ? ""
                   : "; the programmer objected: " + rig.programmer.violations().front()));
      return false;
    }
  }
  return true;
}

}  // namespace tandra::test
