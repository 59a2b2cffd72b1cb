#include "device/Verdict.h"

#include <algorithm>

#include "device/Engine.h"

namespace tandra {

namespace {

using State = SocketResult::State;

const char* operationName(Operation operation) {
  switch (operation) {
    case Operation::Program:
      return "Program Device";
    case Operation::BlankCheck:
      return "Blank Check";
    case Operation::Verify:
      return "Verify Device";
    case Operation::Move:
      return "Move Device";
    case Operation::ProgramCompare:
      return "Program Compare";
  }
  return "";
}

ChipVerdict fallShort(SocketResult result, Shortfall shortfall, State state, std::string words) {
  result.state = state;
  result.words = std::move(words);
  if (state != State::Failed) result.failure.reset();
  return ChipVerdict{std::move(result), shortfall};
}

// The rule's first half: what the operations themselves found, in the order they ran.
std::optional<ChipVerdict> fromOperations(const std::vector<OperationResult>& operations,
                                          int socket, const SocketResult*& last) {
  bool leftOutEverywhere = true;
  for (const OperationResult& operation : operations) {
    const auto found = std::find_if(operation.sockets.begin(), operation.sockets.end(),
                                    [socket](const SocketResult& s) { return s.socket == socket; });
    if (found == operation.sockets.end()) continue;
    last = &*found;
    if (found->state == State::Skipped) continue;
    leftOutEverywhere = false;
    // Bytes that answered another command say nothing of this chip, good or bad.
    if (!operation.repliesInStep) {
      return fallShort(*found, Shortfall::OutOfStep, State::Stopped,
                       "Stopped: the programmer's replies fell out of step");
    }
    if (found->state == State::Failed) return ChipVerdict{*found, Shortfall::ChipFailed};
    if (operation.stopped || found->state != State::Passed) {
      return fallShort(*found, Shortfall::Stopped, State::Stopped, "Stopped");
    }
  }
  if (last != nullptr && leftOutEverywhere) return ChipVerdict{*last, Shortfall::LeftOut};
  return std::nullopt;
}

}  // namespace

ChipPromise ChipPromise::of(Operation operation) {
  ChipPromise promise;
  promise.image.needed = operation != Operation::BlankCheck;
  promise.operations = {operation};
  return promise;
}

std::optional<std::string> imageShortfall(const ImageStanding& image) {
  if (!image.needed) return std::nullopt;
  if (image.bytesSet <= 0) return "the image sets no byte";
  if (!image.notes.empty() && !image.notesAccepted) {
    return "the image did not load cleanly: " + image.notes;
  }
  return std::nullopt;
}

std::optional<ChipVerdict> judgeChip(const ChipPromise& promise,
                                     const std::vector<OperationResult>& operations, int socket,
                                     bool logWritten) {
  const SocketResult* last = nullptr;
  if (std::optional<ChipVerdict> found = fromOperations(operations, socket, last)) return found;
  if (last == nullptr) return std::nullopt;

  // Every operation promised must have run: a programmed chip that was never verified has not
  // been seen to hold its image.
  for (const Operation promised : promise.operations) {
    const bool ran = std::any_of(operations.begin(), operations.end(),
                                 [&](const OperationResult& o) { return o.kind == promised; });
    if (ran) continue;
    const std::string words = promised == Operation::Verify
                                  ? last->words + ", not verified"
                                  : last->words + ", but " + operationName(promised) + " never ran";
    return fallShort(*last, Shortfall::NotRun, State::Stopped, words);
  }
  if (promise.image.needed && promise.image.bytesSet <= 0) {
    return fallShort(*last, Shortfall::ImageEmpty, State::Failed,
                     "Not passed: the image sets no byte");
  }
  if (const std::optional<std::string> why = imageShortfall(promise.image)) {
    return fallShort(*last, Shortfall::ImageNotClean, State::Failed,
                     "Not passed: the image did not load cleanly");
  }
  if (!promise.optionNotHonoured.empty()) {
    return fallShort(*last, Shortfall::OptionNotHonoured, State::Failed,
                     "Not passed: " + promise.optionNotHonoured);
  }
  if (promise.logWanted && !logWritten) {
    return fallShort(*last, Shortfall::NotLogged, State::Failed,
                     last->words + ", but its log line could not be written");
  }
  return ChipVerdict{*last, Shortfall::None};
}

ChipCount& ChipCount::operator+=(const ChipCount& other) {
  passed += other.passed;
  failed += other.failed;
  stopped += other.stopped;
  return *this;
}

void countChip(ChipCount& count, const ChipVerdict& verdict) {
  if (!verdict.counted()) return;
  switch (verdict.result.state) {
    case State::Passed:
      ++count.passed;
      break;
    case State::Failed:
      ++count.failed;
      break;
    case State::Stopped:
    case State::Skipped:
      ++count.stopped;
      break;
  }
}

ChipCount countChips(const ChipPromise& promise, const std::vector<OperationResult>& operations) {
  ChipCount count;
  for (int socket = 1; socket <= kSockets; ++socket) {
    if (const std::optional<ChipVerdict> verdict = judgeChip(promise, operations, socket)) {
      countChip(count, *verdict);
    }
  }
  return count;
}

}  // namespace tandra
