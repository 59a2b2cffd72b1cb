#pragma once

#include <optional>
#include <vector>

#include "device/Verdict.h"
#include "production/LogLine.h"
#include "production/ProductionPlan.h"

namespace tandra {

class ProductionLog;
class Session;

// A chip whose line could not be written to the production log.
struct UnloggedChip {
  int set;
  int socket;
  std::optional<std::uint64_t> serialNumber;
};

// What became of one set: its operations as they ran, and every chip's verdict by the rule.
struct SetOutcome {
  int set = 0;
  std::vector<OperationResult> operations;
  std::vector<ChipVerdict> chips;  // one per socket an operation had, left-out ones included
  ChipCount count;
  // A stop (the operator's, a signal, the programmer lost) cut the set short.
  bool stopped = false;
  // An operation ended early without the operator's stop: the programmer stopped answering.
  bool programmerLost = false;
  std::vector<UnloggedChip> unlogged;  // with the reason in `logError`
  std::string logError;
  SerialSettlement numbers;  // what became of the set's serial numbers
  // Why what became of them could not be written down (a ledger that cannot be written).
  std::string numbersError;
  std::int64_t elapsedMs = 0;
};

// Sets one after another on the sockets in use, as a production line runs them: each set's
// images composed by the plan, its operations run, every chip judged by the one rule, its log
// line written before anything else is said of it, and its serial number settled. Both front
// ends run their sets through this.
class ProductionRun {
 public:
  // What a front end does while a set runs.
  class Observer {
   public:
    virtual ~Observer() = default;
    // Before each operation: false ends the set there (a stop was asked for).
    virtual bool mayGoOn() { return true; }
    // An operation has ended.
    virtual void operationEnded(const OperationResult&) {}
    // A chip's verdict, once its log line stands (or could not be written).
    virtual void chipJudged(int /*set*/, const ChipVerdict&) {}
  };

  // `promise`: what every chip must come to. `checkFirst`: a Program is preceded by Program
  // Compare, and a socket whose chip cannot take its image gets no pulse.
  ProductionRun(Session& session, ProductionPlan& plan, ChipPromise promise, bool checkFirst);

  // Each chip's line goes into `log` before the chip is reported anywhere else.
  void keepLog(ProductionLog& log, LogFacts facts) {
    log_ = &log;
    logFacts_ = std::move(facts);
  }
  void setProgrammer(std::string serial) { logFacts_.programmer = std::move(serial); }

  // Composes the next set's images (nothing is sent when that falls short) and runs it.
  std::optional<SetShortfall> prepareSet();
  SetOutcome runSet(Observer& observer);

  const ChipPromise& promise() const { return promise_; }
  int setsRun() const { return set_; }

 private:
  OperationResult runOperation(Operation operation);
  // Writes the chip's line; false when it could not be.
  bool logChip(const SetOutcome& outcome, const ChipVerdict& chip);

  Session& session_;
  ProductionPlan& plan_;
  ChipPromise promise_;
  bool checkFirst_;
  int set_ = 0;
  ProductionLog* log_ = nullptr;
  LogFacts logFacts_;
};

}  // namespace tandra
