// What an operation shows and keeps of its run: the labels at its start, its progress, and at
// its end each socket's result, judged by the one rule for a pass, and the log's summary line.
#include <algorithm>

#include "common/HexText.h"
#include "common/TimeText.h"
#include "device/ControlStates.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "device/OperationTexts.h"
#include "device/Operations.h"
#include "device/SocketImages.h"
#include "device/Verdict.h"
#include "image/ImageBuffer.h"
#include "link/Discovery.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

void Operations::writeInitialSocketTexts(const Texts& texts) {
  for (int socket = 1; socket <= kSockets; ++socket) {
    if (engine_.socketSkipped(socket)) {
      host_.showSocket(socket, "Skipped", SocketLook::Skipped);
    } else {
      host_.showSocket(socket, texts.passed, SocketLook::Running);
    }
  }
}

void Operations::beginProgress(const char* operation) {
  progress_ = Progress{operation, 0, std::int64_t{image_.deviceEndAddress} + 1, 0};
  startedMs_ = host_.monotonicMs();
  // The log tells of this operation alone, and is shown once it is over.
  host_.clearLog();
  showProgress(image_.currentAddress);
}

void Operations::showProgress(std::int64_t reached) {
  progress_.done = std::clamp<std::int64_t>(reached, 0, progress_.total);
  progress_.elapsedMs = host_.monotonicMs() - startedMs_;
  host_.showProgress(progress_);
}

void Operations::endProgress(std::int64_t reached, bool stopped, const Texts* texts) {
  showProgress(reached);
  lastResult_ = OperationResult{};
  lastResult_.operation = progress_.operation;
  lastResult_.stopped = stopped;
  // A reply that was not its command's answer leaves every verdict of the run in doubt.
  lastResult_.repliesInStep = link_.stepFault().empty();
  if (stopped) lastResult_.stopReason = link_.faultLine();
  lastResult_.elapsedMs = progress_.elapsedMs;
  lastResult_.reached = static_cast<std::int32_t>(progress_.done);
  lastResult_.kind = kindOf(texts);
  for (int socket = 1; texts != nullptr && socket <= std::min(settings_.socketCount, kSockets);
       ++socket) {
    SocketResult result = unjudged(socket);
    if (lastResult_.kind == Operation::Program) {
      result.lastPageSent = lastPageSent_[static_cast<std::size_t>(socket - 1)];
    }
    if (result.state != SocketResult::State::Skipped && engine_.socketFailed(socket)) {
      result.state = SocketResult::State::Failed;
      result.words = texts->failure;
      result.failure = engine_.firstFailures[static_cast<std::size_t>(socket - 1)];
    } else if (result.state != SocketResult::State::Skipped && !stopped) {
      result.state = SocketResult::State::Passed;
      result.words = texts->passed;
    }
    lastResult_.sockets.push_back(result);
  }
  // A label is marked passed only where the one rule for a pass says so.
  const ChipPromise promise = ChipPromise::of(lastResult_.kind);
  for (SocketResult& result : lastResult_.sockets) {
    if (result.state != SocketResult::State::Passed) continue;
    const std::optional<ChipVerdict> verdict = judgeChip(promise, {lastResult_}, result.socket);
    if (verdict && verdict->passed()) {
      host_.showSocket(result.socket, texts->passed, SocketLook::Passed);
    } else if (verdict) {
      result = verdict->result;
    }
  }
  // Newest on top: the time, then each failing socket in order.
  for (auto it = lastResult_.sockets.rbegin(); it != lastResult_.sockets.rend(); ++it) {
    if (it->state == SocketResult::State::Failed) {
      host_.insertLogLine("socket " + std::to_string(it->socket) + ": " + it->describe());
    }
  }
  host_.insertLogLine(summaryLine());
  host_.showLog(true);
}

std::string Operations::summaryLine() const {
  std::string line = progress_.operation + " took " + durationText(progress_.elapsedMs);
  if (lastResult_.stopped)
    line += ", stopped at " + hexText(static_cast<std::uint32_t>(progress_.done), 4);
  const auto judged =
      std::count_if(lastResult_.sockets.begin(), lastResult_.sockets.end(),
                    [](const SocketResult& s) { return s.state != SocketResult::State::Skipped; });
  const auto failed =
      std::count_if(lastResult_.sockets.begin(), lastResult_.sockets.end(),
                    [](const SocketResult& s) { return s.state == SocketResult::State::Failed; });
  if (failed > 0) {
    line += ", " + std::to_string(failed) + " of " + std::to_string(judged) + " socket" +
            (judged == 1 ? "" : "s") + " failed";
  }
  // A run that left sockets out says so: a pass on one chip is not a pass on the five.
  const auto skipped = static_cast<std::ptrdiff_t>(lastResult_.sockets.size()) - judged;
  if (skipped > 0) {
    line += ", " + std::to_string(skipped) + " socket" + (skipped == 1 ? "" : "s") + " skipped";
  }
  return line;
}

void Operations::showStopped(std::int32_t address, bool socketLabels) {
  for (int socket = 1; socketLabels && socket <= std::min(settings_.socketCount, kSockets);
       ++socket) {
    if (engine_.socketInPlay(socket)) host_.showSocket(socket, "Stopped", SocketLook::Plain);
  }
  // The Quit caption and the status name the same address: where the run stopped.
  image_.currentAddress = address;
  const std::string at = hexText(static_cast<std::uint32_t>(address), 4);
  if (link_.programmerLost()) {
    // Not a stop the operator can undo by starting again: the programmer is gone from the bus
    // and is reached again only once it has been found anew.
    host_.showStatus("Programmer lost at " + at + kLostAdvice);
    host_.showStatusAdvice(Discovery::kRetryHint);
    return;
  }
  host_.showStatus("Stopped at " + at + "....");
}

SocketResult Operations::unjudged(int socket) const {
  SocketResult result;
  result.socket = socket;
  const bool skipped = engine_.socketSkipped(socket);
  result.state = skipped ? SocketResult::State::Skipped : SocketResult::State::Stopped;
  result.words = skipped ? "Skipped" : "Stopped";
  result.image = images_.nameOf(socket);
  result.serialNumber = images_.serialNumberOf(socket);
  return result;
}

void Operations::notStarted(Operation operation) {
  const Texts* texts = textsOf(operation);
  lastResult_ = OperationResult{};
  lastResult_.operation = texts != nullptr ? texts->name : kMoveName;
  lastResult_.kind = operation;
  lastResult_.stopped = true;
  // Not begun because the operation before it ended early: its reason stands for this one too.
  if (!link_.stopHeld()) {
    lastResult_.stopReason = link_.faultLine();
    lastResult_.repliesInStep = link_.stepFault().empty();
  }
  for (int socket = 1; texts != nullptr && socket <= std::min(settings_.socketCount, kSockets);
       ++socket) {
    lastResult_.sockets.push_back(unjudged(socket));
  }
}

}  // namespace tandra
