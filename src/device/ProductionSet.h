#pragma once

#include <vector>

#include "device/Operations.h"

namespace tandra {

// What became of one socket over the operations of a set (Program Compare, Program, Verify):
// its first result that is not a pass, else its last one; nullptr when no operation had it.
const SocketResult* socketVerdict(const std::vector<OperationResult>& operations, int socket);

// The chips the operations judged: a chip passes when it passed every operation. A socket left
// out held no chip of the run, so it is neither passed nor failed.
struct ChipCount {
  int passed = 0;
  int failed = 0;
};
ChipCount countChips(const std::vector<OperationResult>& operations);

}  // namespace tandra
