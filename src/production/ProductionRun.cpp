#include "production/ProductionRun.h"

#include "device/Session.h"

namespace tandra {

ProductionRun::ProductionRun(Session& session, ProductionPlan& plan, ChipPromise promise,
                             bool checkFirst)
    : session_(session), plan_(plan), promise_(std::move(promise)), checkFirst_(checkFirst) {}

std::optional<SetShortfall> ProductionRun::prepareSet() {
  return plan_.composeSet(session_);
}

OperationResult ProductionRun::runOperation(Operation operation) {
  if (operation == Operation::Program && checkFirst_) return session_.programWhereItCan();
  return session_.run(operation);
}

SetOutcome ProductionRun::runSet(Observer& observer) {
  SetOutcome outcome;
  outcome.set = ++set_;
  for (const Operation operation : promise_.operations) {
    if (!observer.mayGoOn()) {
      outcome.stopped = true;
      break;
    }
    outcome.operations.push_back(runOperation(operation));
    const OperationResult& result = outcome.operations.back();
    observer.operationEnded(result);
    if (result.stopped) {
      outcome.stopped = true;
      outcome.programmerLost = !session_.stopped() && !result.stopReason.empty();
      break;
    }
  }
  // Every chip an operation had is judged, whatever ended the set: a chip that was programmed
  // before a stop is still written down.
  for (int socket = 1; socket <= ProductionPlan::kSockets; ++socket) {
    // Each chip against where its own image came from.
    ChipPromise promise = promise_;
    promise.image = plan_.standingOf(socket);
    promise.image.needed = promise_.image.needed;
    std::optional<ChipVerdict> verdict = judgeChip(promise, outcome.operations, socket);
    if (!verdict) continue;
    const bool logged = verdict->counted() ? observer.logChip(outcome.set, *verdict) : true;
    if (!logged) verdict = judgeChip(promise, outcome.operations, socket, false);
    observer.chipJudged(outcome.set, *verdict);
    countChip(outcome.count, *verdict);
    outcome.chips.push_back(std::move(*verdict));
  }
  plan_.settleSet(session_, outcome.chips);
  return outcome;
}

}  // namespace tandra
