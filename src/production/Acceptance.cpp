#include "production/Acceptance.h"

#include <algorithm>

#include "common/HexText.h"
#include "device/Session.h"
#include "device/Verdict.h"

namespace tandra {

std::string_view acceptanceStepName(AcceptanceStep step) {
  switch (step) {
    case AcceptanceStep::BlankCheck:
      return "blank check";
    case AcceptanceStep::Program:
      return "program";
    case AcceptanceStep::Verify:
      return "verify";
    case AcceptanceStep::ReadBack:
      return "read back";
    default:
      return "program compare";
  }
}

void putAcceptancePattern(ImageBuffer& image) {
  for (std::int32_t address = image.deviceStartAddress; address <= image.deviceEndAddress;
       ++address) {
    image[address] = acceptancePatternByte(address);
  }
}

bool AcceptanceResult::passed() const {
  return stopReason.empty() && !sockets.empty() &&
         std::all_of(sockets.begin(), sockets.end(), [](const AcceptanceSocket& socket) {
           return socket.passed() || socket.result == "skipped";
         });
}

AcceptanceRun::AcceptanceRun(Session& session, Operate operate)
    : session_(session), operate_(std::move(operate)) {}

void AcceptanceRun::runAll() {
  results_.clear();
  for (const AcceptanceStep step : kAcceptanceSteps) {
    if (step == AcceptanceStep::ReadBack) {
      results_.push_back(readBack());
      continue;
    }
    // The pattern goes into the buffer before each step that uses it: the read back has just
    // filled the buffer with what a chip held.
    putAcceptancePattern(session_.image());
    const Operation operation = step == AcceptanceStep::BlankCheck ? Operation::BlankCheck
                                : step == AcceptanceStep::Program  ? Operation::Program
                                : step == AcceptanceStep::Verify   ? Operation::Verify
                                                                   : Operation::ProgramCompare;
    results_.push_back(judged(step, operate_([this, operation]() -> const OperationResult& {
                                return session_.run(operation);
                              })));
  }
}

bool AcceptanceRun::passed() const {
  return results_.size() == kAcceptanceSteps.size() &&
         std::all_of(results_.begin(), results_.end(),
                     [](const AcceptanceResult& result) { return result.passed(); });
}

bool AcceptanceRun::stopped() const {
  return std::any_of(results_.begin(), results_.end(),
                     [](const AcceptanceResult& result) { return !result.stopReason.empty(); });
}

AcceptanceResult AcceptanceRun::judged(AcceptanceStep step, const OperationResult& result) const {
  AcceptanceResult judged;
  judged.step = step;
  if (result.stopped) {
    judged.stopReason = result.stopReason.empty() ? "stopped" : result.stopReason;
  }
  // Each socket by the one rule for a pass, the step's operation as the whole promise.
  const ChipPromise promise = ChipPromise::of(result.kind);
  for (const SocketResult& socket : result.sockets) {
    const std::optional<ChipVerdict> verdict = judgeChip(promise, {result}, socket.socket);
    if (!verdict) continue;
    const char* word = verdict->passed()                                      ? "passed"
                       : verdict->shortfall == Shortfall::LeftOut             ? "skipped"
                       : verdict->result.state == SocketResult::State::Failed ? "failed"
                                                                              : "not judged";
    judged.sockets.push_back(
        {.socket = socket.socket, .result = word, .text = verdict->result.describe()});
  }
  return judged;
}

AcceptanceResult AcceptanceRun::readBack() {
  AcceptanceResult result;
  result.step = AcceptanceStep::ReadBack;
  const int inUse = session_.socketsInUse();
  const int count = session_.settings().socketCount;
  for (int socket = 1; socket <= count; ++socket) {
    if ((inUse >> (socket - 1) & 1) == 0) {
      result.sockets.push_back({.socket = socket, .result = "skipped", .text = "Skipped"});
      continue;
    }
    const OperationResult& read =
        operate_([this, socket]() -> const OperationResult& { return session_.read(socket); });
    result.sockets.push_back(compared(socket, read));
    if (read.stopped) {
      result.stopReason = read.stopReason.empty() ? "stopped" : read.stopReason;
      break;
    }
  }
  return result;
}

AcceptanceSocket AcceptanceRun::compared(int socket, const OperationResult& read) const {
  if (read.stopped || !read.repliesInStep) {
    return {.socket = socket, .result = "not judged", .text = "Not read to its end"};
  }
  const ImageBuffer& image = session_.image();
  for (std::int32_t address = image.deviceStartAddress; address <= image.deviceEndAddress;
       ++address) {
    const std::uint8_t expected = acceptancePatternByte(address);
    if (image[address] == expected) continue;
    return {.socket = socket,
            .result = "failed",
            .text = "Read back at 0x" + hexText(static_cast<std::uint32_t>(address), 5) +
                    ": expected 0x" + hexByte(expected) + ", read 0x" + hexByte(image[address])};
  }
  return {.socket = socket, .result = "passed", .text = "Read back OK"};
}

}  // namespace tandra
