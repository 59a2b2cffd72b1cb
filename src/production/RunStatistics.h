#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "production/ProductionRun.h"

namespace tandra {

// What a production run came to, set by set: the sets, the chips passed, failed and left
// unjudged by a stop, each socket's own count (a socket that fails often is a worn one), the
// serial numbers used and spent, the yield and the time a set takes.
class RunStatistics {
 public:
  struct Tally {
    int passed = 0;
    int failed = 0;
    int stopped = 0;
  };

  void addSet(const SetOutcome& set, std::int64_t elapsedMs);

  int setsDone() const { return setsDone_; }
  int setsStopped() const { return setsStopped_; }
  const Tally& chips() const { return chips_; }
  const Tally& socket(int socket) const {
    return sockets_.at(static_cast<std::size_t>(socket - 1));
  }
  int numbersUsed() const { return numbersUsed_; }
  int numbersSpent() const { return numbersSpent_; }
  // Passed of the chips judged, in per cent; nothing before a chip was judged.
  double yieldPercent() const;
  std::int64_t msPerSet() const;

  // The summary as lines for the operator, and as the record's "statistics".
  std::vector<std::string> summary() const;
  nlohmann::json json() const;

 private:
  int setsDone_ = 0;
  int setsStopped_ = 0;
  Tally chips_;
  std::array<Tally, 5> sockets_{};
  int numbersUsed_ = 0;
  int numbersSpent_ = 0;
  std::int64_t totalMs_ = 0;
};

}  // namespace tandra
