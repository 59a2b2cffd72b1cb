#include "production/RunStatistics.h"

#include <cstdio>

#include "common/TimeText.h"

namespace tandra {

void RunStatistics::addSet(const SetOutcome& set, std::int64_t elapsedMs) {
  (set.stopped ? setsStopped_ : setsDone_) += 1;
  totalMs_ += elapsedMs;
  for (const ChipVerdict& chip : set.chips) {
    if (!chip.counted()) continue;
    Tally& socket = sockets_.at(static_cast<std::size_t>(chip.result.socket - 1));
    const SocketResult::State state = chip.result.state;
    const bool passed = chip.passed();
    const bool stopped = !passed && state != SocketResult::State::Failed;
    (passed ? chips_.passed : stopped ? chips_.stopped : chips_.failed) += 1;
    (passed ? socket.passed : stopped ? socket.stopped : socket.failed) += 1;
  }
  numbersUsed_ += static_cast<int>(set.numbers.used.size());
  numbersSpent_ += static_cast<int>(set.numbers.spent.size());
}

double RunStatistics::yieldPercent() const {
  const int judged = chips_.passed + chips_.failed;
  return judged == 0 ? 0.0 : 100.0 * chips_.passed / judged;
}

std::int64_t RunStatistics::msPerSet() const {
  const int sets = setsDone_ + setsStopped_;
  return sets == 0 ? 0 : totalMs_ / sets;
}

std::vector<std::string> RunStatistics::summary() const {
  std::vector<std::string> lines;
  char yield[16];
  std::snprintf(yield, sizeof yield, "%.1f", yieldPercent());
  lines.push_back("sets: " + std::to_string(setsDone_) + " done" +
                  (setsStopped_ > 0 ? ", " + std::to_string(setsStopped_) + " stopped" : "") +
                  ", " + durationText(msPerSet()) + " a set");
  lines.push_back(
      "chips: " + std::to_string(chips_.passed) + " passed, " + std::to_string(chips_.failed) +
      " failed" +
      (chips_.stopped > 0 ? ", " + std::to_string(chips_.stopped) + " not judged" : "") +
      "; yield " + yield + " %");
  std::string sockets = "by socket:";
  for (int s = 1; s <= 5; ++s) {
    const Tally& t = socket(s);
    if (t.passed + t.failed + t.stopped == 0) continue;
    sockets += "  " + std::to_string(s) + ": " + std::to_string(t.passed) + " passed, " +
               std::to_string(t.failed) + " failed";
  }
  lines.push_back(sockets);
  if (numbersUsed_ + numbersSpent_ > 0) {
    lines.push_back("serial numbers: " + std::to_string(numbersUsed_) + " on passed chips, " +
                    std::to_string(numbersSpent_) + " spent on chips that did not pass");
  }
  return lines;
}

nlohmann::json RunStatistics::json() const {
  nlohmann::json sockets = nlohmann::json::array();
  for (int s = 1; s <= 5; ++s) {
    const Tally& t = socket(s);
    sockets.push_back(
        {{"socket", s}, {"passed", t.passed}, {"failed", t.failed}, {"stopped", t.stopped}});
  }
  const int judged = chips_.passed + chips_.failed;
  return {{"sets_done", setsDone_},
          {"sets_stopped", setsStopped_},
          {"chips_passed", chips_.passed},
          {"chips_failed", chips_.failed},
          {"chips_stopped", chips_.stopped},
          {"sockets", sockets},
          {"serial_numbers_used", numbersUsed_},
          {"serial_numbers_spent", numbersSpent_},
          {"yield_percent", judged == 0 ? nlohmann::json(nullptr) : nlohmann::json(yieldPercent())},
          {"ms_per_set", msPerSet()}};
}

}  // namespace tandra
