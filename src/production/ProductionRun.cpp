#include "production/ProductionRun.h"

#include <chrono>

#include "device/Session.h"
#include "production/ProductionLog.h"
#include "production/RunRecords.h"

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

bool ProductionRun::logChip(const SetOutcome& outcome, const ChipVerdict& chip) {
  if (log_ == nullptr) return true;
  const int socket = chip.result.socket;
  const ImageBuffer* image = promise_.image.needed ? &session_.socketImages().of(socket) : nullptr;
  const std::string& name = chip.result.image.empty() ? plan_.bufferName() : chip.result.image;
  const std::string line =
      logLine(log_->format(), logFacts_, outcome.set, chip, outcome.operations, image, name,
              isoTime(std::chrono::system_clock::now()), log_->columns());
  return log_->append(line);
}

SetOutcome ProductionRun::runSet(Observer& observer) {
  SetOutcome outcome;
  outcome.set = ++set_;
  const std::int64_t startedMs = session_.host().monotonicMs();
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
  for (int socket = 1; socket <= kSockets; ++socket) {
    // Each chip against where its own image came from.
    ChipPromise promise = promise_;
    promise.image = plan_.standingOf(socket);
    promise.image.needed = promise_.image.needed;
    std::optional<ChipVerdict> verdict = judgeChip(promise, outcome.operations, socket);
    if (!verdict) continue;
    const bool logged = !verdict->counted() || logChip(outcome, *verdict);
    if (!logged) {
      outcome.unlogged.push_back({outcome.set, socket, verdict->result.serialNumber});
      outcome.logError = log_->lastError();
      verdict = judgeChip(promise, outcome.operations, socket, false);
    }
    observer.chipJudged(outcome.set, *verdict);
    countChip(outcome.count, *verdict);
    outcome.chips.push_back(std::move(*verdict));
  }
  try {
    outcome.numbers = plan_.settleSet(session_, outcome.operations, outcome.chips);
  } catch (const LedgerError& error) {
    outcome.numbersError = error.what();
  }
  outcome.elapsedMs = session_.host().monotonicMs() - startedMs;
  return outcome;
}

}  // namespace tandra
