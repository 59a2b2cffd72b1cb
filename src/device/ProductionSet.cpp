#include "device/ProductionSet.h"

namespace tandra {

const SocketResult* socketVerdict(const std::vector<OperationResult>& operations, int socket) {
  const SocketResult* last = nullptr;
  for (const OperationResult& operation : operations) {
    for (const SocketResult& result : operation.sockets) {
      if (result.socket != socket) continue;
      last = &result;
      if (result.state != SocketResult::State::Passed) return last;
    }
  }
  return last;
}

ChipCount countChips(const std::vector<OperationResult>& operations) {
  ChipCount count;
  for (int socket = 1; socket <= Engine::kSockets; ++socket) {
    const SocketResult* verdict = socketVerdict(operations, socket);
    if (verdict == nullptr || verdict->state == SocketResult::State::Skipped) continue;
    (verdict->state == SocketResult::State::Passed ? count.passed : count.failed) += 1;
  }
  return count;
}

}  // namespace tandra
